#include "web/web_request.h"

#include <cctype>
#include <cstdio>

#include "core/config.h"  // ParseLeadingInt

namespace lcx {
namespace {

std::string Lowered(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

void SplitRequestLine(WebRequest& request) {
  std::string_view head = request.head;
  size_t first = head.find(' ');
  request.method = std::string(first == std::string_view::npos ? head : head.substr(0, first));
  request.path.assign(1, '/');  // assign(): GCC 12 warns falsely on = "/" here
  if (first == std::string_view::npos || first + 1 == head.size()) return;
  size_t second = head.find(' ', first + 1);
  if (second == std::string_view::npos) return;
  std::string_view path = head.substr(first + 1, second - first - 1);
  path = path.substr(0, path.find('?'));
  path = path.substr(0, path.find('#'));
  request.path = std::string(path);
}

int64_t HeaderContentLength(std::string_view header_block) {
  static constexpr std::string_view kName = "content-length:";
  size_t pos = Lowered(header_block).find(kName);
  if (pos == std::string::npos) return 0;
  // Leading blanks, sign and digits as the configuration's integers; the
  // saturation at the 32-bit range keeps a huge value above the body bound.
  return ParseLeadingInt(header_block.substr(pos + kName.size()));
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

std::string ReadCookie(std::string_view head, std::string_view name) {
  size_t start = Lowered(head).find("cookie:");
  if (start == std::string::npos) return {};
  std::string_view line = head.substr(start);
  line = line.substr(0, line.find("\r\n"));
  std::string key = std::string(name) + "=";
  size_t at = line.find(key);
  if (at == std::string_view::npos) return {};
  std::string_view value = line.substr(at + key.size());
  value = value.substr(0, value.find(';'));
  while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
  while (!value.empty() && (value.back() == ' ' || value.back() == '\t' || value.back() == '\r')) {
    value.remove_suffix(1);
  }
  return std::string(value);
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
