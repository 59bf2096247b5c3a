// Segments are usable while held and gone from the system afterwards, so
// repeated snapshots never leave shared memory behind.
#include "platform/shared_memory.h"

#include <gtest/gtest.h>
#include <sys/shm.h>

#include <cstring>

namespace lcx {
namespace {

bool SegmentExists(int id) {
  shmid_ds info{};
  return shmctl(id, IPC_STAT, &info) == 0;
}

TEST(SharedMemory, SegmentIsWritableAndRemovedWhenReleased) {
  int id = -1;
  {
    SharedMemory segment;
    ASSERT_TRUE(segment.Create(64 * 1024)) << segment.error();
    id = segment.id();
    EXPECT_EQ(segment.size(), 64u * 1024);
    std::memset(segment.data(), 0xAB, segment.size());
    EXPECT_EQ(static_cast<unsigned char*>(segment.data())[64 * 1024 - 1], 0xAB);
    EXPECT_TRUE(SegmentExists(id));
  }
  EXPECT_FALSE(SegmentExists(id)) << "an unmarked segment must be removed on release";

  SharedMemory marked;
  ASSERT_TRUE(marked.Create(4096));
  id = marked.id();
  marked.MarkForRemoval();
  static_cast<unsigned char*>(marked.data())[0] = 1;  // still attached and usable
  SharedMemory moved = std::move(marked);
  EXPECT_FALSE(marked.is_open());
  moved.Reset();
  EXPECT_FALSE(SegmentExists(id));
}

TEST(SharedMemory, EmptySegmentIsRefused) {
  SharedMemory segment;
  EXPECT_FALSE(segment.Create(0));
  EXPECT_FALSE(segment.is_open());
  EXPECT_FALSE(segment.error().empty());
}

}  // namespace
}  // namespace lcx
