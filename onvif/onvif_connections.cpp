#include "onvif/onvif_connections.h"

#include "platform/net.h"

#include <chrono>

namespace lcx {
namespace {

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

OnvifConnectionTable::OnvifConnectionTable(int max_connections, int min_idle_before_evict_ms)
    : max_(max_connections < 1 ? 1 : static_cast<size_t>(max_connections)),
      min_idle_ms_(min_idle_before_evict_ms) {}

uint64_t OnvifConnectionTable::Enter(int fd) {
  std::unique_lock<std::mutex> lock(mutex_);
  while (entries_.size() >= max_) {
    int64_t now = NowMs();
    Entry* oldest = nullptr;
    bool leaving = false;
    for (Entry& e : entries_) {
      leaving = leaving || e.evicted;
      if (e.reading && !e.evicted && (!oldest || e.start_ms < oldest->start_ms)) oldest = &e;
    }
    if (leaving) {
      // One place is already being freed; cutting another would be one too many.
      changed_.wait_for(lock, std::chrono::milliseconds(100));
      continue;
    }
    if (oldest && now - oldest->start_ms >= min_idle_ms_) {
      // The reader's next receive returns 0 and it closes without answering,
      // as for a peer that went away.
      ShutdownRead(oldest->fd);
      oldest->evicted = true;
      ++evictions_;
      continue;
    }
    int64_t wait_ms = oldest ? min_idle_ms_ - (now - oldest->start_ms) : 100;
    changed_.wait_for(lock, std::chrono::milliseconds(wait_ms < 1 ? 1 : wait_ms));
  }
  uint64_t id = next_id_++;
  entries_.push_back(Entry{id, fd, NowMs(), true, false});
  return id;
}

void OnvifConnectionTable::DoneReading(uint64_t id) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (Entry& e : entries_) {
    if (e.id == id) e.reading = false;
  }
}

void OnvifConnectionTable::Leave(uint64_t id) {
  // Notified under the lock: whoever sees the table empty may destroy it,
  // condition variable included, as soon as it gets the lock.
  std::lock_guard<std::mutex> lock(mutex_);
  entries_.remove_if([id](const Entry& e) { return e.id == id; });
  changed_.notify_all();
}

int OnvifConnectionTable::Active() {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(entries_.size());
}

uint64_t OnvifConnectionTable::Evictions() {
  std::lock_guard<std::mutex> lock(mutex_);
  return evictions_;
}

}  // namespace lcx
