// The web panel's view of a request, its form decoding and the JSON escaping
// of its answers: strings in, strings out, no I/O. The shared framing
// (core/http_request.h) reads a request and parses its head; everything
// here works on what it hands over.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "core/http_request.h"
#include "core/request_head.h"

namespace lcx {

// One request as the connection thread received it.
struct WebRequest {
  std::string head;    // request line and headers, up to and including "\r\n\r\n"
  RequestHead fields;  // the head parsed: header fields, cookies
  std::string method;  // before the first blank, compared case-sensitively
  std::string path;    // the target's path, cut at "?" and "#" ("/" without a version)
  std::string body;    // exactly Content-Length bytes after the head
  std::string peer;    // the client's address literal ("" in tests that do not care)
  std::string local;   // the address of this machine the connection arrived on
};

// Parses `request.head` into fields, method and path; false when it has more
// header lines than the parser's bound (the fields are filled up to there).
bool ParseWebHead(WebRequest& request);
// The request the shared framing read, its parsed head kept.
WebRequest ToWebRequest(HttpRequest read);

// Form decoding of one key or value: "+" is a blank, "%XX" a byte.
std::string UrlDecode(std::string_view text);

using WebForm = std::map<std::string, std::string>;
// application/x-www-form-urlencoded body; the last occurrence of a key wins.
WebForm ParseForm(std::string_view body);
// Value of a form key, or "" when absent.
std::string FormValue(const WebForm& form, const std::string& key);

// Text escaped for a JSON string; "<", ">" and "&" as \u escapes so the
// text can never close a script element.
std::string JsonEscape(std::string_view text);

}  // namespace lcx
