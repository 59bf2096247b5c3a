// Test helper: a private Xvfb that a test can kill (as a crash or a log-out
// would) and start again on the same display number, with DISPLAY pointed
// at it for the test's lifetime.
#pragma once

#include <X11/Xlib.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "platform/system.h"

namespace lcx::testing_x {

class TestXServer {
 public:
  TestXServer() {
    const char* saved = std::getenv("DISPLAY");
    had_display_ = saved != nullptr;
    if (saved) saved_display_ = saved;
  }
  ~TestXServer() {
    Kill();
    if (had_display_) setenv("DISPLAY", saved_display_.c_str(), 1); else unsetenv("DISPLAY");
  }
  TestXServer(const TestXServer&) = delete;
  TestXServer& operator=(const TestXServer&) = delete;

  // Starts Xvfb at `size` on a display number of its own, or again on the
  // number of the previous start; exports DISPLAY. False without Xvfb.
  bool Start(const char* size = "640x480x24", std::vector<std::string> extra_args = {}) {
    Kill();
    extra_args_ = std::move(extra_args);
    if (number_ >= 0) return Spawn(size);
    // A high random number: other test runs may hold the low ones, some in
    // another /tmp where their lock files cannot be seen.
    std::random_device seed;
    std::mt19937 pick(seed());
    for (int tries = 0; tries < 5; ++tries) {
      number_ = 200 + static_cast<int>(pick() % 30000);
      const std::string n = std::to_string(number_);
      if (access(("/tmp/.X" + n + "-lock").c_str(), F_OK) == 0) continue;
      if (Spawn(size)) return true;
      Kill();
    }
    number_ = -1;
    return false;
  }

  // SIGKILL, as a crash would; the display number stays ours for Start.
  void Kill() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

  std::string name() const { return ":" + std::to_string(number_); }

 private:
  // Starts Xvfb on name() and waits until it takes connections.
  bool Spawn(const char* size) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // Not the test's own output: an Xvfb left behind by a test that aborted
    // would hold ctest's pipe open, and ctest would wait for it for ever.
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<std::string> args = {"Xvfb", name(), "-screen", "0", size, "-nolisten", "tcp", "-noreset"};
    args.insert(args.end(), extra_args_.begin(), extra_args_.end());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const int rc = posix_spawnp(&pid_, "Xvfb", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
      pid_ = -1;
      return false;
    }
    setenv("DISPLAY", name().c_str(), 1);
    for (int i = 0; i < 100; ++i) {
      if (waitpid(pid_, nullptr, WNOHANG) == pid_) {  // the number was taken after all
        pid_ = -1;
        return false;
      }
      if (Display* d = XOpenDisplay(nullptr)) {
        XCloseDisplay(d);
        return true;
      }
      SleepMs(50);
    }
    return false;
  }

  pid_t pid_ = -1;
  int number_ = -1;
  std::vector<std::string> extra_args_;
  bool had_display_ = false;
  std::string saved_display_;
};

}  // namespace lcx::testing_x
