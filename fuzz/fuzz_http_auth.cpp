// The Authorization header as RTSP and ONVIF read it: the bytes both as a
// header's value and as a whole request whose head is parsed; Basic, Digest
// with and without qop, nonces ours or forged. Only the configured credentials may
// pass; a nonce that is not ours never does.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_check.h"
#include "rtsp/rtsp_auth.h"
#include "rtsp/rtsp_messages.h"
#include "security/http_auth.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace lcx;
  FuzzedDataProvider provider(data, size);
  const std::string password = provider.ConsumeBool() ? "secret" : "";
  const int64_t now = provider.ConsumeIntegralInRange<int64_t>(0, 100000);
  const std::string request = provider.ConsumeRemainingBytesAsString();

  const DigestNonceKey key{"fuzz-secret", now};
  const std::string nonce = MakeDigestNonce(key);
  const HttpAuthExpected expected{"DESCRIBE", "Lumicast", nonce, "admin", password};
  const bool rtsp = CheckHttpAuthorization(request, expected, kRtspHttpAuth);
  const bool onvif = CheckHttpAuthorization(request, expected, kOnvifHttpAuth);
  // The ONVIF options only add a form; an empty password never passes.
  LCX_FUZZ_CHECK(!rtsp || onvif);
  LCX_FUZZ_CHECK(password.size() > 0 || !onvif);

  RequestHead head;
  ParseRtspHead(request, head);
  const HttpAuthResult rtsp_nonce = CheckRtspAuth(head, "Lumicast", key, "admin", password);
  const HttpAuthResult onvif_nonce =
      CheckHttpAuthorizationNonce(request, "POST", "Lumicast", key, "admin", password, kOnvifHttpAuth);
  LCX_FUZZ_CHECK(password.size() > 0 || (rtsp_nonce == HttpAuthResult::kRefused &&
                                         onvif_nonce == HttpAuthResult::kRefused));
  CheckDigestNonce(request, key);
  CheckUserPassword(request, request, "admin", password);
  return 0;
}
