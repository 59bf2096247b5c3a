#include "rtsp/rtsp_framer.h"

#include <algorithm>

#include "core/request_head.h"

namespace lcx {
namespace {

constexpr size_t kInterleavedHeaderBytes = 4;  // "$", channel, 16-bit length

// Announced body length, read from the head only (a body may well contain
// the text). A length that is no number announces no body: players send
// none, and the request is answered all the same.
size_t BodyLength(std::string_view header) {
  RequestHead head;
  ParseRequestHead(header, head);
  std::optional<int64_t> length = ContentLength(head);
  return length ? static_cast<size_t>(std::min<int64_t>(*length, int64_t{1} << 40)) : 0;
}

}  // namespace

void FeedRtspFramer(RtspFramer& framer, std::string_view bytes) {
  // Dropped frames are never buffered, whatever their length.
  size_t dropped = framer.skip < bytes.size() ? framer.skip : bytes.size();
  framer.skip -= dropped;
  framer.pending.append(bytes.substr(dropped));
}

FramerStatus NextRtspRequest(RtspFramer& framer, std::string* request, size_t max_request_bytes) {
  std::string& pending = framer.pending;
  for (;;) {
    // Clients may end a message with one CRLF too many.
    size_t start = pending.find_first_not_of("\r\n");
    pending.erase(0, start == std::string::npos ? pending.size() : start);
    if (pending.empty()) return FramerStatus::kNeedMore;
    if (pending[0] != '$') break;
    if (pending.size() < kInterleavedHeaderBytes) return FramerStatus::kNeedMore;
    size_t length = (static_cast<unsigned char>(pending[2]) << 8) | static_cast<unsigned char>(pending[3]);
    size_t here = pending.size() - kInterleavedHeaderBytes;
    if (here < length) {
      framer.skip = length - here;
      pending.clear();
      return FramerStatus::kNeedMore;
    }
    pending.erase(0, kInterleavedHeaderBytes + length);
  }
  size_t blank = pending.find("\r\n\r\n");
  if (blank == std::string::npos) {
    return pending.size() >= max_request_bytes ? FramerStatus::kTooLarge : FramerStatus::kNeedMore;
  }
  const size_t header_bytes = blank + 4;
  const size_t total = header_bytes + BodyLength(std::string_view(pending).substr(0, header_bytes));
  if (total > max_request_bytes) return FramerStatus::kTooLarge;
  if (pending.size() < total) return FramerStatus::kNeedMore;
  request->assign(pending, 0, total);
  pending.erase(0, total);
  return FramerStatus::kRequest;
}

}  // namespace lcx
