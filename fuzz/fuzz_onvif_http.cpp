// The ONVIF request reader over a peer that sent the fuzzer's bytes and
// closed: whatever it returns must be consistent with the size bound and the
// header block, and the refusal answers must be well formed.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "onvif/onvif_http.h"
#include "onvif/onvif_service.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace lcx;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  RequestContentLength(bytes);
  lcx::UniqueFd fd = fuzz::PeerThatSent(bytes);
  if (!fd) return 0;
  OnvifLimits limits;
  limits.receive_timeout_ms = 1000;
  limits.max_request_bytes = 4096;  // small, so inputs reach the bound
  OnvifRequest request;
  const RequestRead read = ReadOnvifRequest(fd.get(), limits, request);
  if (read == RequestRead::kComplete) {
    LCX_FUZZ_CHECK(request.body_start >= 4 && request.body_start <= request.text.size());
    LCX_FUZZ_CHECK(request.text.compare(request.body_start - 4, 4, "\r\n\r\n") == 0);
    LCX_FUZZ_CHECK(request.text.find("\r\n\r\n") + 4 == request.body_start);
    const int64_t length = RequestContentLength(std::string_view(request.text).substr(0, request.body_start));
    LCX_FUZZ_CHECK(length <= 0 || static_cast<uint64_t>(length) + request.body_start <= limits.max_request_bytes);
    LCX_FUZZ_CHECK(request.text == bytes.substr(0, request.text.size()));
    request.Body();
  }
  const std::string refusal = RefusalAnswer(read);
  LCX_FUZZ_CHECK(refusal.empty() == (read == RequestRead::kComplete || read == RequestRead::kNoHeader));
  return 0;
}
