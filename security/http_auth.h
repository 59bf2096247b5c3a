// HTTP Basic and Digest (MD5, with or without qop) checked over the value of
// a request's Authorization header (its head parser finds it), Digest nonces that expire without being
// remembered, plus the user/password comparison every login uses. Pure and
// stateless: callers keep the nonce secret, the clock and "authenticated" flags.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace lcx {

// The ways the RTSP and ONVIF ports differ; everything else (header
// scheme in any case, parsing, lower-casing the response, HA1 from the configured
// name, empty password never authenticates) is the same for both.
struct HttpAuthOptions {
  // A Digest header carrying qop may also match the short HA1:nonce:HA2
  // response (some ONVIF clients send qop with the older form).
  bool qop_may_use_short_form = false;
};

// RTSP: exactly one Digest form, chosen by the presence of qop.
inline constexpr HttpAuthOptions kRtspHttpAuth{.qop_may_use_short_form = false};
// ONVIF: a qop header may match either form.
inline constexpr HttpAuthOptions kOnvifHttpAuth{.qop_may_use_short_form = true};

// What the server side of one check knows.
struct HttpAuthExpected {
  std::string_view method;    // enters HA2 ("DESCRIBE", "POST", "GET", ...)
  std::string_view realm;
  std::string_view nonce;     // the nonce the challenge handed out; empty: no Digest passes
  std::string_view user;      // the configured credentials
  std::string_view password;  // empty: nothing authenticates
};

// True when `authorization` (the header's value, "" when the request has
// none) holds Basic credentials or a Digest response matching `expected`.
bool CheckHttpAuthorization(std::string_view authorization, const HttpAuthExpected& expected,
                            const HttpAuthOptions& options);

// Digest nonces: 8 hex digits of the caller's clock in seconds, then 24 hex
// digits of HMAC-SHA-256 over them under a server secret. Any thread can
// tell ours from forged ones, and old from fresh, without a table.
inline constexpr int64_t kDigestNonceLifetimeS = 300;

struct DigestNonceKey {
  std::string_view secret;  // empty: no nonce is ours
  int64_t now_s = 0;        // the caller's clock (monotonic seconds)
  int64_t lifetime_s = kDigestNonceLifetimeS;
};

std::string MakeDigestNonce(const DigestNonceKey& key);

enum class NonceAge {
  kFresh,    // ours, younger than the lifetime
  kExpired,  // ours, too old: the client should retry with a new one
  kForeign,  // not made under this secret, or stamped in the future
};
NonceAge CheckDigestNonce(std::string_view nonce, const DigestNonceKey& key);

enum class HttpAuthResult {
  kRefused,
  kAccepted,
  kStale,  // right Digest response over one of our nonces that has expired
};

// CheckHttpAuthorization with the expected nonce taken from the header and
// proven ours by `key`; Basic needs no nonce. A stale result must be
// answered with a fresh nonce and stale=true, so the client retries without
// asking its user.
HttpAuthResult CheckHttpAuthorizationNonce(std::string_view authorization, std::string_view method,
                                           std::string_view realm, const DigestNonceKey& key,
                                           std::string_view user, std::string_view password,
                                           const HttpAuthOptions& options);

// A login's user name and password against the configured ones: false when
// either password is empty. Case-sensitive; both comparisons always run and
// neither stops at the first difference or at a length mismatch.
bool CheckUserPassword(std::string_view given_user, std::string_view given_password,
                       std::string_view user, std::string_view password);

}  // namespace lcx
