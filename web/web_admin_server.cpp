#include "web/web_admin_server.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>

#include "core/log.h"
#include "core/relaunch.h"
#include "platform/accept_loop.h"
#include "platform/host_addresses.h"
#include "platform/net.h"
#include "platform/net_info.h"
#include "platform/system.h"
#include "security/digest.h"
#include "security/recovery_code.h"
#include "security/self_signed_cert.h"
#include "video/screen_grabber.h"
#include "video/capture_source.h"
#include "video/snapshot.h"

namespace lcx {

WebHooks DefaultWebHooks() {
  WebHooks hooks;
  hooks.clock = BootTickMs;
  hooks.new_token = [] { return RandomHex(16); };
  hooks.snapshot = CaptureSnapshotJpeg;
  hooks.screen_size = ScreenSizeNow;
  hooks.relaunch = [] { RelaunchSelf(true); };
  hooks.recovery_public_key = RecoveryPublicKey();
  hooks.host_name = HostName;
  hooks.addresses = AllInterfaceAddresses;
  return hooks;
}

HttpLimits WebHttpLimits(const WebLimits& limits) {
  HttpLimits http;
  http.max_head_bytes = limits.max_header_bytes;
  http.max_body_bytes = limits.max_body_bytes;
  http.receive_timeout_ms = limits.receive_timeout_ms;
  http.request_deadline_ms = limits.request_deadline_ms;
  http.send_timeout_ms = limits.send_timeout_ms;
  http.answer_deadline_ms = limits.answer_deadline_ms;
  http.refuse_short_body = true;
  http.keep_bytes_beyond_length = false;
  return http;
}

TlsFiles PrepareTlsFiles(const WebSettings& settings) {
  if (!settings.cert_file.empty() && !settings.key_file.empty()) return {settings.cert_file, settings.key_file};
  TlsFiles files{settings.data_folder + "/web_cert.pem", settings.data_folder + "/web_key.pem"};
  if (FileExists(files.cert) && FileExists(files.key)) return files;
  const std::string host = HostName();
  std::vector<std::string> names;
  if (!host.empty()) names = {host, host + ".local"};
  names.push_back("localhost");
  std::optional<CertificatePair> pair = MakeSelfSignedCertificate(names, HostAddresses(), 3650);
  // The key first: a certificate without its key beside it would be kept
  // and never work.
  if (!pair || ReplaceFileContents(files.key, pair->key_pem) != FileWriteResult::kWritten ||
      ReplaceFileContents(files.cert, pair->cert_pem) != FileWriteResult::kWritten) {
    LogLine("Web: could not make the HTTPS certificate in %s: %s\n", settings.data_folder.c_str(),
            std::strerror(errno));
    return {};
  }
  LogLine("Web: made a self-signed HTTPS certificate for %s\n", host.c_str());
  return files;
}

WebAdminServer::WebAdminServer(const WebSettings& settings, WebHooks hooks, WebLimits limits)
    : panel_(settings, std::move(hooks)),
      web_port_(settings.web_port),
      tls_wanted_(settings.tls),
      limits_(limits),
      connections_(limits_.max_connections, limits_.min_reading_before_cut_ms) {
  panel_.sessions.LoadSessions(panel_.sessions_path());
  if (tls_wanted_) {
    TlsFiles files = PrepareTlsFiles(settings);
    std::string error = "no certificate";
    if (!files.cert.empty()) tls_ = TlsContext::FromPemFiles(files.cert, files.key, &error);
    if (!tls_) LogLine("Web: HTTPS unavailable (%s): %s; the panel stays closed\n", files.cert.c_str(), error.c_str());
  }
}

void WebAdminServer::Run() {
  // Asked for HTTPS, the password must never travel in clear instead.
  if (tls_wanted_ && !tls_) return;
  int error = 0;
  const char* call = "bind";
  UniqueFd listener = ListenTcp(web_port_, 8, &error, &call);
  if (!listener) {
    LogLine("Web admin %s failed: %d (%s), port %d\n", call, error, std::strerror(error), web_port_);
    if (error == EACCES && web_port_ < 1024)
      LogLine("Web: port %d is privileged: allow it with 'setcap cap_net_bind_service=+ep %s' "
              "or choose a web_port above 1023\n",
              web_port_, ExecutablePath().c_str());
    return;
  }
  // The bound port, so a test that asked for port 0 can find the server.
  LogLine("Web Admin ready -> %s://%s:%d/  (login: %s)\n", tls_ ? "https" : "http", panel_.host_address.c_str(),
          LocalPort(listener.get()), panel_.admin_user.c_str());
  Serve(listener.get());
}

void WebAdminServer::Serve(int listen_fd) {
  ServeThroughTable(listen_fd, connections_, threads_,
                    [this](int fd, uint64_t id) { return HandleConnection(fd, id); });
}

std::function<void()> WebAdminServer::HandleConnection(int fd, uint64_t connection_id) {
  const HttpLimits http = WebHttpLimits(limits_);
  SocketChannel plain(fd);
  std::unique_ptr<TlsChannel> secure;
  if (tls_) {
    // The handshake is part of reading the request: the same budgets, and
    // the connection table may cut it as a slow reader.
    std::string why;
    secure = TlsChannel::Accept(fd, *tls_, std::min(http.receive_timeout_ms, http.request_deadline_ms), &why);
    if (!secure) {
      connections_.DoneReading(connection_id);
      // A browser that does not trust the certificate yet fails every
      // handshake: said once, not per connection.
      static std::once_flag logged;
      std::call_once(logged, [&] { LogLine("Web: a TLS handshake failed: %s\n", why.c_str()); });
      return {};
    }
  }
  ByteChannel& channel = secure ? static_cast<ByteChannel&>(*secure) : plain;
  HttpRequest read;
  const HttpRead outcome = ReadHttpRequest(channel, http, read);
  connections_.DoneReading(connection_id);
  if (outcome != HttpRead::kComplete) {
    std::string failure = ReadFailureReply(outcome);
    if (!failure.empty()) RefuseAndDrain(channel, http, failure);
    return {};
  }
  WebRequest request = ToWebRequest(std::move(read));
  request.peer = PeerAddress(fd);
  request.local = SocketAddress(fd);
  WebReply reply = Answer(request);
  if (reply.delay_ms > 0) SleepMs(reply.delay_ms);
  SendHttpAnswer(channel, http, reply.bytes);
  if (reply.after == AfterReply::kNothing) {
    if (secure) secure->ShutdownWrite();
    return {};
  }
  // The answer must reach the browser before this process is replaced: the
  // relaunch runs once the connection is closed.
  channel.ShutdownWrite();
  return [this, after = reply.after] {
    if (after == AfterReply::kSaveSessionsAndRelaunch && !panel_.sessions.SaveSessions(panel_.sessions_path())) {
      LogLine("Web: sessions not saved; the browser will have to log in again\n");
    }
    panel_.hooks.relaunch();
  };
}

}  // namespace lcx
