#include "web/web_request.h"

#include <cstdio>

namespace lcx {
namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void FillRequestLine(WebRequest& request) {
  request.method = request.fields.method;
  // A request line without a version (HTTP/0.9) names no page.
  request.path = request.fields.version.empty() ? "/" : std::string(TargetPath(request.fields.target));
}

}  // namespace

bool ParseWebHead(WebRequest& request) {
  const bool whole = ParseRequestHead(request.head, request.fields) == HeadStatus::kOk;
  FillRequestLine(request);
  return whole;
}

WebRequest ToWebRequest(HttpRequest read) {
  WebRequest request;
  request.head = std::string(read.Head());
  request.body = std::string(read.Body());
  request.fields = std::move(read.head);
  FillRequestLine(request);
  return request;
}

std::string UrlDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '+') {
      out += ' ';
    } else if (c == '%' && i + 2 < text.size() && HexDigit(text[i + 1]) >= 0 && HexDigit(text[i + 2]) >= 0) {
      out += static_cast<char>(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2]));
      i += 2;
    } else {
      out += c;
    }
  }
  return out;
}

WebForm ParseForm(std::string_view body) {
  WebForm form;
  while (!body.empty()) {
    size_t amp = body.find('&');
    std::string_view piece = body.substr(0, amp);
    size_t eq = piece.find('=');
    if (eq != std::string_view::npos && eq > 0) {
      form[UrlDecode(piece.substr(0, eq))] = UrlDecode(piece.substr(eq + 1));
    }
    if (amp == std::string_view::npos) break;
    body.remove_prefix(amp + 1);
  }
  return form;
}

std::string FormValue(const WebForm& form, const std::string& key) {
  auto it = form.find(key);
  return it == form.end() ? std::string() : it->second;
}

std::string JsonEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 8);
  for (char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '<': out += "\\u003c"; break;
      case '>': out += "\\u003e"; break;
      case '&': out += "\\u0026"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned char>(c));
          out += buf;
        } else {
          out += c;
        }
    }
  }
  return out;
}

}  // namespace lcx
