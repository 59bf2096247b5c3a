#include "security/recovery_code.h"

#include <gtest/gtest.h>

#include "platform/system.h"
#include "security/recovery_code_testing.h"

namespace lcx {
namespace {

constexpr char kMachineId[] = "3f9a1c0d7e52b8a46c1de09f7b3a25e8c4d6f0a1b29e7c53d8f4a60b1c2e9d75";

const TestRecoveryKey& Key() {
  static const TestRecoveryKey key;
  return key;
}

TEST(RecoveryKeyBlob, ShippedKeyIsA2048BitPublicBlob) {
  std::string blob;
  ASSERT_TRUE(ReadWholeFile(std::string(LCX_SOURCE_DIR) + "/resources/recovery_public.key", blob));
  ASSERT_EQ(blob.size(), 283u);
  std::optional<RsaPublicKey> key = ParseRsaPublicBlob(blob);
  ASSERT_TRUE(key);
  EXPECT_EQ(key->bit_length, 2048u);
  EXPECT_EQ(key->exponent, std::string("\x01\x00\x01", 3));
  EXPECT_EQ(key->modulus.size(), 256u);
  EXPECT_NE(static_cast<unsigned char>(key->modulus[0]) & 0x80, 0);  // a full 2048-bit modulus
  EXPECT_EQ(BuildRsaPublicBlob(*key), blob);
}

TEST(RecoveryKeyBlob, MalformedBlobsAreRefused) {
  ASSERT_TRUE(Key().valid());
  const std::string good = Key().PublicBlob();
  ASSERT_EQ(good.size(), 283u);
  auto with = [&](size_t at, char byte) {
    std::string b = good;
    b[at] = byte;
    return b;
  };
  struct Case {
    const char* name;
    std::string blob;
  } cases[] = {
      {"empty", ""},
      {"header only", good.substr(0, 24)},
      {"one byte short", good.substr(0, 282)},
      {"one byte extra", good + "x"},
      {"private blob magic RSA2", with(3, '2')},
      {"prime size set", with(16, 1)},
      {"modulus size beyond the data", with(13, 2)},
      {"exponent size huge", with(11, 0x7f)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_FALSE(ParseRsaPublicBlob(c.blob));
    EXPECT_FALSE(VerifyRecoveryCode(Key().CodeFor(kMachineId), kMachineId, c.blob));
  }
}

TEST(RecoveryCode, Verify) {
  ASSERT_TRUE(Key().valid());
  const std::string blob = Key().PublicBlob();
  const std::string code = Key().CodeFor(kMachineId);
  TestRecoveryKey other_key;
  std::string with_breaks = code;
  with_breaks.insert(40, "\r\n");
  with_breaks.insert(0, " ");

  struct Case {
    const char* name;
    std::string code, machine_id, blob;
    bool valid;
  } cases[] = {
      {"code issued for this machine", code, kMachineId, blob, true},
      {"pasted with a blank and a line break", with_breaks, kMachineId, blob, true},
      {"code for another machine", Key().CodeFor("00" + std::string(kMachineId + 2)), kMachineId, blob, false},
      {"signed by another key", other_key.CodeFor(kMachineId), kMachineId, blob, false},
      {"signature over the bare identifier", Key().Sign(kMachineId), kMachineId, blob, false},
      {"empty code", "", kMachineId, blob, false},
      {"not Base64 at all", "!!!!", kMachineId, blob, false},
      {"truncated code", code.substr(0, code.size() - 8), kMachineId, blob, false},
      {"no key", code, kMachineId, "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(VerifyRecoveryCode(c.code, c.machine_id, c.blob), c.valid);
  }
}

TEST(RecoveryCode, Message) { EXPECT_EQ(RecoveryMessage("ab"), "LCXRESET:ab"); }

}  // namespace
}  // namespace lcx
