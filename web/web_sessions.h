// Who may use the web panel: the credential check, the failed-login lock and
// the table of live session tokens, with the clock and the token source
// injected so tests can drive time. One mutex (the guard) covers the table,
// the failure count and the lock time; the log's mutex is taken inside it
// (for the lock message) and no other lock ever is.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

#include "core/request_head.h"

namespace lcx {

inline constexpr uint64_t kSessionIdleMs = 300000;
inline constexpr uint32_t kLoginFailureThreshold = 8;
inline constexpr uint64_t kLoginLockMs = 60000;
inline constexpr const char kSessionCookie[] = "lcx_sess";

// Both texts compared in constant time over the longer length; an empty
// password in force or given never matches.
bool CheckCredentials(std::string_view admin_user, std::string_view admin_password,
                      std::string_view user, std::string_view password);

class WebSessions {
 public:
  using Clock = std::function<uint64_t()>;           // milliseconds since boot
  using TokenSource = std::function<std::string()>;  // 32 hex digits, "" on failure

  WebSessions(Clock clock, TokenSource tokens);

  bool IsLockedOut();
  // The eighth failure in a row locks every credential check for 60 s; a
  // success clears the count.
  void RecordAttempt(bool success);

  // A fresh token registered as active now; "" when no random bytes could
  // be had (a guessable token would be worse than no login).
  std::string CreateSession();
  // One of the request's lcx_sess cookies (on any Cookie line; a browser
  // may send an older one of another path first) is a live token; `touch`
  // renews its activity.
  bool CheckSession(const RequestHead& head, bool touch);
  // Ends every session the request's lcx_sess cookies name.
  void EndSession(const RequestHead& head);

  // The table as "token tick\n" lines in token order, and back; loading
  // keeps only entries still within the idle limit.
  std::string SessionText();
  void LoadSessionText(std::string_view text);

  // The session file holds the text protected; a text that cannot be
  // protected is not written (tokens in clear would be a login for anyone
  // who can read the data folder). False when nothing was written.
  bool SaveSessions(const std::string& path);
  // Only a protected file that decrypts is believed: a plain one could have
  // been planted to open a session.
  void LoadSessions(const std::string& path);

  size_t SessionCount();

 private:
  std::string TextLocked() const;

  Clock clock_;
  TokenSource tokens_;
  std::mutex guard_;
  std::map<std::string, uint64_t> sessions_;  // token -> tick of last activity
  uint32_t failed_attempts_ = 0;
  uint64_t locked_until_ = 0;
};

}  // namespace lcx
