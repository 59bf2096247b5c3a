#include "app/roles.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <sstream>

#include "core/config.h"
#include "core/credentials.h"
#include "platform/instance.h"
#include "platform/system.h"
#include "platform/temp_dir_testing.h"
#include "security/protect.h"

namespace lcx {
namespace {

class RolesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(home_.ok());
    dir_ = home_.path();
    home_.env().Set("ProgramData", dir_);
    lock_path_ = dir_ + "/instance.lock";
    hooks_.send_show_admin = [this] { return calls_ += "show-admin;", peer_listens_; };
    hooks_.open_url = [this](const std::string& url) { calls_ += "open " + url + ";"; };
    hooks_.sleep_ms = [this](int ms) {
      slept_ms_ += ms;
      if (release_after_ms_ >= 0 && slept_ms_ >= release_after_ms_) holder_.reset();
    };
  }
  void TearDown() override { SetProtectionKeySourceForTesting(nullptr); }

  void HoldLock() { ASSERT_EQ(TryAcquireInstanceLock(lock_path_, holder_), LockResult::kAcquired); }

  TempHome home_{"lcx-startup"};
  std::string dir_, lock_path_, calls_;
  bool peer_listens_ = true;
  int slept_ms_ = 0, release_after_ms_ = -1;
  UniqueFd holder_;
  InstanceHooks hooks_;
};

TEST_F(RolesTest, FirstInstanceProceedsAndHoldsTheGuard) {
  UniqueFd lock;
  EXPECT_EQ(GuardSingleInstance(lock_path_, false, false, 8080, lock, hooks_), InstanceOutcome::kProceed);
  EXPECT_TRUE(lock.valid());
  UniqueFd other;
  EXPECT_EQ(TryAcquireInstanceLock(lock_path_, other), LockResult::kHeldElsewhere);
  EXPECT_EQ(calls_, "");
}

