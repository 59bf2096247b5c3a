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

// The common writer's answer: status, content type, length, nosniff, close.
std::string BuildResponse(std::string_view status, std::string_view body, std::string_view content_type);

// Answer to a protected request without a live session: a GET of "/" goes
// to the login page, anything else gets a bare 401.
std::string UnauthenticatedReply(std::string_view method, std::string_view path);

// 302 to "/" with the cookie; `secure` (the panel is served over TLS) adds
// Secure, so the browser never sends it over plain HTTP.
std::string LoginRedirect(std::string_view token, bool secure = false);
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
