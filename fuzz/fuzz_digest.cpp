// Base64 both ways and the Authorization-header parameter lookup: decoding
// never fails, encoding round-trips, and a parameter's value is a piece of
// the line that holds no delimiter it was cut at.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_check.h"
#include "security/digest.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace lcx;
  FuzzedDataProvider provider(data, size);
  const std::string name = provider.ConsumeRandomLengthString(16);
  const std::string line = provider.ConsumeRemainingBytesAsString();

  const std::string decoded = Base64Decode(line);
  LCX_FUZZ_CHECK(decoded.size() <= line.size());
  LCX_FUZZ_CHECK(Base64Decode(Base64Encode(line)) == line);
  LCX_FUZZ_CHECK(Base64Decode(Base64Encode(decoded)) == decoded);

  const std::string value = GetAuthParam(line, name);
  LCX_FUZZ_CHECK(value.size() <= line.size());
  LCX_FUZZ_CHECK(value.empty() || line.find(value) != std::string::npos);
  for (const char* known : {"username", "realm", "nonce", "uri", "response", "qop", "nc", "cnonce"}) {
    GetAuthParam(line, known);
  }
  return 0;
}
