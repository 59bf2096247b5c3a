// The bounded table of live connections of the ONVIF port and the web panel.
// At most `max` are in it at once; when it is full, the one that has waited
// longest for its request (at least `min_reading_ms`) has its reading side
// shut down so a new client can be served, instead of idle or trickling
// peers locking everyone out. One mutex guards the table and nothing else is
// taken while it is held. A descriptor stays open while its entry is in the
// table, so a shutdown never reaches a reused descriptor.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <mutex>

namespace lcx {

class ConnectionTable {
 public:
  using Clock = std::function<uint64_t()>;  // milliseconds, never going back

  ConnectionTable(int max, int min_reading_ms, Clock clock = nullptr);  // null: boot time

  // Blocks until a place is free, cutting a slow reader when every place is
  // taken; returns the entry's id (never 0).
  uint64_t Enter(int fd);
  // The request has been read: the entry may no longer be cut.
  void DoneReading(uint64_t id);
  // Call before the descriptor is closed.
  void Leave(uint64_t id);

  int Active();
  uint64_t Cuts();

 private:
  struct Entry {
    uint64_t id;
    int fd;
    uint64_t entered_ms;
    bool reading = true;
    bool cut = false;  // shut down for reading, its thread about to leave
  };

  const size_t max_;
  const uint64_t min_reading_ms_;
  const Clock clock_;
  std::mutex mutex_;
  std::condition_variable left_;
  std::list<Entry> entries_;
  uint64_t next_id_ = 1;
  uint64_t cuts_ = 0;
};

}  // namespace lcx
