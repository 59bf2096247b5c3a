// The RTSP framer over a connection's bytes: the requests it cuts must not
// depend on how the bytes were split into reads, and each must fit the limit.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "rtsp/rtsp_framer.h"

namespace {

struct Cut {
  std::vector<std::string> requests;
  bool too_large = false;
};

// Feeds `bytes` in reads of the given sizes (the rest in one), cutting after
// each read as the session does.
Cut Frame(const std::string& bytes, const std::vector<size_t>& reads, size_t limit) {
  Cut cut;
  lcx::RtspFramer framer;
  size_t at = 0;
  auto drain = [&] {
    std::string request;
    for (;;) {
      lcx::FramerStatus status = lcx::NextRtspRequest(framer, &request, limit);
      if (status == lcx::FramerStatus::kRequest) {
        LCX_FUZZ_CHECK(request.size() <= limit);
        cut.requests.push_back(request);
        continue;
      }
      if (status == lcx::FramerStatus::kTooLarge) cut.too_large = true;
      return status == lcx::FramerStatus::kNeedMore;
    }
  };
  for (size_t n : reads) {
    if (at >= bytes.size()) break;
    n = std::min(n, bytes.size() - at);
    lcx::FeedRtspFramer(framer, std::string_view(bytes).substr(at, n));
    at += n;
    if (!drain()) return cut;
  }
  if (at < bytes.size()) {
    lcx::FeedRtspFramer(framer, std::string_view(bytes).substr(at));
    drain();
  }
  return cut;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider provider(data, size);
  const size_t limit = provider.ConsumeBool() ? lcx::kMaxRtspRequestBytes : provider.ConsumeIntegralInRange<size_t>(16, 512);
  std::vector<size_t> reads;
  for (int i = 0; i < 16 && provider.remaining_bytes() > 0; ++i) {
    reads.push_back(provider.ConsumeIntegralInRange<size_t>(1, 64));
  }
  const std::string bytes = provider.ConsumeRemainingBytesAsString();

  const Cut whole = Frame(bytes, {}, limit);
  const Cut split = Frame(bytes, reads, limit);
  LCX_FUZZ_CHECK(whole.too_large == split.too_large);
  // Until a request is refused as too large both see the same stream; once
  // refused the connection ends, so only the requests before it count.
  if (!whole.too_large) LCX_FUZZ_CHECK(whole.requests == split.requests);
  return 0;
}
