// Cuts the bytes of one RTSP connection into whole requests: the header up to
// the blank line plus the body its Content-Length announces, however the
// bytes were split into reads. Interleaved "$" frames (a playing client's
// RTCP) between requests are dropped as they pass. Pure: bytes in, requests out.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace lcx {

// The largest request (header and body) a connection may send.
inline constexpr size_t kMaxRtspRequestBytes = 8191;

struct RtspFramer {
  std::string pending;  // received, not yet cut
  size_t skip = 0;      // bytes of an interleaved frame still to drop
};

enum class FramerStatus {
  kRequest,   // one whole request was cut
  kNeedMore,  // nothing whole yet: feed the next read
  kTooLarge,  // the request at hand cannot fit in max_request_bytes
};

void FeedRtspFramer(RtspFramer& framer, std::string_view bytes);
// Cuts the next whole request into *request when there is one.
FramerStatus NextRtspRequest(RtspFramer& framer, std::string* request,
                             size_t max_request_bytes = kMaxRtspRequestBytes);

}  // namespace lcx
