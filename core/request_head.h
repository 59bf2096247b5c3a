// The head of one HTTP or RTSP request, parsed once: the request line, the
// header lines split at their first colon and asked for by name in any case,
// the cookies, the announced body length and RTSP's Transport. Pure: text in,
// values out, no I/O and no shared state. Every server reads its headers here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace lcx {

struct HeadLimits {
  size_t max_fields = 100;       // header lines, continuation lines included
  size_t max_line_bytes = 8192;  // one line, request line included
};

enum class HeadStatus {
  kOk,
  kTooLarge,  // more lines, or a longer line, than the limits allow
};

struct HeaderField {
  std::string name;   // as sent
  std::string value;  // blanks at both ends stripped; folded lines joined by one blank
};

struct RequestHead {
  std::string method;   // compared case-sensitively by the servers
  std::string target;   // as sent: "/path?query" or "rtsp://host:port/path?query"
  std::string version;  // "HTTP/1.1", "RTSP/1.0"; empty when the line has none
  std::vector<HeaderField> fields;

  // First field of that name (any case); nothing when absent.
  std::optional<std::string_view> Find(std::string_view name) const;
  // Every field of that name, in order.
  std::vector<std::string_view> FindAll(std::string_view name) const;
};

// Parses everything before the blank line (a trailing "\r\n\r\n" and a body
// after it are ignored). Lines end with CRLF or a bare LF. A line that
// begins with a blank continues the field before it; a line without a colon
// or with an empty name is no field and is skipped. Fills `head` as far as
// the limits allow.
HeadStatus ParseRequestHead(std::string_view text, RequestHead& head, const HeadLimits& limits = HeadLimits());

// The target's path: the scheme and authority of an absolute URL dropped,
// cut at "?" and "#"; "/" when nothing is left.
std::string_view TargetPath(std::string_view target);
// The path's segments between "/", empty ones dropped.
std::vector<std::string_view> PathSegments(std::string_view path);

// The body length the head announces: 0 without Content-Length; nothing
// when a value is not a plain decimal number or two values disagree (a peer
// and a proxy reading different bodies). Saturates far above any bound.
std::optional<int64_t> ContentLength(const RequestHead& head);

// Cookies of every Cookie line in order, each "name=value" pair split at
// its first "=", blanks around both stripped; pieces without "=" skipped.
std::vector<std::pair<std::string, std::string>> RequestCookies(const RequestHead& head);
// Values of every cookie named exactly `name`, in order.
std::vector<std::string> CookieValues(const RequestHead& head, std::string_view name);

// One alternative of an RTSP Transport header:
// "RTP/AVP/TCP;unicast;interleaved=0-1".
struct TransportChoice {
  std::string protocol;  // "RTP/AVP/TCP"
  std::vector<std::pair<std::string, std::string>> parameters;  // "unicast" has an empty value
  // The lower transport is TCP, or interleaved channels are named.
  bool Interleaved() const;
};
// The comma-separated alternatives of a Transport value.
std::vector<TransportChoice> ParseTransport(std::string_view value);

// ASCII case-insensitive equality.
bool EqualsIgnoreCase(std::string_view a, std::string_view b);

}  // namespace lcx
