// Framing of one HTTP request on a connection, shared by the ONVIF port and
// the web panel: reads the head up to the blank line and the body its
// Content-Length announces within size bounds and time budgets, parses the
// head once, writes answers within a budget, and drains after a refusal.
// The only HTTP code besides the accept loops that touches a connection,
// through a ByteChannel (plain or TLS); no shared state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "core/request_head.h"
#include "platform/byte_channel.h"

namespace lcx {

// Where the two ports agree the defaults hold; where they do not, each
// names its own (OnvifHttpLimits, WebHttpLimits).
struct HttpLimits {
  size_t max_head_bytes = 16384;  // no blank line within this many bytes: 431
  size_t max_body_bytes = 65536;  // announced body above this: 413
  size_t max_request_bytes = std::numeric_limits<size_t>::max();  // head and body together: 413
  size_t max_fields = 100;        // header lines: 431
  // Each receive may wait this long (0: only the request's budget counts).
  int receive_timeout_ms = 6000;
  // The whole request, so a peer trickling a byte every few seconds cannot
  // hold its thread for hours.
  int request_deadline_ms = 20000;
  int send_timeout_ms = 6000;      // each send
  int answer_deadline_ms = 30000;  // the whole answer (0: each send alone)
  // A body cut short by a silent or closing peer: refused (400), or handled
  // as it arrived.
  bool refuse_short_body = true;
  // Bytes received beyond the announced length stay in the body (a length
  // of 0 then means "whatever came with the head").
  bool keep_bytes_beyond_length = false;
  int drain_ms = 500;  // after a refusal, see RefuseAndDrain
};

enum class HttpRead {
  kComplete,
  kClosed,          // closed, failed or silent before the head ended: nothing to answer
  kHeaderTooLarge,  // 431
  kBodyTooLarge,    // 413
  kBadLength,       // 400: Content-Length not a number, or two that disagree
  kIncompleteBody,  // 400, only with refuse_short_body
};

struct HttpRequest {
  std::string text;       // everything kept: the head and the body
  size_t body_start = 0;  // just past the blank line
  RequestHead head;

  std::string_view Head() const { return std::string_view(text).substr(0, body_start); }
  std::string_view Body() const { return std::string_view(text).substr(body_start); }
};

// Each over a channel (plain or TLS), or over a plain socket.
HttpRead ReadHttpRequest(ByteChannel& channel, const HttpLimits& limits, HttpRequest& request);
HttpRead ReadHttpRequest(int fd, const HttpLimits& limits, HttpRequest& request);

// Sends the whole answer within the limits' budgets; false when the peer
// stopped taking it.
bool SendHttpAnswer(ByteChannel& channel, const HttpLimits& limits, std::string_view answer);
bool SendHttpAnswer(int fd, const HttpLimits& limits, std::string_view answer);
// Sends a refusal, shuts the writing side and reads and drops what the peer
// still sends for limits.drain_ms, so that closing with unread bytes does
// not reset the connection and destroy the answer before the peer read it.
void RefuseAndDrain(ByteChannel& channel, const HttpLimits& limits, std::string_view answer);
void RefuseAndDrain(int fd, const HttpLimits& limits, std::string_view answer);

}  // namespace lcx
