#include "web/web_admin_server.h"

#include <cerrno>
#include <system_error>
#include <thread>

#include "core/config.h"
#include "core/log.h"
#include "core/relaunch.h"
#include "platform/net.h"
#include "platform/system.h"
#include "security/digest.h"
#include "security/recovery_code.h"
#include "video/screen_grabber.h"
#include "video/capture_source.h"
#include "video/snapshot.h"
#include "video/stream_producer.h"
#include "web/web_config_api.h"
#include "resources/documents.h"
#include "web/web_resources.h"
#include "web/web_routes.h"

namespace lcx {
namespace {

constexpr char kJsonNotOk[] = "{\"ok\":false}";
constexpr char kJsonRestarting[] = "{\"restarting\":true}";

WebReply Reply(std::string bytes, AfterReply after = AfterReply::kNothing) {
  return WebReply{std::move(bytes), after};
}

WebReply Json(std::string_view status, std::string_view json, AfterReply after = AfterReply::kNothing) {
  return Reply(BuildResponse(status, json, kJsonType), after);
}

// A user name typed by anyone goes into the log the administrator reads:
// no control bytes, so it cannot forge lines of its own.
std::string Printable(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (static_cast<unsigned char>(c) < 32 || c == 127) c = '?';
  }
  return out;
}

}  // namespace

WebHooks DefaultWebHooks() {
  WebHooks hooks;
  hooks.clock = BootTickMs;
  hooks.new_token = [] { return RandomHex(16); };
  hooks.snapshot = CaptureSnapshotJpeg;
  hooks.screen_size = ScreenSizeNow;
  hooks.relaunch = [] { RelaunchSelf(true); };
  hooks.recovery_public_key = RecoveryPublicKey();
  return hooks;
}

WebAdminServer::WebAdminServer(const WebSettings& settings, WebHooks hooks, WebLimits limits)
    : host_address_(settings.host_address),
      machine_id_(settings.machine_id),
      version_(settings.version),
      admin_user_(settings.admin_user),
      // While locked the password in force is a marker of 0x01, "LOCKED-" and
      // the machine identifier, which the login page itself prints: a form
      // can carry that byte, so a locked server holds no password at all.
      admin_password_(settings.password_locked ? std::string() : settings.admin_password),
      web_port_(settings.web_port),
      data_folder_(settings.data_folder),
      config_path_(settings.data_folder + "/lcx.cfg"),
      hooks_(std::move(hooks)),
      limits_(limits),
      start_tick_(hooks_.clock()),
      sessions_(hooks_.clock, hooks_.new_token),
      connections_(limits_.max_connections, limits_.min_reading_before_cut_ms) {
  sessions_.LoadSessions(sessions_path());
}

void WebAdminServer::Run() {
  int error = 0;
  UniqueFd listener = ListenTcp(web_port_, 8, &error);
  if (!listener) {
    LogLine("Web admin bind failed: %d\n", error);
    if (error == EACCES && web_port_ < 1024)
      LogLine("Web: port %d is privileged: allow it with 'setcap cap_net_bind_service=+ep %s' "
              "or choose a web_port above 1023\n",
              web_port_, ExecutablePath().c_str());
    return;
  }
  // The bound port, so a test that asked for port 0 can find the server.
  LogLine("Web Admin ready -> http://%s:%d/  (login: %s)\n", host_address_.c_str(), LocalPort(listener.get()),
          admin_user_.c_str());
  Serve(listener.get());
}

int WebAdminServer::ActiveConnections() { return connections_.Active(); }

