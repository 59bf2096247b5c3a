#include "security/protect.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/system.h"
#include "platform/temp_dir_testing.h"
#include "security/digest.h"
#include "security/machine_id.h"

namespace lcx {
namespace {

std::optional<std::string> OtherMachine() { return std::string("another-machine|x|0000ABCD"); }
std::optional<std::string> NoKeyMaterial() { return std::nullopt; }

std::optional<std::string> MachineA() { return std::string("machine-a|x|0000ABCD"); }

class ProtectTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(home_.ok()); }
  void TearDown() override { SetProtectionKeySourceForTesting(nullptr); }
  TempHome home_{"lcx-protect"};
  const std::string dir_ = home_.config_home();
};

// Made under MachineA by the machine-only key, before the user's secret
// was added: such values stand in lcx.cfg and sessions.dat of old installs.
constexpr char kOldPassword[] = "enc:Ab4fkSTxpp58R8cG04/WfOvSO5zeNJt9XxJ+GKTwrPcIgqbkPMF4Uw==";
constexpr char kOldSessions[] = "enc:ATWvtX84Dw6YO9WeE21i+uOUVGVF7aeoYGaMCbpAXmgWsQRLBGk=";

TEST_F(ProtectTest, OldValuesReadNewOnesNeedTheUsersSecret) {
  SetProtectionKeySourceForTesting(&MachineA);
  const std::string fresh = *ProtectString("s3cret-pass");
  const std::string reprotected = *ReprotectString(kOldPassword);
  const std::string key_path = dir_ + "/Halvorix/LCX/key";
  struct stat st {};
  ASSERT_EQ(::stat(key_path.c_str(), &st), 0) << "made at first need";
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(st.st_size, 32);
  ASSERT_EQ(::stat((dir_ + "/Halvorix/LCX").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);

  struct Case {
    const char* name;
    std::string stored;
    std::string plain;
    bool old_way;
  } cases[] = {
      {"old password", kOldPassword, "s3cret-pass", true},
      {"old session file", kOldSessions, "tok1 100\n", true},
      {"new value", fresh, "s3cret-pass", false},
      {"old value written anew", reprotected, "s3cret-pass", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(UnprotectString(c.stored), c.plain);
    EXPECT_EQ(ProtectedTheOldWay(c.stored), c.old_way);
    EXPECT_EQ(ReprotectString(c.stored).has_value(), c.old_way);
  }

  // Another account: the same machine, its own secret file.
  TempHome other("lcx-protect-other");
  EXPECT_EQ(UnprotectString(kOldPassword), "s3cret-pass") << "the old way was readable by every account";
  EXPECT_EQ(UnprotectString(fresh), "");
  EXPECT_EQ(UnprotectString(reprotected), "");
}

TEST_F(ProtectTest, ADamagedOrForeignSecretFileIsNeverReplaced) {
  SetProtectionKeySourceForTesting(&MachineA);
  const std::string stored = *ProtectString("pw");
  const std::string key_path = dir_ + "/Halvorix/LCX/key";
  std::string key;
  ASSERT_TRUE(ReadWholeFile(key_path, key));
  ASSERT_EQ(::chmod(key_path.c_str(), 0644), 0);
  EXPECT_EQ(UnprotectString(stored), "pw") << "a looser mode is tightened, the key kept";
  struct stat st {};
  ASSERT_EQ(::stat(key_path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  ASSERT_TRUE(WriteFileSynced(key_path, "short"));
  EXPECT_FALSE(ProtectString("pw").has_value()) << "a damaged key is not silently replaced";
  ASSERT_TRUE(RemoveFile(key_path));
  ASSERT_EQ(::symlink("/dev/zero", key_path.c_str()), 0);
  EXPECT_FALSE(ProtectString("pw").has_value()) << "a link in its place is not followed";
}

TEST_F(ProtectTest, RoundTripAndForm) {
  for (std::string plain : {std::string("admin"), std::string("p:a ss\x7f"), std::string(64, 'x')}) {
    auto stored = ProtectString(plain);
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->rfind("enc:", 0), 0u);
    EXPECT_EQ(UnprotectString(*stored), plain);
    EXPECT_NE(*ProtectString(plain), *stored) << "fresh nonce each time";
  }
  EXPECT_EQ(UnprotectString("admin"), "admin") << "plain values pass through";
  EXPECT_EQ(UnprotectString("enc"), "enc");
}

TEST_F(ProtectTest, ForeignOrDamagedBlobsFail) {
  std::string stored = *ProtectString("secret");
  std::string blob = Base64Decode(stored.substr(4));

  std::string flipped = blob;
  flipped[flipped.size() / 2] ^= 0x01;
  std::string truncated = blob.substr(0, blob.size() - 1);
  const std::string damaged[] = {"enc:", "enc:" + Base64Encode(flipped), "enc:" + Base64Encode(truncated),
                                 "enc:!!!!"};
  for (const auto& d : damaged) EXPECT_EQ(UnprotectString(d), "") << d;

  SetProtectionKeySourceForTesting(&OtherMachine);
  EXPECT_EQ(UnprotectString(stored), "") << "a blob from another machine";
}

TEST_F(ProtectTest, UnavailableProtectionIsReported) {
  SetProtectionKeySourceForTesting(&NoKeyMaterial);
  EXPECT_FALSE(ProtectString("secret").has_value());
}

TEST_F(ProtectTest, FlagReadsTrueOnlyForExactlyOne) {
  EXPECT_FALSE(PasswordProtected()) << "missing file";
  EXPECT_TRUE(SetPasswordProtectedFlag(true));
  EXPECT_TRUE(PasswordProtected());
  EXPECT_TRUE(SetPasswordProtectedFlag(false));
  EXPECT_FALSE(PasswordProtected());
  for (const char* v : {"true", "01", "1\n", ""}) {
    WriteFileSynced(dir_ + "/Halvorix/LCX/pwenc", v);
    EXPECT_FALSE(PasswordProtected()) << v;
  }
}

TEST_F(ProtectTest, FailedFlagWriteIsReported) {
  ASSERT_TRUE(SetPasswordProtectedFlag(false));
  // A directory where the flag's temporary file goes makes every write fail,
  // even for root.
  MakeDirectories(dir_ + "/Halvorix/LCX/pwenc.tmp");
  EXPECT_FALSE(SetPasswordProtectedFlag(true));
  EXPECT_FALSE(PasswordProtected()) << "the previous value stays";
  EXPECT_TRUE(SetPasswordProtectedFlag(false)) << "the flag already reads off";
}

TEST_F(ProtectTest, PasswordStatesAtStartup) {
  const std::string good = *ProtectString("n3w");
  const std::string marker = LockedPasswordMarker();
  ASSERT_EQ(marker, std::string("\x01LOCKED-") + GetMachineId());
  struct Case {
    const char* name;
    std::string stored;
    bool flag;
    std::string plain;
  } cases[] = {
      {"default plain, no flag", "admin", false, "admin"},
      {"plain while flag set (edited by hand)", "admin", true, marker},
      {"protected, flag set", good, true, "n3w"},
      {"protected, flag cleared", good, false, "n3w"},
      {"enc: with nothing after it", "enc:", false, marker},
      {"undecryptable", "enc:AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA", true, marker},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ResolvedPassword r = ResolveAdminPassword(c.stored, c.flag);
    EXPECT_EQ(r.plain, c.plain);
    EXPECT_EQ(r.locked, c.plain == marker);
  }
}

TEST(MachineId, JoinsSourcesAndHashes) {
  EXPECT_EQ(MachineIdText("guid", "", "0000ABCD"), "guid||0000ABCD");
  EXPECT_EQ(MachineIdFromText("||00000000"), HexLower(Sha256Digest("||00000000")));
  std::string id = GetMachineId();
  EXPECT_EQ(id.size(), 64u);
  EXPECT_EQ(id.find_first_not_of("0123456789abcdef"), std::string::npos);
  EXPECT_EQ(GetMachineId(), id);
}

}  // namespace
}  // namespace lcx
