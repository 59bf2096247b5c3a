#include "platform/processes.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include "platform/stop_signal_fd.h"
#include "platform/system.h"
#include "platform/temp_dir_testing.h"

namespace lcx {
namespace {

TEST(Processes, ListingHoldsThisProcessWithItsUser) {
  bool found = false;
  for (const ProcessInfo& p : ListProcesses()) {
    if (p.pid != getpid()) continue;
    found = true;
    EXPECT_EQ(p.uid, getuid());
    EXPECT_EQ(p.name, std::string("platform_tests").substr(0, 15));
  }
  EXPECT_TRUE(found);

  setenv("LCX_PROCESSES_TEST", "a=b", 1);
  const auto env = ProcessEnvironment(getpid());
  ASSERT_TRUE(env.has_value());
  EXPECT_FALSE(env->count("LCX_PROCESSES_TEST")) << "environ shows the start-up environment only";
  EXPECT_FALSE(ProcessEnvironment(0).has_value());
}

TEST(Processes, RunAndWaitGivesExitStatusAndOutput) {
  std::string out;
  EXPECT_EQ(RunAndWait("sh", {"-c", "echo one; echo two; exit 3"}, &out), 3) << "found on PATH";
  EXPECT_EQ(out, "one\ntwo\n");
  EXPECT_EQ(RunAndWait("sh", {"-c", "kill -9 $$"}), -1) << "killed, not exited";
  EXPECT_EQ(RunAndWait("/nonexistent/program", {}), -1);
}

TEST(Processes, DetachedChildGetsExactlyTheGivenEnvironmentAndNoBlockedSignal) {
  // As in the engine: the stop signals are blocked here, and must not be in
  // the child, or it could never be stopped.
  UniqueFd signals = OpenStopSignalFd();
  ASSERT_TRUE(signals.valid());
  TestDir tmp("lcx-processes");
  ASSERT_TRUE(tmp.ok());
  const std::string& dir = tmp.path();
  ASSERT_TRUE(SpawnDetachedWithEnvironment(
      // grep reads its own mask: the shell's own may be all blocked while it forks.
      "/bin/sh", {"-c", "{ env; grep SigBlk /proc/self/status; } > out.tmp; mv out.tmp out.txt"}, dir,
      {{"DISPLAY", ":7"}, {"PATH", "/usr/bin:/bin"}}));
  std::string out;
  for (int i = 0; i < 300 && !ReadWholeFile(dir + "/out.txt", out); ++i) SleepMs(10);
  ReapExitedChildren();
  EXPECT_NE(out.find("DISPLAY=:7\n"), std::string::npos) << out;
  EXPECT_EQ(out.find("HOME="), std::string::npos) << "nothing of ours: " << out;
  EXPECT_NE(out.find("SigBlk:\t0000000000000000"), std::string::npos) << out;
}

TEST(Processes, StopSignalArrivesOnTheDescriptor) {
  UniqueFd fd = OpenStopSignalFd();
  ASSERT_TRUE(fd.valid());
  EXPECT_FALSE(WaitStopSignalFor(fd.get(), 10).has_value());
  kill(getpid(), SIGHUP);
  EXPECT_EQ(WaitStopSignalFor(fd.get(), 1000), StopSignal::kHangUp);
  kill(getpid(), SIGTERM);
  EXPECT_EQ(WaitStopSignalFor(fd.get(), 1000), StopSignal::kTerminate);
  EXPECT_FALSE(ReadStopSignal(fd.get()).has_value());
}

}  // namespace
}  // namespace lcx
