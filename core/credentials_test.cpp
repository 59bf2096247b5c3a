#include "core/credentials.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include "core/config.h"
#include "platform/system.h"
#include "platform/temp_dir_testing.h"
#include "security/protect.h"

namespace lcx {
namespace {

// Both writers of the protected-password flag and what they do when it
// cannot be written. Its own binary: these log, and the log test checks the
// process-wide store whole.
class Credentials : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tmp_.ok());
    dir_ = tmp_.path();
    path_ = dir_ + "/lcx.cfg";
    env_.Set("XDG_CONFIG_HOME", dir_ + "/cfg");
  }
  std::string Read() {
    std::string s;
    ReadWholeFile(path_, s);
    return s;
  }
  // A directory where the flag's temporary file goes makes every flag write
  // fail, even for root.
  void BlockFlagWrites() { MakeDirectories(dir_ + "/cfg/Halvorix/LCX/pwenc.tmp"); }
  TestDir tmp_{"lcx-credentials"};
  ScopedEnv env_;
  std::string dir_, path_;
};

TEST_F(Credentials, FlagThatCannotBeRaisedFailsTheSave) {
  ASSERT_TRUE(SaveConfigKeysAt(path_, {{"admin_pass", "admin"}}));
  BlockFlagWrites();
  EXPECT_FALSE(SaveAdminCredentialsAt(path_, "op", "n3w"));
  EXPECT_FALSE(PasswordProtected());
  // What the next start would make of it: the new password, not a lock.
  ResolvedPassword next = ResolveAdminPassword(LoadConfig(path_).at("admin_pass"), PasswordProtected());
  EXPECT_FALSE(next.locked);
  EXPECT_EQ(next.plain, "n3w");
}

TEST_F(Credentials, RestoreThatCannotClearTheFlagFails) {
  BlockFlagWrites();
  EXPECT_TRUE(WriteDefaultConfigAt(path_, ConfigTemplate::kWeb)) << "the flag already reads off";

  // A raised flag left in place would lock the restored plain "admin".
  ASSERT_TRUE(WriteFileSynced(dir_ + "/cfg/Halvorix/LCX/pwenc", "1"));
  EXPECT_FALSE(WriteDefaultConfigAt(path_, ConfigTemplate::kDesktop));
  EXPECT_EQ(Read(), DefaultConfigText(ConfigTemplate::kDesktop)) << "the template is in place; a retry is safe";
  EXPECT_TRUE(ResolveAdminPassword("admin", PasswordProtected()).locked) << "which is why it is reported";
}

TEST_F(Credentials, ResetPutsBackTheDefaultsAndClearsTheFlag) {
  ASSERT_TRUE(WriteFileSynced(path_, "# mine\r\nadmin_pass = enc:AAAA\r\nfps = 15\r\n"));
  ASSERT_TRUE(SetPasswordProtectedFlag(true));
  EXPECT_TRUE(ResetAdminCredentialsAt(path_, "Test"));
  EXPECT_EQ(Read(), "# mine\r\nadmin_pass = admin\r\nfps = 15\r\nadmin_user = admin\r\n");
  EXPECT_FALSE(PasswordProtected());

  // A flag that stays raised would lock the plain "admin": reported.
  ASSERT_TRUE(SetPasswordProtectedFlag(true));
  BlockFlagWrites();
  EXPECT_FALSE(ResetAdminCredentialsAt(path_, "Test"));
  EXPECT_FALSE(ResetAdminCredentialsAt(dir_ + "/missing/lcx.cfg", "Test")) << "a file that cannot be written";
}

}  // namespace
}  // namespace lcx
