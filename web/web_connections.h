// The web panel's live connection threads. At most `max` run at once; when
// all are taken, the one that has waited longest for its request (at least
// `min_reading_ms`) has its reading side shut down, so a flood of idle or
// trickling peers cannot keep an administrator out. One mutex guards the
// list and nothing else is taken while it is held. A descriptor stays open
// while its entry is listed, so a shutdown never reaches a reused one.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <list>
#include <mutex>

namespace lcx {

class WebConnections {
 public:
  WebConnections(int max, int min_reading_ms);

  // Waits for a place, cutting a slow reader when every place is taken;
  // returns the entry's id.
  uint64_t Enter(int fd);
  // The request has been read: the entry is no longer cut.
  void DoneReading(uint64_t id);
  // Before the descriptor is closed.
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
  std::mutex mutex_;
  std::condition_variable left_;
  std::list<Entry> entries_;
  uint64_t next_id_ = 1;
  uint64_t cuts_ = 0;
};

}  // namespace lcx
