// The web panel's routing table with its access rules, and the fixed answer
// texts (status lines, prepared headers, bodies) that the routes send.
// Pure data and string builders.
#pragma once

#include <string>
#include <string_view>

namespace lcx {

enum class WebRoute {
  kLoginPage,
  kLogin,
  kLogout,
  kRecover,
  kLoginBackground,
  kEula,
  kPing,
  kLog,
  kSnapshot,
  kConfigJson,
  kAdminPage,
  kSave,
  kRestart,
  kRestore,
  kStream,
  kShareScreenOffered,  // whether the panel shows "Share the screen again"
  kShareScreen,
  kPasswordPage,
  kSetPassword,
  kNotFound,
};

struct WebRouteEntry {
  std::string_view method;
  std::string_view path;
  WebRoute route;
  bool needs_session;
  bool touches_session;  // the preview must not keep an idle session alive
};

// First entry whose method and path both match exactly; the not-found entry
// (which needs a session) otherwise.
const WebRouteEntry& MatchWebRoute(std::string_view method, std::string_view path);

inline constexpr const char kHtmlType[] = "text/html; charset=utf-8";
inline constexpr const char kTextType[] = "text/plain; charset=utf-8";
inline constexpr const char kJsonType[] = "application/json; charset=utf-8";

// Sent with every answer: no framing by any page, no sniffing, no Referer
// to the sites the pages link to, and a policy both pages pass (their own
// inline script and style, pictures from here and data: icons).
inline constexpr const char kGuardHeaders[] =
    "X-Frame-Options: DENY\r\n"
    "Content-Security-Policy: default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; "
    "img-src 'self' data:; connect-src 'self'; form-action 'self'; base-uri 'none'; frame-ancestors 'none'\r\n"
    "X-Content-Type-Options: nosniff\r\n"
    "Referrer-Policy: no-referrer\r\n";

// The common writer's answer: status, content type, length, the guard
// headers, no-store, close.
std::string BuildResponse(std::string_view status, std::string_view body, std::string_view content_type);

// Answer to a protected request without a live session: a GET of "/" goes
// to the login page, anything else gets a bare 401.
std::string UnauthenticatedReply(std::string_view method, std::string_view path);

// 302 to `location` ("/", or the password page) with the cookie; `secure`
// (the panel is served over TLS) adds Secure, so the browser never sends it
// over plain HTTP.
std::string LoginRedirect(std::string_view token, std::string_view location = "/", bool secure = false);
// 302 to the password page: a GET of "/" while the factory password is in force.
std::string PasswordRedirect();
// 421 with a short page: the Host names nothing of this machine.
std::string MisdirectedReply();
std::string LogoutRedirect();                       // 302 to "/login", cookie cleared

// Prepared answers that carry a Cache-Control header the writer does not add.
std::string ConfigJsonReply(std::string_view json);
std::string SnapshotReply(std::string_view jpeg);
std::string LoginBackgroundReply(std::string_view jpeg);  // 404 "no image" when empty
std::string EulaReply(std::string_view html);             // 404 "no eula" when empty

// The login page: the template's {{MACHINE_ID}} and {{ERR}} markers replaced
// by the identifier and "1" (error box shown) or "0".
std::string BuildLoginPage(std::string_view page_template, std::string_view machine_id, bool error);

}  // namespace lcx
