#include "web/web_http.h"

#include <algorithm>

#include "platform/net.h"
#include "platform/system.h"
#include "web/web_routes.h"

namespace lcx {
namespace {

constexpr size_t kReceiveChunk = 4096;
constexpr size_t kSendChunk = 16384;

// Time left before `deadline_ms`, at most `cap_ms`; 0 once it has passed.
int TimeLeftMs(uint64_t deadline_ms, int cap_ms) {
  uint64_t now = BootTickMs();
  if (now >= deadline_ms) return 0;
  return static_cast<int>(std::min<uint64_t>(deadline_ms - now, static_cast<uint64_t>(cap_ms)));
}

// One receive appended to `buffer`; false when the peer closed, failed or
// the budget ran out.
bool ReceiveMore(int fd, uint64_t deadline_ms, int timeout_ms, std::string& buffer) {
  int wait_ms = TimeLeftMs(deadline_ms, timeout_ms);
  if (wait_ms == 0 || !SetReceiveTimeoutMs(fd, wait_ms)) return false;
  char chunk[kReceiveChunk];
  long n = ReceiveSome(fd, chunk, sizeof chunk);
  if (n <= 0) return false;
  buffer.append(chunk, static_cast<size_t>(n));
  return true;
}

}  // namespace

WebRead ReadWebRequest(int fd, const WebLimits& limits, WebRequest& request) {
  const uint64_t deadline = BootTickMs() + static_cast<uint64_t>(limits.request_deadline_ms);
  std::string buffer;
  size_t header_end = std::string::npos;
  while (header_end == std::string::npos) {
    size_t searched = buffer.size() >= 3 ? buffer.size() - 3 : 0;
    if (!ReceiveMore(fd, deadline, limits.receive_timeout_ms, buffer)) return WebRead::kClosed;
    header_end = buffer.find("\r\n\r\n", searched);
    if (header_end == std::string::npos && buffer.size() > limits.max_header_bytes) {
      return WebRead::kHeaderTooLarge;
    }
  }
  const size_t body_start = header_end + 4;
  int64_t length = HeaderContentLength(std::string_view(buffer).substr(0, header_end));
  if (length < 0 || length > limits.max_body_bytes) return WebRead::kBodyTooLarge;
  const size_t wanted = body_start + static_cast<size_t>(length);
  while (buffer.size() < wanted) {
    if (!ReceiveMore(fd, deadline, limits.receive_timeout_ms, buffer)) return WebRead::kIncompleteBody;
  }
  request.head = buffer.substr(0, body_start);
  request.body = buffer.substr(body_start, static_cast<size_t>(length));
  SplitRequestLine(request);
  return WebRead::kComplete;
}

std::string ReadFailureReply(WebRead outcome) {
  switch (outcome) {
    case WebRead::kHeaderTooLarge:
      return BuildResponse("431 Request Header Fields Too Large", "too large", kTextType);
    case WebRead::kBodyTooLarge:
      return BuildResponse("413 Payload Too Large", "too large", kTextType);
    case WebRead::kIncompleteBody:
      return BuildResponse("400 Bad Request", "incomplete body", kTextType);
    case WebRead::kComplete:
    case WebRead::kClosed:
      break;
  }
  return {};
}

bool SendAnswer(int fd, std::string_view bytes, const WebLimits& limits) {
  const uint64_t deadline = BootTickMs() + static_cast<uint64_t>(limits.answer_deadline_ms);
  while (!bytes.empty()) {
    int wait_ms = TimeLeftMs(deadline, limits.send_timeout_ms);
    if (wait_ms == 0 || !SetSendTimeoutMs(fd, wait_ms)) return false;
    std::string_view chunk = bytes.substr(0, kSendChunk);
    if (!SendAll(fd, chunk)) return false;
    bytes.remove_prefix(chunk.size());
  }
  return true;
}

}  // namespace lcx
