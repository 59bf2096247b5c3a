#include "core/credentials.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include "core/config.h"
#include "platform/system.h"
#include "security/protect.h"

namespace lcx {
namespace {

class Credentials : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/lcx-credentials-XXXXXX";
    dir_ = mkdtemp(tmpl);
    path_ = dir_ + "/lcx.cfg";
    setenv("XDG_CONFIG_HOME", (dir_ + "/cfg").c_str(), 1);
  }
  std::string dir_, path_;
};

TEST_F(Credentials, FlagThatCannotBeRaisedFailsTheSave) {
  ASSERT_TRUE(SaveConfigKeysAt(path_, {{"admin_pass", "admin"}}));
  // A directory where the flag's temporary file goes makes every flag write
  // fail, even for root.
  MakeDirectories(dir_ + "/cfg/Halvorix/LCX/pwenc.tmp");
  EXPECT_FALSE(SaveAdminCredentialsAt(path_, "op", "n3w"));
  EXPECT_FALSE(PasswordProtected());
  // What the next start would make of it: the new password, not a lock.
  ResolvedPassword next = ResolveAdminPassword(LoadConfig(path_).at("admin_pass"), PasswordProtected());
  EXPECT_FALSE(next.locked);
  EXPECT_EQ(next.plain, "n3w");
}

}  // namespace
}  // namespace lcx
