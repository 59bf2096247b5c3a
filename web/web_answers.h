// What the web panel answers: one request in, the whole answer's bytes and
// what to do once they are sent out (nothing, or a relaunch). No socket here:
// tests drive it with requests built from strings. The routes' side effects
// (settings written, the stream paused, sessions) happen in the call; the
// clock, tokens, pictures and the relaunch come in through WebHooks.
// Locks: the sessions' guard (web_sessions.h) and the panel's password guard,
// each taken inside the call and never one within the other.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "core/http_request.h"
#include "core/subsystem_settings.h"
#include "web/web_guard.h"
#include "web/web_request.h"
#include "web/web_sessions.h"

namespace lcx {

// Everything the handlers take from the rest of the program, replaceable
// so tests see a relaunch without being replaced, and drive the clock.
struct WebHooks {
  std::function<uint64_t()> clock;                  // ms since boot
  std::function<std::string()> new_token;           // 32 hex digits, "" on failure
  std::function<std::vector<uint8_t>()> snapshot;   // the web preview JPEG
  std::function<bool(int*, int*)> screen_size;      // primary screen
  std::function<void()> relaunch;                   // the program: RelaunchSelf(true)
  std::string recovery_public_key;                  // key blob for recovery codes
  std::function<std::string()> host_name;           // gethostname(); may be empty
  std::function<std::vector<std::string>()> addresses;  // this machine's interface addresses
};

enum class AfterReply { kNothing, kRelaunch, kSaveSessionsAndRelaunch };
struct WebReply {
  std::string bytes;  // the whole answer, head and body
  AfterReply after = AfterReply::kNothing;
  uint64_t delay_ms = 0;  // hold the answer back this long (failed logins beyond the global rate)
};

// The panel's state: the settings copy (written only by the constructor),
// the hooks and the sessions.
struct WebPanel {
  WebPanel(const WebSettings& settings, WebHooks hooks);

  const std::string host_address, machine_id, version;
  const std::string admin_user;
  const bool secure_cookie;  // served over TLS
  const std::string data_folder, config_path;
  const SettingDefaults defaults;  // what the engine uses for an absent key
  const WebHooks hooks;
  const uint64_t start_tick;  // after hooks: read from its clock
  const HostPolicy host_policy;  // after hooks: the names and addresses of this machine
  WebSessions sessions;

  std::string sessions_path() const { return data_folder + "/sessions.dat"; }

  // The password logins are checked against; while it is the factory
  // "admin", only the password page and its change are open.
  std::string Password();
  bool MustChangePassword();
  void PasswordChanged(const std::string& password);

 private:
  std::mutex password_guard_;
  std::string password_;
  bool must_change_password_;
};

// CheckNewPassword's verdict as the page's "error" member: "" when
// acceptable, else "mismatch", "short", "factory" or "invalid".
std::string NewPasswordProblemName(std::string_view password, std::string_view again);

// The answer to one request, with the side effects of its route.
WebReply AnswerWebRequest(WebPanel& panel, const WebRequest& request);

// The answer to a request that could not be read (431, 413, 400); "" when
// there is nobody to answer.
std::string ReadFailureReply(HttpRead outcome);

}  // namespace lcx