void WebAdminServer::Serve(int listen_fd) {
  for (;;) {
    UniqueFd client = AcceptClient(listen_fd, nullptr);
    if (!client) {
      int error = errno;
      if (ListenerGone(error)) return;
      SleepMs(10);  // out of descriptors and the like: do not spin
      continue;
    }
    // Accepted before a place is found, so the backlog keeps moving and an
    // administrator behind a flood reaches the table that cuts the idle.
    const uint64_t id = connections_.Enter(client.get());
    try {
      std::thread([this, id, socket = std::move(client)]() mutable {
        HandleConnection(std::move(socket), id);
      }).detach();
    } catch (const std::system_error&) {
      // No thread to be had: this client is dropped (the socket has closed
      // with the lambda; only this thread cuts, so nothing reaches it), the
      // others are still served.
      connections_.Leave(id);
    }
  }
}

void WebAdminServer::HandleConnection(UniqueFd socket, uint64_t connection_id) {
  const int fd = socket.get();
  // The table's entry goes before the descriptor closes (see web_connections.h).
  auto close = [&] {
    if (connection_id != 0) connections_.Leave(connection_id);
    socket.reset();
  };
  WebRequest request;
  WebRead read = ReadWebRequest(fd, limits_, request);
  if (connection_id != 0) connections_.DoneReading(connection_id);
  if (read != WebRead::kComplete) {
    std::string failure = ReadFailureReply(read);
    if (!failure.empty()) SendAnswer(fd, failure, limits_);
    return close();
  }
  WebReply reply = Answer(request);
  SendAnswer(fd, reply.bytes, limits_);
  if (reply.after == AfterReply::kNothing) return close();
  // The answer must reach the browser before this process is replaced.
  ShutdownWrite(fd);
  close();
  if (reply.after == AfterReply::kSaveSessionsAndRelaunch && !sessions_.SaveSessions(sessions_path())) {
    LogLine("Web: sessions not saved; the browser will have to log in again\n");
  }
  hooks_.relaunch();
}

std::string WebAdminServer::LoginPage(bool error) const {
  return BuildLoginPage(LoginPageTemplate(), machine_id_, error);
}

WebReply WebAdminServer::Answer(const WebRequest& request) {
  const WebRouteEntry& route = MatchWebRoute(request.method, request.path);
  if (route.needs_session && !sessions_.CheckSession(request.head, route.touches_session)) {
    return Reply(UnauthenticatedReply(request.method, request.path));
  }
  switch (route.route) {
    case WebRoute::kLoginPage:
      return Reply(BuildResponse("200 OK", LoginPage(false), kHtmlType));
    case WebRoute::kLogin:
      return Login(request);
    case WebRoute::kLogout:
      sessions_.EndSession(request.head);
      return Reply(LogoutRedirect());
    case WebRoute::kRecover:
      return Recover(request);
    case WebRoute::kLoginBackground:
      return Reply(LoginBackgroundReply(LoginBackgroundJpeg()));
    case WebRoute::kEula:
      return Reply(EulaReply(EulaHtml()));
    case WebRoute::kPing:
      return Json("200 OK", "{\"ok\":true}");
    case WebRoute::kLog:
      return Reply(BuildResponse("200 OK", ReadLog(), kTextType));
    case WebRoute::kSnapshot: {
      std::vector<uint8_t> jpeg = hooks_.snapshot();
      return Reply(SnapshotReply(std::string_view(reinterpret_cast<const char*>(jpeg.data()), jpeg.size())));
    }
    case WebRoute::kConfigJson:
      return ConfigJson();
    case WebRoute::kAdminPage:
      return Reply(BuildResponse("200 OK", AdminPageHtml(), kHtmlType));
    case WebRoute::kSave: {
      std::string error = WriteSettingsSave(config_path_, PlanSettingsSave(ParseForm(request.body)));
      return Json(error.empty() ? "200 OK" : "400 Bad Request", SaveAnswerJson(error));
    }
    case WebRoute::kRestart:
      return Json("202 Accepted", kJsonRestarting, AfterReply::kSaveSessionsAndRelaunch);
    case WebRoute::kRestore:
      return Restore(request);
    case WebRoute::kStream:
      return Stream(request);
    case WebRoute::kShareScreenOffered:
      return Json("200 OK", CaptureIsPortal() ? "{\"offered\":true}" : "{\"offered\":false}");
    case WebRoute::kShareScreen:
      if (!CaptureIsPortal()) return Json("409 Conflict", "{\"ok\":false}");
      LogLine("Web: sharing the screen asked again by admin\n");
      AskToShareScreenAgain();
      return Json("200 OK", "{\"ok\":true}");
    case WebRoute::kNotFound:
      break;
  }
  return Reply(BuildResponse("404 Not Found", "not found", kTextType));
}

