#include "web/web_answers.h"

#include "core/config.h"
#include "core/log.h"
#include "resources/documents.h"
#include "security/recovery_code.h"
#include "video/stream_producer.h"
#include "web/web_config_api.h"
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

std::string LoginPage(const WebPanel& panel, bool error) {
  return BuildLoginPage(LoginPageTemplate(), panel.machine_id, error);
}

WebReply Login(WebPanel& panel, const WebRequest& request) {
  if (panel.sessions.IsLockedOut()) {
    return Reply(BuildResponse("429 Too Many Requests", LoginPage(panel, true), kHtmlType));
  }
  WebForm form = ParseForm(request.body);
  std::string user = FormValue(form, "user");
  bool ok = CheckCredentials(panel.admin_user, panel.admin_password, user, FormValue(form, "pass"));
  panel.sessions.RecordAttempt(ok);
  if (!ok) {
    LogLine("Web: failed login attempt (user=%s)\n", Printable(user).c_str());
    return Reply(BuildResponse("401 Unauthorized", LoginPage(panel, true), kHtmlType));
  }
  std::string token = panel.sessions.CreateSession();
  if (token.empty()) {
    LogLine("Web: no random bytes for a session token; login refused\n");
    return Reply(BuildResponse("503 Service Unavailable", LoginPage(panel, true), kHtmlType));
  }
  return Reply(LoginRedirect(token, panel.secure_cookie));
}

WebReply Recover(WebPanel& panel, const WebRequest& request) {
  if (panel.sessions.IsLockedOut()) return Json("429 Too Many Requests", kJsonNotOk);
  bool valid = VerifyRecoveryCode(FormValue(ParseForm(request.body), "code"), panel.machine_id,
                                  panel.hooks.recovery_public_key);
  panel.sessions.RecordAttempt(valid);
  if (!valid) return Json("400 Bad Request", kJsonNotOk);
  if (!ResetCredentialsToDefault(panel.config_path)) return Json("500 Internal Server Error", RestoreFailureJson());
  LogLine("Web: password recovered via vendor HWID code -> reset to admin/admin\n");
  return Json("200 OK", "{\"ok\":true}", AfterReply::kRelaunch);
}

WebReply Restore(WebPanel& panel, const WebRequest& request) {
  if (panel.sessions.IsLockedOut()) return Json("429 Too Many Requests", kJsonNotOk);
  WebForm form = ParseForm(request.body);
  bool ok = CheckCredentials(panel.admin_user, panel.admin_password, FormValue(form, "user"), FormValue(form, "pass"));
  panel.sessions.RecordAttempt(ok);
  if (!ok) return Json("401 Unauthorized", kJsonNotOk);
  if (!WriteDefaultConfigAt(panel.config_path, ConfigTemplate::kWeb)) {
    LogLine("Web: could not restore the defaults into %s\n", panel.config_path.c_str());
    return Json("500 Internal Server Error", RestoreFailureJson());
  }
  return Json("202 Accepted", kJsonRestarting, AfterReply::kRelaunch);
}

WebReply ConfigJson(const WebPanel& panel) {
  ConfigJsonState state;
  state.ip = panel.host_address;
  state.version = panel.version;
  state.hwid = panel.machine_id;
  if (!panel.hooks.screen_size(&state.screen_width, &state.screen_height)) state.screen_width = state.screen_height = 0;
  state.uptime_s = (panel.hooks.clock() - panel.start_tick) / 1000;
  state.paused = StreamPaused.load();
  state.defaults = panel.defaults;
  return Reply(ConfigJsonReply(BuildConfigJson(LoadConfig(panel.config_path), state)));
}

WebReply Stream(const WebRequest& request) {
  // The panel posts on=1 to resume; anything else pauses.
  bool pause = FormValue(ParseForm(request.body), "on") != "1";
  StreamPaused.exchange(pause);
  LogLine("Web: stream %s by admin\n", pause ? "STOPPED" : "RESUMED");
  return Json("200 OK", StreamPaused.load() ? "{\"paused\":true}" : "{\"paused\":false}");
}

}  // namespace

