#include "onvif/onvif_http.h"

#include <cerrno>
#include <chrono>
#include <limits>

#include "onvif/onvif_answers.h"
#include "onvif/onvif_service.h"
#include "platform/net.h"

namespace lcx {
namespace {

constexpr size_t kChunk = 4096;

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// One receive within what is left of the budget; <= 0 ends the reading.
ssize_t ReceiveChunk(int fd, int64_t deadline_ms, std::string& text) {
  int64_t left = deadline_ms - NowMs();
  if (left <= 0) return -1;
  SetReceiveTimeoutMs(fd, static_cast<int>(left < 1 ? 1 : left));
  char buf[kChunk];
  ssize_t n = ReceiveSome(fd, buf, sizeof buf);
  if (n > 0) text.append(buf, static_cast<size_t>(n));
  return n;
}

}  // namespace

int64_t RequestContentLength(std::string_view text) {
  size_t pos = text.find("Content-Length:");
  if (pos == std::string_view::npos) pos = text.find("content-length:");
  if (pos == std::string_view::npos) return 0;
  size_t i = pos + 15;
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; };
  while (i < text.size() && blank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int64_t value = 0;
  constexpr int64_t kMax = std::numeric_limits<int64_t>::max() / 10 - 10;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    if (value < kMax) value = value * 10 + (text[i] - '0');
  }
  return negative ? -value : value;
}

RequestRead ReadOnvifRequest(int fd, const OnvifLimits& limits, OnvifRequest& request) {
  std::string& text = request.text;
  text.clear();
  const int64_t deadline = NowMs() + limits.receive_timeout_ms;

  size_t header_end = std::string::npos;
  while (header_end == std::string::npos) {
    size_t searched = text.size() >= 3 ? text.size() - 3 : 0;
    if (ReceiveChunk(fd, deadline, text) <= 0) return RequestRead::kNoHeader;
    header_end = text.find("\r\n\r\n", searched);
    if (header_end == std::string::npos && text.size() > limits.max_request_bytes) {
      return RequestRead::kHeaderTooLarge;
    }
  }
  request.body_start = header_end + 4;

  // Only the header block announces a length: a body may hold the text.
  int64_t length = RequestContentLength(std::string_view(text).substr(0, request.body_start));
  if (length > 0 && static_cast<uint64_t>(length) + request.body_start > limits.max_request_bytes) {
    return RequestRead::kBodyTooLarge;
  }
  const int64_t wanted = static_cast<int64_t>(request.body_start) + length;
  while (static_cast<int64_t>(text.size()) < wanted) {
    // A peer that stops early or stalls gets its request handled as it stands.
    if (ReceiveChunk(fd, deadline, text) <= 0) break;
  }
  return RequestRead::kComplete;
}

std::string RefusalAnswer(RequestRead read) {
  switch (read) {
    case RequestRead::kHeaderTooLarge: return EmptyAnswer("431 Request Header Fields Too Large");
    case RequestRead::kBodyTooLarge: return EmptyAnswer("413 Payload Too Large");
    case RequestRead::kComplete:
    case RequestRead::kNoHeader: break;
  }
  return {};
}

bool WriteOnvifAnswer(int fd, const OnvifLimits& limits, std::string_view answer) {
  SetSendTimeoutMs(fd, limits.send_timeout_ms);
  return SendAll(fd, answer);
}

void RefuseAndDrain(int fd, const OnvifLimits& limits, std::string_view answer) {
  WriteOnvifAnswer(fd, limits, answer);
  ShutdownWrite(fd);
  constexpr int64_t kDrainMs = 500;
  const int64_t deadline = NowMs() + kDrainMs;
  std::string sink;
  for (int i = 0; i < 64; ++i) {
    sink.clear();
    if (ReceiveChunk(fd, deadline, sink) <= 0) break;
  }
}

}  // namespace lcx
