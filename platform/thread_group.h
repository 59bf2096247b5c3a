// The owner of a server's connection threads: starts each one detached,
// counts it while it runs and lets its owner wait until none is left, so an
// object the threads use can outlive them. One mutex guards the count; the
// thread's last touch of the group is under it, so the group may be
// destroyed as soon as a wait has seen the count reach 0.
#pragma once

#include <condition_variable>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

namespace lcx {

class ThreadGroup {
 public:
  ThreadGroup() = default;
  ThreadGroup(const ThreadGroup&) = delete;
  ThreadGroup& operator=(const ThreadGroup&) = delete;
  // Waits for every thread: nothing it uses may go before it.
  ~ThreadGroup();

  // Runs `body` (which may own move-only things, such as a socket) on a new
  // thread; false when no thread could be had (then `body` has been
  // destroyed, unrun). What the body owns goes before the thread stops
  // counting.
  template <typename Body>
  bool Start(Body body) {
    Enter();
    try {
      std::thread([this, body = std::optional<Body>(std::move(body))]() mutable {
        (*body)();
        body.reset();
        Leave();
      }).detach();
      return true;
    } catch (const std::system_error&) {
      Leave();
      return false;
    }
  }
  int Live();
  void WaitIdle();
  // False when threads still ran after `timeout_ms`.
  bool WaitIdleFor(int timeout_ms);
  // Waits until at most `count` threads run.
  void WaitAtMost(int count);

 private:
  void Enter();
  void Leave();  // the thread's last touch of the group

  std::mutex mutex_;
  std::condition_variable changed_;
  int live_ = 0;
};

}  // namespace lcx