TEST_F(RolesTest, SecondStartDefersToTheRunningCopy) {
  HoldLock();
  struct Case {
    const char* name;
    bool background, peer_listens;
    const char* calls;
  } cases[] = {
      {"interactive, peer listens", false, true, "show-admin;"},
      {"interactive, no peer window", false, false, "show-admin;open http://127.0.0.1:8181/;"},
      {"background is silent", true, true, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    calls_.clear();
    peer_listens_ = c.peer_listens;
    UniqueFd lock;
    EXPECT_EQ(GuardSingleInstance(lock_path_, false, c.background, 8181, lock, hooks_),
              InstanceOutcome::kDeferredToPeer);
    EXPECT_EQ(calls_, c.calls);
    EXPECT_FALSE(lock.valid());
  }
}

TEST_F(RolesTest, RelaunchWaitsForThePredecessor) {
  HoldLock();
  release_after_ms_ = 700;
  UniqueFd lock;
  EXPECT_EQ(GuardSingleInstance(lock_path_, true, true, 8080, lock, hooks_), InstanceOutcome::kProceed);
  EXPECT_EQ(slept_ms_, 700);
  EXPECT_TRUE(lock.valid()) << "took over the guard once it was free";
}

TEST_F(RolesTest, RelaunchGivesUpWaitingAfterSixSeconds) {
  HoldLock();
  UniqueFd lock;
  EXPECT_EQ(GuardSingleInstance(lock_path_, true, false, 8080, lock, hooks_), InstanceOutcome::kProceed);
  EXPECT_EQ(slept_ms_, 6000);
  EXPECT_FALSE(lock.valid());
  EXPECT_EQ(calls_, "") << "a relaunch never asks the old copy for its window";
}

std::optional<std::string> NoKeyMaterial() { return std::nullopt; }

TEST_F(RolesTest, CheckPassAndSavedCredentials) {
  EXPECT_EQ(CheckPassRole("admin"), 0) << "no file: the default password";
  EXPECT_EQ(CheckPassRole("wrong"), 1);

  ASSERT_TRUE(SaveAdminCredentials("op", "s3cret:x"));
  ConfigMap m = LoadConfig(ConfigPath());
  EXPECT_EQ(m.at("admin_user"), "op");
  EXPECT_EQ(m.at("admin_pass").rfind("enc:", 0), 0u);
  EXPECT_TRUE(PasswordProtected());
  EXPECT_EQ(CheckPassRole("s3cret:x"), 0);
  EXPECT_EQ(CheckPassRole("admin"), 1);

  SaveConfigKeys({{"admin_pass", "enc:AAAA"}});
  EXPECT_EQ(CheckPassRole(""), 0) << "an undecryptable value compares as the empty text";
}

TEST(Roles, CheckPassReadsOneLineForADash) {
  struct Case {
    const char* name;
    const char* word;
    const char* input;
    std::optional<std::string> want;
  } cases[] = {
      {"the word itself", "s3cret", "ignored\n", "s3cret"},
      {"dash: one line without its LF", "-", "s3cret:x\nsecond\n", "s3cret:x"},
      {"dash: CR LF line end", "-", "s3cret\r\n", "s3cret"},
      {"dash: last line without a line end", "-", "s3cret", "s3cret"},
      {"dash: blanks belong to the password", "-", " pass word \n", " pass word "},
      {"dash: an empty line is the empty password", "-", "\n", ""},
      {"dash: nothing at all", "-", "", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::istringstream in(c.input);
    EXPECT_EQ(CheckPassPassword(c.word, in), c.want);
  }
}

TEST_F(RolesTest, UnprotectablePasswordFailsTheSave) {
  ASSERT_TRUE(SaveConfigKeys({{"admin_pass", "admin"}}));
  std::string before;
  ReadWholeFile(ConfigPath(), before);
  SetProtectionKeySourceForTesting(&NoKeyMaterial);
  EXPECT_FALSE(SaveAdminCredentials("op", "new-password"));
  std::string after;
  ReadWholeFile(ConfigPath(), after);
  EXPECT_EQ(after, before) << "nothing written";
  EXPECT_FALSE(PasswordProtected()) << "flag unchanged, so the old password still works";
}

TEST(Roles, SelectedInThreePasses) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    Role role;
    const char* argument;
    bool relaunch, background;
    bool terminal_agreement = false;
  } cases[] = {
      {"nothing", {}, Role::kEngine, "", false, false},
      {"ports only", {"554", "8000"}, Role::kEngine, "", false, false},
      {"service anywhere wins", {"--check-pass", "x", "--service"}, Role::kService, "", false, false},
      {"first service word", {"--uninstall-service", "--install-service"}, Role::kUninstallService, "", false, false},
      {"dump before check-pass", {"--check-pass", "pw", "--dump-screens", "/d"}, Role::kDumpScreens, "/d", false, false},
      {"dump as the last word is ignored", {"--dump-screens"}, Role::kEngine, "", false, false},
      {"check-pass takes the next word", {"--check-pass", "--background"}, Role::kCheckPass, "--background", false, true},
      {"flags anywhere", {"9000", "--background", "--relaunch"}, Role::kEngine, "", true, true},
      {"words are case-sensitive", {"--Service", "--RELAUNCH"}, Role::kEngine, "", false, false},
      {"the run command's private screen", {"9000", "--terminal-agreement"}, Role::kEngine, "", false, false, true},
      {"agreement text", {"--agreement-text"}, Role::kAgreementText, "", false, false},
      {"accept the agreement", {"--background", "--accept-agreement"}, Role::kAcceptAgreement, "", false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Invocation inv = SelectRole(c.args);
    EXPECT_EQ(inv.role, c.role);
    EXPECT_EQ(inv.argument, c.argument);
    EXPECT_EQ(inv.relaunch, c.relaunch);
    EXPECT_EQ(inv.background, c.background);
    EXPECT_EQ(inv.terminal_agreement, c.terminal_agreement);
  }
}

}  // namespace
}  // namespace lcx
