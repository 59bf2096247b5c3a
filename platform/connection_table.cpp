#include "platform/connection_table.h"

#include <algorithm>
#include <chrono>

#include "platform/net.h"
#include "platform/system.h"

namespace lcx {
namespace {

// Longest wait before the clock is read again: a clock a test moves is
// noticed this late at most.
constexpr uint64_t kRecheckMs = 100;

}  // namespace

ConnectionTable::ConnectionTable(int max, int min_reading_ms, Clock clock)
    : max_(max < 1 ? 1 : static_cast<size_t>(max)),
      min_reading_ms_(min_reading_ms < 0 ? 0 : static_cast<uint64_t>(min_reading_ms)),
      clock_(clock ? std::move(clock) : Clock(BootTickMs)) {}

uint64_t ConnectionTable::Enter(int fd) {
  std::unique_lock lock(mutex_);
  while (entries_.size() >= max_) {
    const Entry* being_cut = nullptr;
    Entry* slowest = nullptr;
    for (Entry& e : entries_) {
      if (e.cut) being_cut = &e;
      else if (e.reading && (!slowest || e.entered_ms < slowest->entered_ms)) slowest = &e;
    }
    uint64_t wait_ms = kRecheckMs;  // every place answering a request: one ends soon
    const uint64_t now = clock_();
    if (being_cut) {
      // A place is already on its way; cutting another would be one too many.
    } else if (slowest && now - slowest->entered_ms >= min_reading_ms_) {
      // Its next receive returns 0 and it closes unanswered, as for a peer that left.
      ShutdownRead(slowest->fd);
      slowest->cut = true;
      ++cuts_;
      continue;
    } else if (slowest) {
      wait_ms = std::min(kRecheckMs, min_reading_ms_ - (now - slowest->entered_ms));
    }
    left_.wait_for(lock, std::chrono::milliseconds(std::max<uint64_t>(wait_ms, 1)));
  }
  entries_.push_back(Entry{next_id_, fd, clock_()});
  return next_id_++;
}

void ConnectionTable::DoneReading(uint64_t id) {
  std::lock_guard lock(mutex_);
  for (Entry& e : entries_) {
    if (e.id == id) e.reading = false;
  }
}

void ConnectionTable::Leave(uint64_t id) {
  // Notified under the lock: whoever sees the table empty may destroy it,
  // condition variable included, as soon as it gets the lock.
  std::lock_guard lock(mutex_);
  entries_.remove_if([id](const Entry& e) { return e.id == id; });
  left_.notify_all();
}

int ConnectionTable::Active() {
  std::lock_guard lock(mutex_);
  return static_cast<int>(entries_.size());
}

uint64_t ConnectionTable::Cuts() {
  std::lock_guard lock(mutex_);
  return cuts_;
}

}  // namespace lcx
