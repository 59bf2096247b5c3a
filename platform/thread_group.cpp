#include "platform/thread_group.h"

#include <chrono>
#include <system_error>
#include <thread>

namespace lcx {

ThreadGroup::~ThreadGroup() { WaitIdle(); }

bool ThreadGroup::Start(std::function<void()> body) {
  {
    std::lock_guard lock(mutex_);
    ++live_;
  }
  try {
    std::thread([this, body = std::move(body)]() mutable {
      body();
      body = nullptr;  // what it captured goes while the group still counts it
      std::lock_guard lock(mutex_);
      --live_;
      changed_.notify_all();
    }).detach();
    return true;
  } catch (const std::system_error&) {
    std::lock_guard lock(mutex_);
    --live_;
    changed_.notify_all();
    return false;
  }
}

int ThreadGroup::Live() {
  std::lock_guard lock(mutex_);
  return live_;
}

void ThreadGroup::WaitIdle() { WaitAtMost(0); }

void ThreadGroup::WaitAtMost(int count) {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return live_ <= count; });
}

bool ThreadGroup::WaitIdleFor(int timeout_ms) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] { return live_ == 0; });
}

}  // namespace lcx
