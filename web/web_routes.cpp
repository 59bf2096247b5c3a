#include "web/web_routes.h"

#include <array>

namespace lcx {
namespace {

// Tried in order; the first six need no session.
constexpr std::array<WebRouteEntry, 15> kRoutes{{
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
}};
constexpr WebRouteEntry kNotFoundRoute{"", "", WebRoute::kNotFound, true, true};

std::string Prepared(std::string_view head_fields, std::string_view body) {
  std::string out = "HTTP/1.1 200 OK\r\n";
  out += head_fields;
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
  out += "\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\nX-Content-Type-Options: nosniff\r\nConnection: close\r\n\r\n";
  out += body;
  return out;
}

std::string UnauthenticatedReply(std::string_view method, std::string_view path) {
  if (method == "GET" && path == "/") {
    return "HTTP/1.1 302 Found\r\nLocation: /login\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
  }
  return "HTTP/1.1 401 Unauthorized\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
}

std::string LoginRedirect(std::string_view token, bool secure) {
  std::string out = "HTTP/1.1 302 Found\r\nLocation: /\r\nSet-Cookie: lcx_sess=";
  out += token;
  out += secure ? "; Path=/; HttpOnly; Secure; SameSite=Strict" : "; Path=/; HttpOnly; SameSite=Strict";
  out += "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
  return out;
}

std::string LogoutRedirect() {
  return "HTTP/1.1 302 Found\r\nLocation: /login\r\nSet-Cookie: lcx_sess=; Path=/; Max-Age=0\r\n"
         "Content-Length: 0\r\nConnection: close\r\n\r\n";
}

std::string ConfigJsonReply(std::string_view json) {
  return Prepared("Content-Type: application/json; charset=utf-8\r\nCache-Control: no-store\r\n"
                  "X-Content-Type-Options: nosniff\r\n",
                  json);
}

std::string SnapshotReply(std::string_view jpeg) {
  return Prepared("Content-Type: image/jpeg\r\nCache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\n",
                  jpeg);
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
