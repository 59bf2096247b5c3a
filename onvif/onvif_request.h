// Framing on the ONVIF port: reads one HTTP request (header up to the blank
// line, then as much body as Content-Length announces) from a socket, within
// a time budget and a size bound.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace lcx {

struct OnvifLimits;

enum class RequestRead {
  kComplete,        // header ended; body as far as it arrived
  kNoHeader,        // peer closed, failed or ran out of time before the blank line
  kHeaderTooLarge,  // no blank line within the size bound
  kBodyTooLarge,    // announced body beyond the size bound
};

struct OnvifRequest {
  std::string text;       // everything received
  size_t body_start = 0;  // 4 past the first CRLFCRLF
  std::string_view Body() const {
    return body_start < text.size() ? std::string_view(text).substr(body_start) : std::string_view();
  }
};

// Value of "Content-Length:" (else "content-length:") read like atoi,
// saturated instead of overflowing; 0 when neither is present.
int64_t RequestContentLength(std::string_view text);

RequestRead ReadOnvifRequest(int fd, const OnvifLimits& limits, OnvifRequest& request);

}  // namespace lcx
