// The owner of a server's connection threads: starts each one detached,
// counts it while it runs and lets its owner wait until none is left, so an
// object the threads use can outlive them. One mutex guards the count; the
// thread's last touch of the group is under it, so the group may be
// destroyed as soon as a wait has seen the count reach 0.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>

namespace lcx {

class ThreadGroup {
 public:
  ThreadGroup() = default;
  ThreadGroup(const ThreadGroup&) = delete;
  ThreadGroup& operator=(const ThreadGroup&) = delete;
  // Waits for every thread: nothing it uses may go before it.
  ~ThreadGroup();

  // Runs `body` on a new thread; false when no thread could be had (then
  // `body` has been destroyed, unrun).
  bool Start(std::function<void()> body);
  int Live();
  void WaitIdle();
  // False when threads still ran after `timeout_ms`.
  bool WaitIdleFor(int timeout_ms);
  // Waits until at most `count` threads run.
  void WaitAtMost(int count);

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int live_ = 0;
};

}  // namespace lcx
