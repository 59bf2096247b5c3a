// WS-Security UsernameTokens in a SOAP body, and the element and date
// parsers they rest on. A token that passed once must not pass again.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "onvif/onvif_auth.h"
#include "onvif/onvif_service.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace lcx;
  const std::string_view body(reinterpret_cast<const char*>(data), size);
  OnvifService service;
  service.user = "user";
  service.password = "userpassword";
  OnvifAuthState state;
  // The creation time of the UsernameToken profile's worked example.
  state.clock.monotonic_s = [] { return int64_t{1284623445}; };
  state.clock.unix_s = [] { return int64_t{1284623445}; };

  const bool first = CheckWsSecurity(service, body, state);
  const bool again = CheckWsSecurity(service, body, state);
  // Only the password itself on the wire may pass twice: a digest is single use.
  if (first && again) LCX_FUZZ_CHECK(ExtractElementText(body, "Password") == service.password);
  IsProtectedOperation(body);
  for (const char* tag : {"Username", "Password", "Nonce", "Created"}) ExtractElementText(body, tag);
  // Years 0000..9999, offsets up to 14 h either way.
  if (auto seconds = ParseXsdDateTime(body)) LCX_FUZZ_CHECK(*seconds >= -62167219200 - 86400 && *seconds < 253402300800 + 86400);
  return 0;
}
