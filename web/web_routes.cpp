#include "web/web_routes.h"

#include <array>

namespace lcx {
namespace {

// Tried in order; the first six need no session.
constexpr std::array<WebRouteEntry, 19> kRoutes{{
    {"GET", "/login", WebRoute::kLoginPage, false, false},
    {"POST", "/login", WebRoute::kLogin, false, false},
    {"POST", "/logout", WebRoute::kLogout, false, false},
    {"POST", "/recover", WebRoute::kRecover, false, false},
    {"GET", "/login_bg.jpg", WebRoute::kLoginBackground, false, false},
    {"GET", "/eula", WebRoute::kEula, false, false},
    {"POST", "/ping", WebRoute::kPing, true, true},
    {"GET", "/log", WebRoute::kLog, true, true},
    {"GET", "/snapshot.jpg", WebRoute::kSnapshot, true, false},
    {"GET", "/config.json", WebRoute::kConfigJson, true, true},
    {"GET", "/", WebRoute::kAdminPage, true, true},
    {"POST", "/save", WebRoute::kSave, true, true},
    {"POST", "/restart", WebRoute::kRestart, true, true},
    {"POST", "/restore", WebRoute::kRestore, true, true},
    {"POST", "/stream", WebRoute::kStream, true, true},
    {"GET", "/share-screen", WebRoute::kShareScreenOffered, true, true},
    {"POST", "/share-screen", WebRoute::kShareScreen, true, true},
    {"GET", "/password", WebRoute::kPasswordPage, true, true},
    {"POST", "/password", WebRoute::kSetPassword, true, true},
}};
constexpr WebRouteEntry kNotFoundRoute{"", "", WebRoute::kNotFound, true, true};

std::string Prepared(std::string_view head_fields, std::string_view body) {
  std::string out = "HTTP/1.1 200 OK\r\n";
  out += head_fields;
  out += kGuardHeaders;
  out += "Content-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n";
  out += body;
  return out;
}

void ReplaceOnce(std::string& text, std::string_view marker, std::string_view value) {
  size_t at = text.find(marker);
  if (at != std::string::npos) text.replace(at, marker.size(), value);
}

}  // namespace

const WebRouteEntry& MatchWebRoute(std::string_view method, std::string_view path) {
  for (const WebRouteEntry& e : kRoutes) {
    if (e.method == method && e.path == path) return e;
  }
  return kNotFoundRoute;
}

std::string BuildResponse(std::string_view status, std::string_view body, std::string_view content_type) {
  std::string out = "HTTP/1.1 ";
  out += status;
  out += "\r\nContent-Type: ";
  out += content_type;
  out += "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n";
  out += kGuardHeaders;
  out += "Cache-Control: no-store\r\nConnection: close\r\n\r\n";
  out += body;
  return out;
}

namespace {
std::string Bare(std::string_view status_and_fields) {
  std::string out = "HTTP/1.1 ";
  out += status_and_fields;
  out += kGuardHeaders;
  out += "Cache-Control: no-store\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
  return out;
}
}  // namespace

std::string UnauthenticatedReply(std::string_view method, std::string_view path) {
  if (method == "GET" && path == "/") return Bare("302 Found\r\nLocation: /login\r\n");
  return Bare("401 Unauthorized\r\n");
}

std::string LoginRedirect(std::string_view token, std::string_view location, bool secure) {
  std::string fields = "302 Found\r\nLocation: ";
  fields += location;
  fields += "\r\nSet-Cookie: lcx_sess=";
  fields += token;
  fields += secure ? "; Path=/; HttpOnly; Secure; SameSite=Strict\r\n" : "; Path=/; HttpOnly; SameSite=Strict\r\n";
  return Bare(fields);
}

std::string PasswordRedirect() { return Bare("302 Found\r\nLocation: /password\r\n"); }

std::string LogoutRedirect() { return Bare("302 Found\r\nLocation: /login\r\nSet-Cookie: lcx_sess=; Path=/; Max-Age=0\r\n"); }

std::string MisdirectedReply() {
  return BuildResponse("421 Misdirected Request",
                       "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>421</title></head><body>"
                       "<h1>421 Misdirected Request</h1><p>This panel answers only to this machine's own names "
                       "and addresses.</p></body></html>",
                       kHtmlType);
}

std::string ConfigJsonReply(std::string_view json) {
  return Prepared("Content-Type: application/json; charset=utf-8\r\nCache-Control: no-store\r\n", json);
}

std::string SnapshotReply(std::string_view jpeg) {
  return Prepared("Content-Type: image/jpeg\r\nCache-Control: no-store\r\n", jpeg);
}

std::string LoginBackgroundReply(std::string_view jpeg) {
  if (jpeg.empty()) return BuildResponse("404 Not Found", "no image", kTextType);
  return Prepared("Content-Type: image/jpeg\r\nCache-Control: max-age=3600\r\n", jpeg);
}

std::string EulaReply(std::string_view html) {
  if (html.empty()) return BuildResponse("404 Not Found", "no eula", kTextType);
  return Prepared("Content-Type: text/html; charset=utf-8\r\n", html);
}

std::string BuildLoginPage(std::string_view page_template, std::string_view machine_id, bool error) {
  std::string page(page_template);
  // The later marker first, so an inserted value is never searched again.
  ReplaceOnce(page, "{{ERR}}", error ? "1" : "0");
  ReplaceOnce(page, "{{MACHINE_ID}}", machine_id);
  return page;
}

}  // namespace lcx