WebReply WebAdminServer::Login(const WebRequest& request) {
  if (sessions_.IsLockedOut()) return Reply(BuildResponse("429 Too Many Requests", LoginPage(true), kHtmlType));
  WebForm form = ParseForm(request.body);
  std::string user = FormValue(form, "user");
  bool ok = CheckCredentials(admin_user_, admin_password_, user, FormValue(form, "pass"));
  sessions_.RecordAttempt(ok);
  if (!ok) {
    LogLine("Web: failed login attempt (user=%s)\n", Printable(user).c_str());
    return Reply(BuildResponse("401 Unauthorized", LoginPage(true), kHtmlType));
  }
  std::string token = sessions_.CreateSession();
  if (token.empty()) {
    LogLine("Web: no random bytes for a session token; login refused\n");
    return Reply(BuildResponse("503 Service Unavailable", LoginPage(true), kHtmlType));
  }
  return Reply(LoginRedirect(token));
}

WebReply WebAdminServer::Recover(const WebRequest& request) {
  if (sessions_.IsLockedOut()) return Json("429 Too Many Requests", kJsonNotOk);
  bool valid = VerifyRecoveryCode(FormValue(ParseForm(request.body), "code"), machine_id_,
                                  hooks_.recovery_public_key);
  sessions_.RecordAttempt(valid);
  if (!valid) return Json("400 Bad Request", kJsonNotOk);
  if (!ResetCredentialsToDefault(config_path_)) return Json("500 Internal Server Error", RestoreFailureJson());
  LogLine("Web: password recovered via vendor HWID code -> reset to admin/admin\n");
  return Json("200 OK", "{\"ok\":true}", AfterReply::kRelaunch);
}

WebReply WebAdminServer::Restore(const WebRequest& request) {
  if (sessions_.IsLockedOut()) return Json("429 Too Many Requests", kJsonNotOk);
  WebForm form = ParseForm(request.body);
  bool ok = CheckCredentials(admin_user_, admin_password_, FormValue(form, "user"), FormValue(form, "pass"));
  sessions_.RecordAttempt(ok);
  if (!ok) return Json("401 Unauthorized", kJsonNotOk);
  if (!WriteDefaultConfigAt(config_path_, ConfigTemplate::kWeb)) {
    LogLine("Web: could not restore the defaults into %s\n", config_path_.c_str());
    return Json("500 Internal Server Error", RestoreFailureJson());
  }
  return Json("202 Accepted", kJsonRestarting, AfterReply::kRelaunch);
}

WebReply WebAdminServer::ConfigJson() {
  ConfigJsonState state;
  state.ip = host_address_;
  state.version = version_;
  state.hwid = machine_id_;
  if (!hooks_.screen_size(&state.screen_width, &state.screen_height)) state.screen_width = state.screen_height = 0;
  state.uptime_s = (hooks_.clock() - start_tick_) / 1000;
  state.paused = StreamPaused.load();
  return Reply(ConfigJsonReply(BuildConfigJson(LoadConfig(config_path_), state)));
}

WebReply WebAdminServer::Stream(const WebRequest& request) {
  bool pause = request.body.find("on=1") == std::string::npos;
  StreamPaused.exchange(pause);
  LogLine("Web: stream %s by admin\n", pause ? "STOPPED" : "RESUMED");
  return Json("200 OK", StreamPaused.load() ? "{\"paused\":true}" : "{\"paused\":false}");
}

}  // namespace lcx
