// HTTP tunnel of RTSP: halves, cookie, answers, Base64 of the POST body.
#include "rtsp/rtsp_tunnel.h"

#include "security/digest.h"

namespace lcx {
namespace {

bool IsBase64Char(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/' ||
         c == '=';
}

bool IsHttp(const RequestHead& head) { return head.version.rfind("HTTP/", 0) == 0; }

}  // namespace

std::string TunnelCookie(const RequestHead& head) {
  std::optional<std::string_view> cookie = head.Find("x-sessioncookie");
  return cookie ? std::string(*cookie) : std::string();
}

TunnelHalf TunnelHalfOf(const RequestHead& head) {
  if (!IsHttp(head) || TunnelCookie(head).empty()) return TunnelHalf::kNone;
  if (head.method == "POST") return TunnelHalf::kPost;
  if (head.method != "GET") return TunnelHalf::kNone;
  for (std::string_view accept : head.FindAll("Accept")) {
    if (accept.find("application/x-rtsp-tunnelled") != std::string_view::npos) return TunnelHalf::kGet;
  }
  return TunnelHalf::kNone;
}

std::string BuildTunnelGetResponse() {
  return "HTTP/1.0 200 OK\r\nServer: Lumicast\r\nConnection: close\r\nCache-Control: no-store\r\n"
         "Pragma: no-cache\r\nContent-Type: application/x-rtsp-tunnelled\r\n\r\n";
}

std::string BuildTunnelRefusal() {
  return "HTTP/1.0 400 Bad Request\r\nConnection: close\r\nContent-Length: 0\r\n\r\n";
}

std::string TunnelDecoder::Feed(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (!IsBase64Char(c)) continue;
    group_.push_back(c);
    if (group_.size() == 4) {
      out += Base64Decode(group_);
      group_.clear();
    }
  }
  return out;
}

}  // namespace lcx
