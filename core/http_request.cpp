// One request read, one answer written, over a connected socket.
#include "core/http_request.h"

#include <algorithm>

#include "platform/net.h"
#include "platform/system.h"

namespace lcx {
namespace {

constexpr size_t kReceiveChunk = 4096;
constexpr size_t kSendChunk = 16384;

// Time left before `deadline_ms`, at most `cap_ms` when that is set; 0 once
// it has passed.
int TimeLeftMs(uint64_t deadline_ms, int cap_ms) {
  uint64_t now = BootTickMs();
  if (now >= deadline_ms) return 0;
  uint64_t left = deadline_ms - now;
  if (cap_ms > 0) left = std::min<uint64_t>(left, static_cast<uint64_t>(cap_ms));
  return static_cast<int>(std::min<uint64_t>(left, 1u << 30));
}

// One receive appended to `text`; false when the peer closed, failed or the
// budget ran out.
bool ReceiveMore(ByteChannel& channel, uint64_t deadline_ms, int timeout_ms, std::string& text) {
  int wait_ms = TimeLeftMs(deadline_ms, timeout_ms);
  if (wait_ms == 0) return false;
  char chunk[kReceiveChunk];
  long n = channel.Receive(chunk, sizeof chunk, wait_ms);
  if (n <= 0) return false;
  text.append(chunk, static_cast<size_t>(n));
  return true;
}

}  // namespace

HttpRead ReadHttpRequest(int fd, const HttpLimits& limits, HttpRequest& request) {
  SocketChannel channel(fd);
  return ReadHttpRequest(channel, limits, request);
}

bool SendHttpAnswer(int fd, const HttpLimits& limits, std::string_view answer) {
  SocketChannel channel(fd);
  return SendHttpAnswer(channel, limits, answer);
}

void RefuseAndDrain(int fd, const HttpLimits& limits, std::string_view answer) {
  SocketChannel channel(fd);
  RefuseAndDrain(channel, limits, answer);
}

HttpRead ReadHttpRequest(ByteChannel& channel, const HttpLimits& limits, HttpRequest& request) {
  const uint64_t deadline = BootTickMs() + static_cast<uint64_t>(std::max(limits.request_deadline_ms, 0));
  std::string& text = request.text;
  text.clear();
  size_t blank = std::string::npos;
  while (blank == std::string::npos) {
    size_t searched = text.size() >= 3 ? text.size() - 3 : 0;
    if (!ReceiveMore(channel, deadline, limits.receive_timeout_ms, text)) return HttpRead::kClosed;
    blank = text.find("\r\n\r\n", searched);
    if (blank == std::string::npos && text.size() > limits.max_head_bytes) return HttpRead::kHeaderTooLarge;
  }
  request.body_start = blank + 4;
  HeadLimits head_limits;
  head_limits.max_fields = limits.max_fields;
  head_limits.max_line_bytes = limits.max_head_bytes;
  if (ParseRequestHead(request.Head(), request.head, head_limits) != HeadStatus::kOk) {
    return HttpRead::kHeaderTooLarge;
  }

  // Only the head announces a length: a body may well hold the text.
  std::optional<int64_t> announced = ContentLength(request.head);
  if (!announced) return HttpRead::kBadLength;
  const uint64_t length = static_cast<uint64_t>(*announced);
  if (length > limits.max_body_bytes || length + request.body_start > limits.max_request_bytes) {
    return HttpRead::kBodyTooLarge;
  }
  const size_t wanted = request.body_start + static_cast<size_t>(length);
  while (text.size() < wanted) {
    if (!ReceiveMore(channel, deadline, limits.receive_timeout_ms, text)) {
      if (limits.refuse_short_body) return HttpRead::kIncompleteBody;
      break;
    }
  }
  if (!limits.keep_bytes_beyond_length && text.size() > wanted) text.resize(wanted);
  return HttpRead::kComplete;
}

bool SendHttpAnswer(ByteChannel& channel, const HttpLimits& limits, std::string_view answer) {
  if (limits.answer_deadline_ms <= 0) return channel.Send(answer, limits.send_timeout_ms);
  const uint64_t deadline = BootTickMs() + static_cast<uint64_t>(limits.answer_deadline_ms);
  while (!answer.empty()) {
    int wait_ms = TimeLeftMs(deadline, limits.send_timeout_ms);
    if (wait_ms == 0) return false;
    std::string_view chunk = answer.substr(0, kSendChunk);
    if (!channel.Send(chunk, wait_ms)) return false;
    answer.remove_prefix(chunk.size());
  }
  return true;
}

void RefuseAndDrain(ByteChannel& channel, const HttpLimits& limits, std::string_view answer) {
  if (!SendHttpAnswer(channel, limits, answer)) return;
  channel.ShutdownWrite();
  const uint64_t deadline = BootTickMs() + static_cast<uint64_t>(std::max(limits.drain_ms, 0));
  std::string sink;
  for (int i = 0; i < 64; ++i) {
    sink.clear();
    if (!ReceiveMore(channel, deadline, 0, sink)) break;
  }
}

}  // namespace lcx
