#include "onvif/onvif_service.h"

#include <cerrno>
#include <memory>
#include <system_error>
#include <thread>
#include <vector>

#include "core/log.h"
#include "onvif/onvif_auth.h"
#include "onvif/onvif_connections.h"
#include "onvif/onvif_operations.h"
#include "onvif/onvif_request.h"
#include "platform/net.h"
#include "platform/system.h"

#include "video/snapshot.h"

namespace lcx {
namespace {

constexpr const char* kEnvelopePrologue =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?><env:Envelope"
    " xmlns:env=\"http://www.w3.org/2003/05/soap-envelope\""
    " xmlns:tds=\"http://www.onvif.org/ver10/device/wsdl\""
    " xmlns:trt=\"http://www.onvif.org/ver10/media/wsdl\""
    " xmlns:ter=\"http://www.onvif.org/ver10/error\""
    " xmlns:tt=\"http://www.onvif.org/ver10/schema\"><env:Body>";

constexpr const char* kNotAuthorizedFault =
    "<env:Fault><env:Code><env:Value>env:Sender</env:Value><env:Subcode><env:Value>ter:NotAuthorized</env:Value>"
    "</env:Subcode></env:Code><env:Reason><env:Text xml:lang=\"en\">Sender not authorized</env:Text></env:Reason>"
    "</env:Fault>";

std::string Challenge(const OnvifService& service) {
  return std::string("WWW-Authenticate: Digest realm=\"") + kOnvifRealm + "\", qop=\"auth\", nonce=\"" +
         service.digest_nonce + "\"\r\n";
}

bool EncodeSnapshot(int width, int height, std::vector<uint8_t>& jpeg) {
  return EncodeScreenJpeg(width, height, jpeg);
}

void AnswerSnapshot(const OnvifService& service, std::string_view request, int fd) {
  if (service.auth_enabled &&
      !CheckHttpAuth(request, "GET", kOnvifRealm, service.digest_nonce, service.user, service.password)) {
    SendAll(fd, SnapshotChallenge(service));
    return;
  }
  std::vector<uint8_t> jpeg;
  if (EncodeSnapshot(service.width, service.height, jpeg) && !jpeg.empty()) {
    SendAll(fd, "HTTP/1.1 200 OK\r\nContent-Type: image/jpeg\r\nCache-Control: no-cache\r\nContent-Length: " +
                    std::to_string(jpeg.size()) + "\r\nConnection: close\r\n\r\n");
    SendAll(fd, jpeg.data(), jpeg.size());
    return;
  }
  SendAll(fd, "HTTP/1.1 500 Internal Server Error\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
}

// Answers a request we refuse to read in full, then lets the peer see the
// answer: closing with unread bytes queued would reset the connection and
// could destroy the answer before the peer reads it.
void RefuseOversized(int fd, const char* status) {
  SendAll(fd, std::string("HTTP/1.1 ") + status + "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
  ShutdownWrite(fd);
  constexpr uint64_t kDrainMs = 500;
  const uint64_t deadline = BootTickMs() + kDrainMs;
  char sink[4096];
  for (int i = 0; i < 64; ++i) {
    uint64_t now = BootTickMs();
    if (now >= deadline) break;
    SetReceiveTimeoutMs(fd, static_cast<int>(deadline - now));
    if (ReceiveSome(fd, sink, sizeof sink) <= 0) break;
  }
}

// Reads one request and answers it; the caller closes the socket.
void ServeOneRequest(const OnvifService& service, int fd, OnvifConnectionTable* table, uint64_t id) {
  // A peer that stops reading must not hold its thread for ever (a snapshot
  // is larger than the socket buffers).
  SetSendTimeoutMs(fd, service.limits.send_timeout_ms);
  OnvifRequest request;
  RequestRead read = ReadOnvifRequest(fd, service.limits, request);
  if (table) table->DoneReading(id);
  switch (read) {
    case RequestRead::kNoHeader:
      return;
    case RequestRead::kHeaderTooLarge:
      LogLine("ONVIF: request header over %zu bytes refused\n", service.limits.max_request_bytes);
      RefuseOversized(fd, "431 Request Header Fields Too Large");
      return;
    case RequestRead::kBodyTooLarge:
      LogLine("ONVIF: request over %zu bytes refused\n", service.limits.max_request_bytes);
      RefuseOversized(fd, "413 Payload Too Large");
      return;
    case RequestRead::kComplete:
      break;
  }
  if (IsSnapshotRequest(request.text)) {
    AnswerSnapshot(service, request.text, fd);
    return;
  }
  SendAll(fd, AnswerSoapCall(service, request.text, request.Body()));
}

bool ListenerGone(int error) { return error == EBADF || error == EINVAL || error == ENOTSOCK; }

}  // namespace

OnvifService& GetOnvifService() {
  static OnvifService service;
  return service;
}

std::string WrapSoapEnvelope(std::string_view body) {
  std::string out = kEnvelopePrologue;
  out.append(body);
  out.append("</env:Body></env:Envelope>");
  return out;
}

void ReplaceAll(std::string& text, std::string_view placeholder, std::string_view value) {
  if (placeholder.empty()) return;
  size_t pos = 0;
  while ((pos = text.find(placeholder, pos)) != std::string::npos) {
    text.replace(pos, placeholder.size(), value);
    pos += value.size();
  }
}

void SubstitutePlaceholders(const OnvifService& service, std::string& envelope) {
  ReplaceAll(envelope, "{IP}", service.ip);
  ReplaceAll(envelope, "{ONVIFPORT}", std::to_string(service.onvif_port));
  ReplaceAll(envelope, "{RTSPPORT}", std::to_string(service.rtsp_port));
  ReplaceAll(envelope, "{SUBSTREAM}", service.sub_stream_name);
  ReplaceAll(envelope, "{STREAM}", service.stream_name);
  ReplaceAll(envelope, "{W}", std::to_string(service.width));
  ReplaceAll(envelope, "{H}", std::to_string(service.height));
  ReplaceAll(envelope, "{FPS}", std::to_string(service.fps));
}

bool IsSnapshotRequest(std::string_view request) {
  return request.substr(0, 4) == "GET " && request.find("napshot") != std::string_view::npos;
}

std::string SnapshotChallenge(const OnvifService& service) {
  return "HTTP/1.1 401 Unauthorized\r\n" + Challenge(service) + "Content-Length: 0\r\nConnection: close\r\n\r\n";
}

std::string AnswerSoapCall(const OnvifService& service, std::string_view request, std::string_view body) {
  bool authorised = !service.auth_enabled || !IsProtectedOperation(body) || CheckWsSecurity(service, body) ||
                    CheckHttpAuth(request, "POST", kOnvifRealm, service.digest_nonce, service.user, service.password);
  if (!authorised) {
    std::string envelope = WrapSoapEnvelope(kNotAuthorizedFault);
    return "HTTP/1.1 401 Unauthorized\r\n" + Challenge(service) +
           "Content-Type: application/soap+xml; charset=utf-8\r\nContent-Length: " + std::to_string(envelope.size()) +
           "\r\nConnection: close\r\n\r\n" + envelope;
  }
  std::string envelope = DispatchOnvifOperation(service, body);
  SubstitutePlaceholders(service, envelope);
  return "HTTP/1.1 200 OK\r\nContent-Type: application/soap+xml; charset=utf-8\r\nContent-Length: " +
         std::to_string(envelope.size()) + "\r\nConnection: close\r\n\r\n" + envelope;
}

void HandleOnvifConnection(const OnvifService& service, UniqueFd socket) {
  ServeOneRequest(service, socket.get(), nullptr, 0);
}

void ServeOnvifConnections(const OnvifService& service, int listen_fd) {
  auto table = std::make_shared<OnvifConnectionTable>(service.limits.max_connections,
                                                      service.limits.min_idle_before_evict_ms);
  for (;;) {
    UniqueFd client = AcceptClient(listen_fd, nullptr);
    if (!client) {
      int error = errno;
      if (ListenerGone(error)) return;
      SleepMs(10);  // out of descriptors and the like: do not spin
      continue;
    }
    int fd = client.get();
    uint64_t id = table->Enter(fd);
    try {
      std::thread([&service, table, id, socket = std::move(client)]() mutable {
        ServeOneRequest(service, socket.get(), table.get(), id);
        table->Leave(id);  // before the descriptor closes, see the table's note
        socket.reset();
      }).detach();
    } catch (const std::system_error&) {
      // No thread to be had: drop this client, keep serving the others. The
      // lambda was never built, so the socket is still ours.
      table->Leave(id);
      client.reset();
    }
  }
}

void RunOnvifHttp(OnvifService& service) {
  int error = 0;
  UniqueFd listener = ListenTcp(static_cast<uint16_t>(service.onvif_port), 8, &error);
  if (!listener) {
    LogLine("ONVIF bind failed: %d\n", error);
    return;
  }
  LogLine("ONVIF HTTP ready -> http://%s:%d/onvif/device_service\n", service.ip.c_str(), service.onvif_port);
  ServeOnvifConnections(service, listener.get());
}

}  // namespace lcx
