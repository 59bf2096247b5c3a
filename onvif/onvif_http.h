// Framing on the ONVIF port, the only ONVIF code besides accept that touches
// a descriptor: reads one HTTP request (header up to the blank line, then as
// much body as the header's Content-Length announces) within a time budget
// and a size bound, writes the answer, and refuses a request it will not read in full.
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
// saturated instead of overflowing; 0 when neither is present. Given the
// header block only.
int64_t RequestContentLength(std::string_view text);

RequestRead ReadOnvifRequest(int fd, const OnvifLimits& limits, OnvifRequest& request);

// The answer to a request that was not read in full (413 or 431); empty for
// the other outcomes.
std::string RefusalAnswer(RequestRead read);

// Sends the whole answer; a peer that stops reading is given up on after the
// send time-out (a snapshot is larger than the socket buffers).
bool WriteOnvifAnswer(int fd, const OnvifLimits& limits, std::string_view answer);
// Sends a refusal, then reads and drops what the peer still sends for a
// short while, so that closing does not reset the connection and destroy the
// answer before the peer has read it.
void RefuseAndDrain(int fd, const OnvifLimits& limits, std::string_view answer);

}  // namespace lcx
