// Who may call the protected operations: a WS-Security UsernameToken in the
// SOAP body (digest or plain password), or an HTTP Authorization header
// (Basic or Digest). The checks are pure over their arguments except for
// OnvifAuthState: the clocks, and the tokens already used, which every
// connection thread shares under SeenTokens::mutex (nothing else is taken
// while it is held, bar the log).
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>

#include "core/request_head.h"
#include "security/http_auth.h"

namespace lcx {

struct OnvifService;

// A token's creation time may be this far from our clock either way:
// recorders read GetSystemDateAndTime and sign on our time, others are a
// few minutes off at most.
inline constexpr int64_t kWsSecurityWindowS = 15 * 60;

struct OnvifClock {
  std::function<int64_t()> monotonic_s;  // stamps the Digest nonces
  std::function<int64_t()> unix_s;       // UTC, judges WS-Security creation times
};
OnvifClock SystemOnvifClock();

// Digest-form tokens that passed, kept until their creation time leaves the
// window (after which the window refuses them anyway). At most `capacity`:
// only tokens signed with the password get in, so only real clients fill it.
struct SeenTokens {
  std::mutex mutex;
  std::deque<std::pair<std::string, int64_t>> order;  // key, forget after (unix s)
  std::unordered_set<std::string> keys;
  size_t capacity = 8192;
};
// False when `key` is already remembered; otherwise remembers it.
bool RememberToken(SeenTokens& seen, const std::string& key, int64_t forget_after_s, int64_t now_s);

// One per server, shared by its connections.
struct OnvifAuthState {
  OnvifClock clock = SystemOnvifClock();
  SeenTokens seen;
};

// True when the body names an operation that hands out streams, profiles,
// snapshots, their configurations, or the host's network settings and users.
bool IsProtectedOperation(std::string_view body);
// A password digest passes once, and only when Created lies within the
// window; a plain password (the secret itself on the wire) is not dated.
bool CheckWsSecurity(const OnvifService& service, std::string_view body, OnvifAuthState& state);
// The head's first Authorization field under the ONVIF options of
// security/http_auth, its Digest nonce made under the service's secret: a
// Digest header carrying qop may match either response form.
HttpAuthResult CheckHttpAuth(const OnvifService& service, const RequestHead& head, std::string_view method,
                             const OnvifAuthState& state);
// A fresh nonce for a challenge.
std::string OnvifDigestNonce(const OnvifService& service, const OnvifAuthState& state);
// Trimmed text of the first element matching ":" + tag (else "<" + tag);
// empty when absent or self-closing. No entity decoding.
std::string ExtractElementText(std::string_view xml, std::string_view tag);
// An xsd:dateTime ("2010-09-16T07:50:45Z", fractions and offsets allowed, no
// zone meaning UTC) in seconds since 1970; nothing when it is not one.
std::optional<int64_t> ParseXsdDateTime(std::string_view text);

}  // namespace lcx
