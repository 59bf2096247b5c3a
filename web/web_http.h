// Framing on the web panel's port: reads one request (head up to the blank
// line, then the announced body) within size bounds and time-outs, and writes
// answers. The only web code, with the accept loop, that touches descriptors.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "web/web_request.h"

namespace lcx {

struct WebLimits {
  size_t max_header_bytes = 16384;  // checked after each 4096-byte receive
  int64_t max_body_bytes = 65536;
  int receive_timeout_ms = 6000;    // each receive
  int send_timeout_ms = 6000;       // each send
  // Whole-request and whole-answer budgets: without them a peer sending or
  // reading one byte every few seconds would hold its thread for hours.
  int request_deadline_ms = 20000;
  int answer_deadline_ms = 30000;
  int max_connections = 32;         // connection threads at once
  // When all are taken, a peer that has sent no whole request for this long
  // is cut to make room; a real browser's request arrives in one segment.
  int min_reading_before_cut_ms = 250;
};

enum class WebRead {
  kComplete,
  kClosed,          // closed, failed or silent before the head ended: no answer
  kHeaderTooLarge,  // 431
  kBodyTooLarge,    // 413 (also a negative Content-Length)
  kIncompleteBody,  // 400
};

// Fills head and body, then method and path.
WebRead ReadWebRequest(int fd, const WebLimits& limits, WebRequest& request);
// The answer to a request that could not be read; "" for kClosed.
std::string ReadFailureReply(WebRead outcome);

// Sends a whole answer (built by BuildResponse or one of the prepared
// replies of web_routes.h) within the answer budget; false when the peer
// stopped taking it.
bool SendAnswer(int fd, std::string_view bytes, const WebLimits& limits);

}  // namespace lcx
