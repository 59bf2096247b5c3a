#include "core/credentials.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include "core/config.h"
#include "platform/system.h"
#include "security/protect.h"

namespace lcx {
namespace {

// Both writers of the protected-password flag and what they do when it
// cannot be written. Its own binary: these log, and the log test checks the
// process-wide store whole.
class Credentials : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/lcx-credentials-XXXXXX";
    dir_ = mkdtemp(tmpl);
    path_ = dir_ + "/lcx.cfg";
    setenv("XDG_CONFIG_HOME", (dir_ + "/cfg").c_str(), 1);
  }
  std::string Read() {
    std::string s;
    ReadWholeFile(path_, s);
    return s;
  }
  // A directory where the flag's temporary file goes makes every flag write
  // fail, even for root.
  void BlockFlagWrites() { MakeDirectories(dir_ + "/cfg/Halvorix/LCX/pwenc.tmp"); }
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

}  // namespace
}  // namespace lcx
