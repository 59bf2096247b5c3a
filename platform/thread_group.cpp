#include "platform/thread_group.h"

#include <chrono>

namespace lcx {

ThreadGroup::~ThreadGroup() { WaitIdle(); }

void ThreadGroup::Enter() {
  std::lock_guard lock(mutex_);
  ++live_;
}

void ThreadGroup::Leave() {
  std::lock_guard lock(mutex_);
  --live_;
  changed_.notify_all();
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
