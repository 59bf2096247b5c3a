// Channel rules with synthetic frames: where a client starts, how it catches
// up after falling behind, and what a key frame and the cap do to the queue.
#include "video/stream_channel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace lcx {
namespace {

constexpr size_t kCap = 34;

void Push(StreamChannel& ch, bool key, uint8_t tag, size_t cap = kCap) {
  PushFrame(ch, std::vector<uint8_t>{tag}, key, tag * 9000u, cap);
}

uint8_t Tag(const FrameEntry& e) { return (*e.access_unit)[0]; }

TEST(StreamChannel, NewClientStartsAtNewestKeyFrameThenFollowsInOrder) {
  StreamChannel ch;
  // The cap keeps old entries; the queue holds key frames only when pushed
  // as such, so put a non-key gap between two keys without a clearing push.
  Push(ch, true, 1);   // clears, seq 0
  Push(ch, false, 2);  // seq 1
  Push(ch, false, 3);  // seq 2
  std::optional<uint64_t> cursor;
  FrameEntry e = WaitNextFrame(ch, cursor);
  EXPECT_EQ(Tag(e), 1);
  EXPECT_TRUE(e.key);
  EXPECT_EQ(*cursor, 0u);
  EXPECT_EQ(Tag(WaitNextFrame(ch, cursor)), 2);
  EXPECT_EQ(Tag(WaitNextFrame(ch, cursor)), 3);
  EXPECT_EQ(*cursor, 2u);
  // Up to date: nothing to take until a frame arrives.
  FrameEntry none = WaitNextFrame(ch, cursor, std::chrono::milliseconds(20));
  EXPECT_EQ(none.access_unit, nullptr);
  EXPECT_EQ(*cursor, 2u);
}

TEST(StreamChannel, KeyFrameEmptiesQueueButSendersKeepTheirFrame) {
  StreamChannel ch;
  Push(ch, true, 1);
  Push(ch, false, 2);
  std::optional<uint64_t> cursor;
  FrameEntry held = WaitNextFrame(ch, cursor);
  Push(ch, true, 3);
  ASSERT_EQ(ch.queue.size(), 1u);
  EXPECT_EQ(ch.queue.front().sequence, 2u);
  EXPECT_EQ(Tag(held), 1);  // still alive for the client sending it
}

TEST(StreamChannel, ClientBehindAnIdrSkipsToNewestKeyFrame) {
  StreamChannel ch;
  Push(ch, true, 1);
  Push(ch, false, 2);
  std::optional<uint64_t> cursor;
  WaitNextFrame(ch, cursor);  // took 1, needs 2 next
  Push(ch, false, 3);
  Push(ch, true, 4);  // 2 and 3 gone
  Push(ch, false, 5);
  FrameEntry e = WaitNextFrame(ch, cursor);
  EXPECT_EQ(Tag(e), 4);
  EXPECT_TRUE(e.key);
  EXPECT_EQ(Tag(WaitNextFrame(ch, cursor)), 5);
}

TEST(StreamChannel, ShortStallResumesWithNextFrameInSequence) {
  StreamChannel ch;
  Push(ch, true, 1);
  std::optional<uint64_t> cursor;
  WaitNextFrame(ch, cursor);
  for (uint8_t t = 2; t <= 6; ++t) Push(ch, false, t);
  for (uint8_t t = 2; t <= 6; ++t) EXPECT_EQ(Tag(WaitNextFrame(ch, cursor)), t);
}

TEST(StreamChannel, CapDropsOldestAndLaggardNeverGetsAFrameWithMissingReferences) {
  StreamChannel ch;
  const size_t cap = 4;
  Push(ch, true, 1, cap);
  std::optional<uint64_t> cursor;
  WaitNextFrame(ch, cursor);
  for (uint8_t t = 2; t <= 9; ++t) Push(ch, false, t, cap);
  ASSERT_EQ(ch.queue.size(), cap);
  EXPECT_EQ(Tag(ch.queue.front()), 6);
  EXPECT_EQ(ch.next_sequence, 9u);
  // Its next frame (2) is gone and no key frame is queued: it waits for one
  // rather than taking 6, whose references it never received.
  EXPECT_EQ(WaitNextFrame(ch, cursor, std::chrono::milliseconds(20)).access_unit, nullptr);
  Push(ch, true, 10, cap);
  EXPECT_EQ(Tag(WaitNextFrame(ch, cursor)), 10);
}

TEST(StreamChannel, NewClientWithoutQueuedKeyFrameWaitsForOne) {
  StreamChannel ch;
  Push(ch, false, 1);
  std::optional<uint64_t> cursor;
  EXPECT_EQ(WaitNextFrame(ch, cursor, std::chrono::milliseconds(10)).access_unit, nullptr);
  EXPECT_FALSE(cursor.has_value());
}

TEST(StreamChannel, WaitingClientWakesOnPush) {
  StreamChannel ch;
  std::optional<uint64_t> cursor;
  std::atomic<bool> waiting{false};
  FrameEntry e;
  // A timed wait still takes the frame when it expires, so a push that does
  // not notify shows as a wait that lasted the whole time-out.
  constexpr auto kTimeout = std::chrono::seconds(30);
  std::chrono::steady_clock::duration waited{};
  std::thread client([&] {
    waiting = true;
    const auto start = std::chrono::steady_clock::now();
    e = WaitNextFrame(ch, cursor, kTimeout);
    waited = std::chrono::steady_clock::now() - start;
  });
  while (!waiting) std::this_thread::yield();
  Push(ch, true, 7);
  client.join();
  ASSERT_NE(e.access_unit, nullptr);
  EXPECT_EQ(Tag(e), 7);
  EXPECT_EQ(e.timestamp, 7u * 9000u);
  EXPECT_LT(waited, kTimeout) << "woken by the push, not by the time-out";
}

}  // namespace
}  // namespace lcx
