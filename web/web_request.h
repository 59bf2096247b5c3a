// Parsers of the web panel's requests and the JSON escaping of its answers:
// strings in, strings out, no I/O. The framing (web_http.h) cuts a request
// into head and body; everything here works on those texts.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

namespace lcx {

// One request as the connection thread received it.
struct WebRequest {
  std::string head;    // request line and headers, up to and including "\r\n\r\n"
  std::string method;  // before the first blank, compared case-sensitively
  std::string path;    // between the first and second blank, cut at "?" and "#"
  std::string body;    // at most Content-Length bytes after the head
};

// Fills method and path from the request line of `request.head`.
void SplitRequestLine(WebRequest& request);

// Content-Length found in a lower-cased copy of the header block (any
// spelling of the name), the number read from the bytes as received; 0 when
// absent. Saturates, so a huge or negative value stays out of range.
int64_t HeaderContentLength(std::string_view header_block);

// Form decoding of one key or value: "+" is a blank, "%XX" a byte.
std::string UrlDecode(std::string_view text);

using WebForm = std::map<std::string, std::string>;
// application/x-www-form-urlencoded body; the last occurrence of a key wins.
WebForm ParseForm(std::string_view body);
// Value of a form key, or "" when absent.
std::string FormValue(const WebForm& form, const std::string& key);

// Value of the cookie `name` on the first Cookie header line, blanks
// stripped; "" when absent or blank.
std::string ReadCookie(std::string_view head, std::string_view name);

// Text escaped for a JSON string; "<", ">" and "&" as \u escapes so the
// text can never close a script element.
std::string JsonEscape(std::string_view text);

}  // namespace lcx