WebPanel::WebPanel(const WebSettings& settings, WebHooks hooks_in)
    : host_address(settings.host_address),
      machine_id(settings.machine_id),
      version(settings.version),
      admin_user(settings.admin_user),
      // While locked the password in force is a marker of 0x01, "LOCKED-" and
      // the machine identifier, which the login page itself prints: a form
      // can carry that byte, so a locked server holds no password at all.
      admin_password(settings.password_locked ? std::string() : settings.admin_password),
      secure_cookie(settings.tls),
      data_folder(settings.data_folder),
      config_path(settings.data_folder + "/lcx.cfg"),
      defaults(settings.defaults),
      hooks(std::move(hooks_in)),
      start_tick(hooks.clock()),
      sessions(hooks.clock, hooks.new_token) {}

WebReply AnswerWebRequest(WebPanel& panel, const WebRequest& request) {
  const WebRouteEntry& route = MatchWebRoute(request.method, request.path);
  if (route.needs_session && !panel.sessions.CheckSession(request.fields, route.touches_session)) {
    return Reply(UnauthenticatedReply(request.method, request.path));
  }
  switch (route.route) {
    case WebRoute::kLoginPage:
      return Reply(BuildResponse("200 OK", LoginPage(panel, false), kHtmlType));
    case WebRoute::kLogin:
      return Login(panel, request);
    case WebRoute::kLogout:
      panel.sessions.EndSession(request.fields);
      return Reply(LogoutRedirect());
    case WebRoute::kRecover:
      return Recover(panel, request);
    case WebRoute::kLoginBackground:
      return Reply(LoginBackgroundReply(LoginBackgroundJpeg()));
    case WebRoute::kEula:
      return Reply(EulaReply(EulaHtml()));
    case WebRoute::kPing:
      return Json("200 OK", "{\"ok\":true}");
    case WebRoute::kLog:
      return Reply(BuildResponse("200 OK", ReadLog(), kTextType));
    case WebRoute::kSnapshot: {
      std::vector<uint8_t> jpeg = panel.hooks.snapshot();
      return Reply(SnapshotReply(std::string_view(reinterpret_cast<const char*>(jpeg.data()), jpeg.size())));
    }
    case WebRoute::kConfigJson:
      return ConfigJson(panel);
    case WebRoute::kAdminPage:
      return Reply(BuildResponse("200 OK", AdminPageHtml(), kHtmlType));
    case WebRoute::kSave: {
      std::string error = WriteSettingsSave(panel.config_path, PlanSettingsSave(ParseForm(request.body)));
      return Json(error.empty() ? "200 OK" : "400 Bad Request", SaveAnswerJson(error));
    }
    case WebRoute::kRestart:
      return Json("202 Accepted", kJsonRestarting, AfterReply::kSaveSessionsAndRelaunch);
    case WebRoute::kRestore:
      return Restore(panel, request);
    case WebRoute::kStream:
      return Stream(request);
    case WebRoute::kNotFound:
      break;
  }
  return Reply(BuildResponse("404 Not Found", "not found", kTextType));
}

std::string ReadFailureReply(HttpRead outcome) {
  switch (outcome) {
    case HttpRead::kHeaderTooLarge:
      return BuildResponse("431 Request Header Fields Too Large", "too large", kTextType);
    case HttpRead::kBodyTooLarge:
      return BuildResponse("413 Payload Too Large", "too large", kTextType);
    case HttpRead::kBadLength:
      return BuildResponse("400 Bad Request", "bad length", kTextType);
    case HttpRead::kIncompleteBody:
      return BuildResponse("400 Bad Request", "incomplete body", kTextType);
    case HttpRead::kComplete:
    case HttpRead::kClosed:
      break;
  }
  return {};
}

}  // namespace lcx
