// Queue rules of a stream channel; see stream_channel.h for the locking.
#include "video/stream_channel.h"

namespace lcx {

void PushFrame(StreamChannel& channel, std::vector<uint8_t>&& access_unit, bool key,
               uint32_t timestamp, size_t max_length) {
  auto shared = std::make_shared<const std::vector<uint8_t>>(std::move(access_unit));
  {
    std::lock_guard lock(channel.mutex);
    if (key) channel.queue.clear();
    channel.queue.push_back(FrameEntry{std::move(shared), key, timestamp, channel.next_sequence});
    ++channel.next_sequence;
    while (channel.queue.size() > max_length) channel.queue.pop_front();
  }
  channel.frame_arrived.notify_all();
}

void ClearFrames(StreamChannel& channel) {
  std::lock_guard lock(channel.mutex);
  channel.queue.clear();
}

namespace {

// Picks the client's next frame if there is one; caller holds the mutex.
bool TakeNext(StreamChannel& channel, std::optional<uint64_t>& cursor, FrameEntry& out) {
  const auto& q = channel.queue;
  if (q.empty()) return false;
  const uint64_t front = q.front().sequence;
  if (cursor && *cursor + 1 >= front) {
    const uint64_t want = *cursor + 1;
    if (want > q.back().sequence) return false;  // up to date
    out = q[static_cast<size_t>(want - front)];
    cursor = want;
    return true;
  }
  for (auto it = q.rbegin(); it != q.rend(); ++it) {
    if (it->key) {
      out = *it;
      cursor = it->sequence;
      return true;
    }
  }
  return false;
}

}  // namespace

FrameEntry WaitNextFrame(StreamChannel& channel, std::optional<uint64_t>& cursor) {
  std::unique_lock lock(channel.mutex);
  FrameEntry out;
  channel.frame_arrived.wait(lock, [&] { return TakeNext(channel, cursor, out); });
  return out;
}

FrameEntry WaitNextFrame(StreamChannel& channel, std::optional<uint64_t>& cursor,
                         std::chrono::milliseconds timeout) {
  std::unique_lock lock(channel.mutex);
  FrameEntry out;
  channel.frame_arrived.wait_for(lock, timeout, [&] { return TakeNext(channel, cursor, out); });
  return out;
}

void CopyParameterSets(StreamChannel& channel, std::vector<uint8_t>& sps,
                       std::vector<uint8_t>& pps, std::string& profile_level_id) {
  std::lock_guard lock(channel.mutex);
  sps = channel.sps;
  pps = channel.pps;
  profile_level_id = channel.profile_level_id;
}

}  // namespace lcx
