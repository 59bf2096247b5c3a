#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <thread>

#include "platform/instance.h"
#include "platform/net.h"
#include "platform/system.h"
#include "platform/temp_dir_testing.h"

namespace lcx {
namespace {

TEST(Platform, ShowAdminReachesTheListener) {
  TestDir tmp("lcx-platform");
  ASSERT_TRUE(tmp.ok());
  const std::string path = tmp.Sub("show.sock");
  EXPECT_FALSE(SendShowAdmin(path)) << "nobody listens yet";
  UniqueFd listener = ListenShowAdmin(path);
  ASSERT_TRUE(listener.valid());
  bool got = false;
  std::thread server([&] { got = AcceptShowAdmin(listener.get()); });
  EXPECT_TRUE(SendShowAdmin(path));
  server.join();
  EXPECT_TRUE(got);
}

TEST(Platform, SpawnedChildInheritsNoDescriptorsAndNoBlockedSignals) {
  // A relaunched copy must be able to bind the ports this process holds, and
  // a browser started for us must still end on SIGTERM although the engine
  // blocks the stop signals.
  int err = 0;
  UniqueFd listener = ListenTcp(0, 8, &err);
  ASSERT_TRUE(listener.valid()) << err;
  sigset_t term, before;
  sigemptyset(&term);
  sigaddset(&term, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &term, &before);
  TestDir tmp("lcx-platform");
  ASSERT_TRUE(tmp.ok());
  const std::string& dir = tmp.path();
  const bool spawned_ls = SpawnDetached("/bin/sh", {"-c", "ls /proc/$$/fd > fds.tmp; mv fds.tmp fds.txt"}, dir);
  // exec, not a child of the shell: the mask read is the one the spawn gave
  // (a shell blocks signals of its own around the children it forks).
  const bool spawned_grep =
      SpawnDetached("/bin/sh", {"-c", "exec grep SigBlk /proc/self/status > sig.txt 2>&1"}, dir);
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
  ASSERT_TRUE(spawned_ls);
  ASSERT_TRUE(spawned_grep);
  std::string listing, mask;
  for (int i = 0; i < 2000 && !ReadWholeFile(dir + "/fds.txt", listing); ++i) SleepMs(10);
  ASSERT_FALSE(listing.empty());
  // 0, 1, 2 and the descriptor ls itself opens; nothing of ours.
  EXPECT_EQ(listing.find("\n" + std::to_string(listener.get()) + "\n"), std::string::npos) << listing;
  // grep writes its one line at once; wait until it is there.
  for (int i = 0; i < 2000 && (!ReadWholeFile(dir + "/sig.txt", mask) || mask.find('\n') == std::string::npos); ++i)
    SleepMs(10);
  EXPECT_EQ(mask, "SigBlk:\t0000000000000000\n");
}

TEST(Platform, DurableReplace) {
  TestDir tmp("lcx-platform");
  ASSERT_TRUE(tmp.ok());
  const std::string& dir = tmp.path();
  ASSERT_TRUE(WriteFileSynced(dir + "/a.tmp", "new"));
  ASSERT_TRUE(WriteFileSynced(dir + "/a", "old"));
  ASSERT_TRUE(ReplaceFileDurably(dir + "/a.tmp", dir + "/a"));
  std::string text;
  ASSERT_TRUE(ReadWholeFile(dir + "/a", text));
  EXPECT_EQ(text, "new");
  EXPECT_FALSE(FileExists(dir + "/a.tmp"));
  EXPECT_FALSE(ReplaceFileDurably(dir + "/missing", dir + "/a"));
}

// The portal's restore token is a grant to see the screen: only its owner
// may read it, also when an older copy or a left temporary file was 0644.
TEST(Platform, PrivateReplaceLeavesAFileOnlyItsOwnerReads) {
  TestDir dir;
  ASSERT_TRUE(dir.ok());
  const std::string path = dir.Sub("token");
  ASSERT_TRUE(WriteFileSynced(path, "old"));
  ASSERT_TRUE(WriteFileSynced(path + ".tmp", "left over"));
  ASSERT_EQ(ReplaceFileContents(path, "abc\n"), FileWriteResult::kWritten);
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  std::string text;
  ASSERT_TRUE(ReadWholeFile(path, text));
  EXPECT_EQ(text, "abc\n");
  EXPECT_FALSE(FileExists(path + ".tmp"));
}

TEST(Platform, BootTickIsMonotonicMilliseconds) {
  uint64_t a = BootTickMs();
  SleepMs(20);
  uint64_t b = BootTickMs();
  EXPECT_GE(b - a, 19u);
  EXPECT_LT(b - a, 5000u);
}

}  // namespace
}  // namespace lcx

namespace lcx {
namespace {

TEST(TestDirTesting, RemovesItsTreeButNotWhatALinkPointsTo) {
  TestDir outside("lcx-outside");
  ASSERT_TRUE(WriteFileSynced(outside.Sub("keep"), "x"));
  std::string path;
  {
    TestDir dir;
    ASSERT_TRUE(dir.ok());
    path = dir.path();
    ASSERT_EQ(mkdir(dir.Sub("a").c_str(), 0700), 0);
    ASSERT_TRUE(WriteFileSynced(dir.Sub("a/b"), "y"));
    ASSERT_EQ(symlink(outside.path().c_str(), dir.Sub("link").c_str()), 0);
  }
  EXPECT_NE(access(path.c_str(), F_OK), 0);
  EXPECT_EQ(access(outside.Sub("keep").c_str(), F_OK), 0);
}

TEST(TestDirTesting, HomeVariablesComeBack) {
  setenv("XDG_DATA_HOME", "/before", 1);
  unsetenv("ProgramData");
  setenv("ProgramData", "/pd", 1);
  {
    TempHome home;
    EXPECT_EQ(std::string(getenv("XDG_DATA_HOME")), home.Sub("data"));
    EXPECT_EQ(getenv("ProgramData"), nullptr);
  }
  EXPECT_STREQ(getenv("XDG_DATA_HOME"), "/before");
  EXPECT_STREQ(getenv("ProgramData"), "/pd");
  unsetenv("ProgramData");
  unsetenv("XDG_DATA_HOME");
}

}  // namespace
}  // namespace lcx
