// Stored passwords as they come from a (maybe tampered) configuration file:
// "enc:" values of any content decrypt or yield "", never anything else, and
// what ProtectString makes always comes back.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "security/digest.h"
#include "security/protect.h"

namespace {

std::optional<std::string> FixedKeyMaterial() { return std::string("fuzz machine|key"); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace lcx;
  static const bool key_set = (SetProtectionKeySourceForTesting(FixedKeyMaterial), true);
  (void)key_set;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);

  const std::string as_stored = UnprotectString(bytes);
  if (bytes.rfind("enc:", 0) != 0) LCX_FUZZ_CHECK(as_stored == bytes);
  // The same bytes as a blob, so the fuzzer reaches the decryption itself.
  UnprotectString("enc:" + Base64Encode(bytes));
  ResolveAdminPassword(bytes, true);
  ResolveAdminPassword(bytes, false);

  if (size <= 256) {
    std::optional<std::string> protected_text = ProtectString(bytes);
    LCX_FUZZ_CHECK(protected_text && UnprotectString(*protected_text) == bytes);
  }
  return 0;
}
