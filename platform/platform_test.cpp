#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>

#include <thread>

#include "platform/instance.h"
#include "platform/net.h"
#include "platform/system.h"

namespace lcx {
namespace {

std::string TempFolder() {
  char tmpl[] = "/tmp/lcx-platform-XXXXXX";
  return mkdtemp(tmpl);
}

TEST(Platform, ShowAdminReachesTheListener) {
  const std::string path = TempFolder() + "/show.sock";
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
  const std::string dir = TempFolder();
  const std::string out = dir + "/fds.txt";
  const bool spawned = SpawnDetached(
      "/bin/sh", {"-c", "{ ls /proc/$$/fd; grep SigBlk /proc/$$/status; } > fds.tmp; mv fds.tmp fds.txt"}, dir);
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
  ASSERT_TRUE(spawned);
  std::string listing;
  // Waits for the child's file; a busy machine may take seconds to run it.
  for (const uint64_t until = BootTickMs() + 20000; !ReadWholeFile(out, listing) && BootTickMs() < until;) SleepMs(10);
  ASSERT_FALSE(listing.empty());
  // 0, 1, 2 and the descriptor ls itself opens; nothing of ours.
  EXPECT_EQ(listing.find("\n" + std::to_string(listener.get()) + "\n"), std::string::npos) << listing;
  EXPECT_NE(listing.find("SigBlk:\t0000000000000000"), std::string::npos) << listing;
}

TEST(Platform, DurableReplace) {
  const std::string dir = TempFolder();
  ASSERT_TRUE(WriteFileSynced(dir + "/a.tmp", "new"));
  ASSERT_TRUE(WriteFileSynced(dir + "/a", "old"));
  ASSERT_TRUE(ReplaceFileDurably(dir + "/a.tmp", dir + "/a"));
  std::string text;
  ASSERT_TRUE(ReadWholeFile(dir + "/a", text));
  EXPECT_EQ(text, "new");
  EXPECT_FALSE(FileExists(dir + "/a.tmp"));
  EXPECT_FALSE(ReplaceFileDurably(dir + "/missing", dir + "/a"));
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
