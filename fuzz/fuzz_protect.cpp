// Stored passwords as they come from a (maybe tampered) configuration file:
// "enc:" values of any content decrypt or yield "", never anything else, and
// what ProtectString makes always comes back.
#include <stdlib.h>

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

// The user's key file is made under XDG_CONFIG_HOME: a folder of the run's
// own, never the real home of whoever fuzzes.
bool UsePrivateConfigHome() {
  char folder[] = "/tmp/lcx-fuzz-protect-XXXXXX";
  return mkdtemp(folder) && setenv("XDG_CONFIG_HOME", folder, 1) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace lcx;
  static const bool key_set = (SetProtectionKeySourceForTesting(FixedKeyMaterial), UsePrivateConfigHome());
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
