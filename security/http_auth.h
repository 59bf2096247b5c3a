// HTTP Basic and Digest (MD5, with or without qop) checked over the one
// Authorization line of a request, plus the user/password comparison every
// login uses. Pure and stateless: callers keep nonces and "authenticated" flags.
#pragma once

#include <string_view>

namespace lcx {

// The ways the RTSP and ONVIF ports differ; everything else (header
// spellings, parsing, lower-casing the response, HA1 from the configured
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

// True when `request` (request line, headers, maybe a body) carries an
// "Authorization:" or "authorization:" header whose Basic credentials or
// Digest response match `expected`. Only that line is read.
bool CheckHttpAuthorization(std::string_view request, const HttpAuthExpected& expected,
                            const HttpAuthOptions& options);

// A login's user name and password against the configured ones: false when
// either password is empty. Case-sensitive; both comparisons always run and
// neither stops at the first difference or at a length mismatch.
bool CheckUserPassword(std::string_view given_user, std::string_view given_password,
                       std::string_view user, std::string_view password);

}  // namespace lcx
