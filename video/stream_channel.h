// One stream's frame queue, shared by the producer thread (PushFrame) and
// every RTSP client of that stream (WaitNextFrame), each at its own pace.
// StreamChannel::mutex guards every member of the channel; it is held only to
// push, to pick a client's next frame and to copy the parameter sets, never
// while encoding or sending. Queued access units are immutable and shared by
// reference count, so a client keeps sending its frame after it left the queue.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace lcx {

struct FrameEntry {
  std::shared_ptr<const std::vector<uint8_t>> access_unit;  // Annex-B; null: none (time-out)
  bool key = false;                                          // holds an IDR slice (NAL type 5)
  uint32_t timestamp = 0;                                    // RTP, 90 kHz
  uint64_t sequence = 0;                                     // consecutive within the channel
};

struct StreamChannel {
  std::mutex mutex;
  std::condition_variable frame_arrived;  // notified (all) after each push
  std::deque<FrameEntry> queue;           // oldest at the front
  uint64_t next_sequence = 0;             // never reset
  std::vector<uint8_t> sps, pps;          // NAL units without start code, header included
  std::string profile_level_id = "42C020";
};

// Queues one access unit. A key frame first empties the queue (clients that
// still send an older frame keep their reference); then the oldest entries go
// while more than max_length are queued. Wakes every waiting client.
void PushFrame(StreamChannel& channel, std::vector<uint8_t>&& access_unit, bool key,
               uint32_t timestamp, size_t max_length);
// Drops every queued frame (the sequence numbers go on): clients that are
// sending one keep their reference.
void ClearFrames(StreamChannel& channel);

// Next frame for a client whose last taken sequence number is `cursor`
// (nullopt before its first frame); updates the cursor. A new client, or one
// whose next frame has already left the queue, starts at the newest key frame,
// so it never gets a frame whose references it missed. Blocks until a frame
// is available.
FrameEntry WaitNextFrame(StreamChannel& channel, std::optional<uint64_t>& cursor);

// As above, but gives up after `timeout` and returns an entry whose
// access_unit is null (cursor unchanged), so a caller can poll its socket
// while the stream is idle.
FrameEntry WaitNextFrame(StreamChannel& channel, std::optional<uint64_t>& cursor,
                         std::chrono::milliseconds timeout);

// Copies the parameter sets and profile-level-id under the channel's mutex
// (for the SDP).
void CopyParameterSets(StreamChannel& channel, std::vector<uint8_t>& sps,
                       std::vector<uint8_t>& pps, std::string& profile_level_id);

}  // namespace lcx
