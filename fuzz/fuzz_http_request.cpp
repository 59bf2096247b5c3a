// The shared HTTP request reader over a peer that sent the fuzzer's bytes
// and closed, with the ONVIF port's options and the web panel's: whatever it
// returns must agree with the head, the bounds and the bytes sent, and the
// refusal answers must be well formed.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/http_request.h"
#include "fuzz/fuzz_check.h"
#include "onvif/onvif_answers.h"
#include "onvif/onvif_server.h"
#include "onvif/onvif_service.h"

namespace {

void ReadWith(std::string_view bytes, const lcx::HttpLimits& limits, bool keeps_surplus) {
  using namespace lcx;
  UniqueFd fd = fuzz::PeerThatSent(bytes);
  if (!fd) return;
  HttpRequest request;
  const HttpRead read = ReadHttpRequest(fd.get(), limits, request);
  if (read == HttpRead::kComplete) {
    LCX_FUZZ_CHECK(request.body_start >= 4 && request.body_start <= request.text.size());
    LCX_FUZZ_CHECK(request.text.compare(request.body_start - 4, 4, "\r\n\r\n") == 0);
    LCX_FUZZ_CHECK(request.text.find("\r\n\r\n") + 4 == request.body_start);
    const std::optional<int64_t> length = ContentLength(request.head);
    LCX_FUZZ_CHECK(length.has_value());
    LCX_FUZZ_CHECK(static_cast<uint64_t>(*length) <= limits.max_body_bytes);
    LCX_FUZZ_CHECK(static_cast<uint64_t>(*length) + request.body_start <= limits.max_request_bytes);
    if (!keeps_surplus) LCX_FUZZ_CHECK(request.Body().size() == static_cast<size_t>(*length));
    LCX_FUZZ_CHECK(request.text == bytes.substr(0, request.text.size()));
  }
  const std::string refusal = OnvifRefusal(read);
  LCX_FUZZ_CHECK(refusal.empty() == (read == HttpRead::kComplete || read == HttpRead::kClosed));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace lcx;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  OnvifLimits onvif;
  onvif.receive_timeout_ms = 1000;
  onvif.max_request_bytes = 4096;  // small, so inputs reach the bound
  ReadWith(bytes, OnvifHttpLimits(onvif), true);
  HttpLimits web;  // the web panel's options, bounds as small
  web.max_head_bytes = 2048;
  web.max_body_bytes = 2048;
  web.request_deadline_ms = 1000;
  ReadWith(bytes, web, false);
  return 0;
}
