#include "web/web_answers.h"

#include "core/config.h"
#include "core/credentials.h"
#include "core/log.h"
#include "core/setting_table.h"
#include "platform/system.h"
#include "resources/documents.h"
#include "security/recovery_code.h"
#include "video/capture_source.h"
#include "video/motion_detector.h"
#include "video/stream_producer.h"
#include "web/web_config_api.h"
#include "web/web_resources.h"
#include "web/web_routes.h"

namespace lcx {
namespace {

constexpr char kJsonNotOk[] = "{\"ok\":false}";
constexpr char kJsonRestarting[] = "{\"restarting\":true}";
// The member the admin page turns into the password screen.
constexpr char kJsonChangePassword[] = "{\"ok\":false,\"password_change_required\":true}";
constexpr char kJsonForeignOrigin[] = "{\"ok\":false,\"error\":\"origin\"}";

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

WebReply Delayed(WebReply reply, uint64_t delay_ms) {
  reply.delay_ms = delay_ms;
  return reply;
}

WebReply Login(WebPanel& panel, const WebRequest& request) {
  const std::string peer = PeerKey(request.peer);
  if (panel.sessions.IsLockedOut(peer)) {
    return Reply(BuildResponse("429 Too Many Requests", LoginPage(panel, true), kHtmlType));
  }
  WebForm form = ParseForm(request.body);
  std::string user = FormValue(form, "user");
  bool ok = CheckCredentials(panel.admin_user, panel.Password(), user, FormValue(form, "pass"));
  const uint64_t delay = panel.sessions.RecordAttempt(peer, ok);
  if (!ok) {
    LogLine("Web: failed login attempt (user=%s) from %s\n", Printable(user).c_str(), peer.c_str());
    return Delayed(Reply(BuildResponse("401 Unauthorized", LoginPage(panel, true), kHtmlType)), delay);
  }
  std::string token = panel.sessions.CreateSession();
  if (token.empty()) {
    LogLine("Web: no random bytes for a session token; login refused\n");
    return Reply(BuildResponse("503 Service Unavailable", LoginPage(panel, true), kHtmlType));
  }
  return Reply(LoginRedirect(token, panel.MustChangePassword() ? "/password" : "/", panel.secure_cookie));
}

WebReply Recover(WebPanel& panel, const WebRequest& request) {
  const std::string peer = PeerKey(request.peer);
  if (panel.sessions.IsLockedOut(peer)) return Json("429 Too Many Requests", kJsonNotOk);
  bool valid = VerifyRecoveryCode(FormValue(ParseForm(request.body), "code"), panel.machine_id,
                                  panel.hooks.recovery_public_key);
  const uint64_t delay = panel.sessions.RecordAttempt(peer, valid);
  if (!valid) return Delayed(Json("400 Bad Request", kJsonNotOk), delay);
  if (!ResetCredentialsToDefault(panel.config_path)) return Json("500 Internal Server Error", RestoreFailureJson());
  // No session of the old password outlives the reset in the next copy.
  RemoveFile(panel.sessions_path());
  LogLine("Web: password recovered via vendor HWID code -> reset to admin/admin\n");
  return Json("200 OK", "{\"ok\":true}", AfterReply::kRelaunch);
}

WebReply Restore(WebPanel& panel, const WebRequest& request) {
  const std::string peer = PeerKey(request.peer);
  if (panel.sessions.IsLockedOut(peer)) return Json("429 Too Many Requests", kJsonNotOk);
  WebForm form = ParseForm(request.body);
  bool ok = CheckCredentials(panel.admin_user, panel.Password(), FormValue(form, "user"), FormValue(form, "pass"));
  const uint64_t delay = panel.sessions.RecordAttempt(peer, ok);
  if (!ok) return Delayed(Json("401 Unauthorized", kJsonNotOk), delay);
  if (!WriteDefaultConfigAt(panel.config_path, ConfigTemplate::kWeb)) {
    LogLine("Web: could not restore the defaults into %s\n", panel.config_path.c_str());
    return Json("500 Internal Server Error", RestoreFailureJson());
  }
  RemoveFile(panel.sessions_path());
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
  state.motion = CurrentMotion();
  return Reply(ConfigJsonReply(BuildConfigJson(LoadConfig(panel.config_path), state)));
}

WebReply Stream(const WebRequest& request) {
  // The panel posts on=1 to resume; anything else pauses.
  bool pause = FormValue(ParseForm(request.body), "on") != "1";
  StreamPaused.exchange(pause);
  LogLine("Web: stream %s by admin\n", pause ? "STOPPED" : "RESUMED");
  return Json("200 OK", StreamPaused.load() ? "{\"paused\":true}" : "{\"paused\":false}");
}

WebReply SetPassword(WebPanel& panel, const WebRequest& request) {
  WebForm form = ParseForm(request.body);
  const std::string password = FormValue(form, "pass1");
  const std::string problem = NewPasswordProblemName(password, FormValue(form, "pass2"));
  if (!problem.empty()) return Json("400 Bad Request", "{\"ok\":false,\"error\":\"" + problem + "\"}");
  if (!SaveAdminCredentialsAt(panel.config_path, panel.admin_user, password)) {
    return Json("500 Internal Server Error", "{\"ok\":false,\"error\":\"save\"}");
  }
  panel.PasswordChanged(password);
  panel.sessions.EndOtherSessions(request.fields);
  LogLine("Web: administrator password changed; every other session ended\n");
  // The restart hands the new password to the stream and ONVIF servers too;
  // this browser's session is kept across it.
  return Json("200 OK", "{\"ok\":true,\"restarting\":true}", AfterReply::kSaveSessionsAndRelaunch);
}

WebReply Save(WebPanel& panel, const WebRequest& request) {
  const SettingsSavePlan plan = PlanSettingsSave(ParseForm(request.body));
  std::string error = WriteSettingsSave(panel.config_path, plan);
  if (error.empty() && plan.new_password) {
    panel.sessions.EndOtherSessions(request.fields);
    LogLine("Web: administrator password changed; every other session ended\n");
  }
  return Json(error.empty() ? "200 OK" : "400 Bad Request", SaveAnswerJson(error));
}

bool StateChanging(const WebRouteEntry& route) { return route.method == "POST"; }

// What stays open while the factory password is in force.
bool OpenBeforePasswordChange(WebRoute route) {
  return route == WebRoute::kPasswordPage || route == WebRoute::kSetPassword;
}

HostPolicy PolicyFrom(const WebSettings& settings, const WebHooks& hooks) {
  return MakeHostPolicy(hooks.host_name ? hooks.host_name() : std::string(), settings.web_hosts,
                        hooks.addresses ? hooks.addresses() : std::vector<std::string>());
}

}  // namespace

std::string NewPasswordProblemName(std::string_view password, std::string_view again) {
  switch (CheckNewPassword(password, again)) {
    case NewPasswordProblem::kNone: return {};
    case NewPasswordProblem::kMismatch: return "mismatch";
    case NewPasswordProblem::kInvalid: return "invalid";
    case NewPasswordProblem::kFactory: return "factory";
    case NewPasswordProblem::kShort: return "short";
  }
  return "invalid";
}

std::string WebPanel::Password() {
  std::lock_guard<std::mutex> lock(password_guard_);
  return password_;
}

bool WebPanel::MustChangePassword() {
  std::lock_guard<std::mutex> lock(password_guard_);
  return must_change_password_;
}

void WebPanel::PasswordChanged(const std::string& password) {
  std::lock_guard<std::mutex> lock(password_guard_);
  password_ = password;
  must_change_password_ = false;
}

WebPanel::WebPanel(const WebSettings& settings, WebHooks hooks_in)
    : host_address(settings.host_address),
      machine_id(settings.machine_id),
      version(settings.version),
      admin_user(settings.admin_user),
      secure_cookie(settings.tls),
      data_folder(settings.data_folder),
      config_path(settings.data_folder + "/lcx.cfg"),
      defaults(settings.defaults),
      hooks(std::move(hooks_in)),
      start_tick(hooks.clock()),
      host_policy(PolicyFrom(settings, hooks)),
      sessions(hooks.clock, hooks.new_token),
      // While locked the password in force is a marker of 0x01, "LOCKED-" and
      // the machine identifier, which the login page itself prints: a form
      // can carry that byte, so a locked server holds no password at all.
      password_(settings.password_locked ? std::string() : settings.admin_password),
      must_change_password_(!settings.password_locked && settings.admin_password == kFactoryPassword) {}

WebReply AnswerWebRequest(WebPanel& panel, const WebRequest& request) {
  // Before any route: a page that rebinds its own name to this address
  // still names itself in Host.
  if (!HostAllowed(panel.host_policy, request.fields, request.local)) return Reply(MisdirectedReply());
  const WebRouteEntry& route = MatchWebRoute(request.method, request.path);
  // SameSite does not cover another port of this address or a rebound name.
  if (StateChanging(route) && route.route != WebRoute::kNotFound && !SameOriginRequest(request.fields)) {
    return Json("403 Forbidden", kJsonForeignOrigin);
  }
  if (route.needs_session && !panel.sessions.CheckSession(request.fields, route.touches_session)) {
    return Reply(UnauthenticatedReply(request.method, request.path));
  }
  if (route.needs_session && !OpenBeforePasswordChange(route.route) && panel.MustChangePassword()) {
    if (route.route == WebRoute::kAdminPage) return Reply(PasswordRedirect());
    return Json("403 Forbidden", kJsonChangePassword);
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
    case WebRoute::kSave:
      return Save(panel, request);
    case WebRoute::kRestart:
      return Json("202 Accepted", kJsonRestarting, AfterReply::kSaveSessionsAndRelaunch);
    case WebRoute::kRestore:
      return Restore(panel, request);
    case WebRoute::kStream:
      return Stream(request);
    case WebRoute::kShareScreenOffered:
      return Json("200 OK", CaptureIsPortal() ? "{\"offered\":true}" : "{\"offered\":false}");
    case WebRoute::kShareScreen:
      if (!CaptureIsPortal()) return Json("409 Conflict", kJsonNotOk);
      LogLine("Web: sharing the screen asked again by admin\n");
      AskToShareScreenAgain();
      return Json("200 OK", "{\"ok\":true}");
    case WebRoute::kPasswordPage:
      // Also after the change, so the page can wait here for the restart.
      return Reply(BuildResponse("200 OK", PasswordPageHtml(), kHtmlType));
    case WebRoute::kSetPassword:
      if (!panel.MustChangePassword()) return Json("409 Conflict", kJsonNotOk);
      return SetPassword(panel, request);
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
