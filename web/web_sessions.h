// Who may use the web panel: the credential check, the failed-login locks
// (one per peer, so one host cannot lock the administrator out) and the
// table of live session tokens, with the clock and the token source
// injected so tests can drive time. One mutex (the guard) covers the table,
// the peers' counts and the global failure rate; the log's mutex is taken
// inside it (for the lock message) and no other lock ever is.
#pragma once

#include <cstdint>
#include <functional>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

#include "core/request_head.h"

namespace lcx {

inline constexpr uint64_t kSessionIdleMs = 300000;
inline constexpr uint32_t kLoginFailureThreshold = 8;
inline constexpr uint64_t kLoginLockMs = 60000;       // the first lock of a peer
inline constexpr uint64_t kLoginMaxLockMs = 900000;   // each later one doubles, up to this
inline constexpr size_t kMaxSessions = 64;
// Beyond this many failures a minute over every peer, a failed answer is
// held back (kFailureDelayMs) instead of anyone being locked out.
inline constexpr size_t kGlobalFailuresPerMinute = 30;
inline constexpr uint64_t kFailureDelayMs = 1000;
inline constexpr size_t kMaxTrackedPeers = 4096;
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

  // `peer` is the key of web_guard.h's PeerKey.
  bool IsLockedOut(const std::string& peer);
  // The eighth failure in a row from one peer locks its credential checks
  // for 60 s, the next lock of that peer 120 s and so on up to 15 minutes;
  // a success clears the peer's record. Returns how long to hold the answer
  // back: kFailureDelayMs for a failure beyond the global rate, else 0.
  uint64_t RecordAttempt(const std::string& peer, bool success);

  // A fresh token registered as active now; "" when no random bytes could
  // be had (a guessable token would be worse than no login). With
  // kMaxSessions live, the one signed in longest ago ends first.
  std::string CreateSession();
  // One of the request's lcx_sess cookies (on any Cookie line; a browser
  // may send an older one of another path first) is a live token; `touch`
  // renews its activity.
  bool CheckSession(const RequestHead& head, bool touch);
  // Ends every session the request's lcx_sess cookies name.
  void EndSession(const RequestHead& head);
  // Ends every session but those the request's cookies name (a password
  // change signs out everyone else).
  void EndOtherSessions(const RequestHead& head);

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
  struct Session {
    uint64_t last = 0;     // tick of last activity
    uint64_t created = 0;  // tick of sign-in
  };
  struct PeerFailures {
    uint32_t failures = 0;  // since the last lock or success
    uint32_t locks = 0;     // how often locked: the next lock's doubling
    uint64_t locked_until = 0;
    uint64_t last = 0;      // tick of the last failure
  };
  std::string TextLocked() const;
  void ForgetQuietPeersLocked(uint64_t now);

  Clock clock_;
  TokenSource tokens_;
  std::mutex guard_;
  std::map<std::string, Session> sessions_;  // by token
  std::map<std::string, PeerFailures> peers_;  // by PeerKey
  std::deque<uint64_t> recent_failures_;       // ticks within the last minute, every peer
};

}  // namespace lcx
