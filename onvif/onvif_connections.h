// The table of live ONVIF connection threads. It caps how many run at once;
// when the table is full, the connection that has waited longest for its
// request (and at least a minimum time) has its reading side shut down so a
// new client can be served, instead of idle peers locking everyone out.
// One mutex guards the table; no other lock is taken while it is held. A
// descriptor stays open while its entry is in the table, so a shutdown never
// reaches a reused descriptor.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <list>
#include <mutex>

namespace lcx {

class OnvifConnectionTable {
 public:
  OnvifConnectionTable(int max_connections, int min_idle_before_evict_ms);

  // Blocks until a place is free, making one when needed; returns the
  // entry's id.
  uint64_t Enter(int fd);
  // The request has been read: the entry may no longer be cut short.
  void DoneReading(uint64_t id);
  // Call before the descriptor is closed.
  void Leave(uint64_t id);

  int Active();
  uint64_t Evictions();

 private:
  struct Entry {
    uint64_t id;
    int fd;
    int64_t start_ms;
    bool reading;
    bool evicted;  // reading side shut down, thread about to leave
  };

  const size_t max_;
  const int min_idle_ms_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::list<Entry> entries_;
  uint64_t next_id_ = 1;
  uint64_t evictions_ = 0;
};

}  // namespace lcx
