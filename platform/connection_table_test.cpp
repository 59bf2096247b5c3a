#include "platform/connection_table.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "platform/system.h"
#include "platform/socket_pair_testing.h"
#include "platform/unique_fd.h"

namespace lcx {
namespace {

using Pair = SocketPair;
Pair MakePair() { return MakeSocketPair(); }
// The server side was shut down for reading: a receive returns 0 at once.
bool ReadingShut(int fd) {
  char byte;
  return ::recv(fd, &byte, 1, MSG_DONTWAIT) == 0;
}

// The table's clock, moved by the test; it counts how often the table
// looked at it, which is how a test knows a waiting Enter has looked again.
struct TestClock {
  std::atomic<uint64_t> now{1000};
  std::atomic<int> reads{0};
  ConnectionTable::Clock Function() {
    return [this] {
      ++reads;
      return now.load();
    };
  }
  // Returns once the waiting Enter has looked at the clock `times` more times.
  bool SeenAgain(int times) {
    const int until = reads.load() + times;
    for (const uint64_t give_up = BootTickMs() + 10000; BootTickMs() < give_up;) {
      if (reads.load() >= until) return true;
      std::this_thread::yield();
    }
    return false;
  }
};

bool Waiting(std::future<uint64_t>& entered) {
  return entered.wait_for(std::chrono::seconds(0)) == std::future_status::timeout;
}

TEST(ConnectionTable, FullTableCutsTheSlowestReaderOnceItsTimeIsUp) {
  TestClock clock;
  ConnectionTable table(3, 100, clock.Function());
  Pair answering = MakePair(), old_reader = MakePair(), young_reader = MakePair(), next = MakePair();
  const uint64_t a = table.Enter(answering.server.get());
  table.DoneReading(a);  // answering a request: never cut
  const uint64_t b = table.Enter(old_reader.server.get());
  clock.now = 1050;
  const uint64_t c = table.Enter(young_reader.server.get());

  std::future<uint64_t> entered = std::async(std::launch::async, [&] { return table.Enter(next.server.get()); });
  ASSERT_TRUE(clock.SeenAgain(3));
  EXPECT_EQ(table.Cuts(), 0u) << "a reader gets its minimum time first";
  clock.now = 1100;
  ASSERT_TRUE(clock.SeenAgain(3));
  EXPECT_EQ(table.Cuts(), 1u);
  EXPECT_TRUE(ReadingShut(old_reader.server.get()));
  EXPECT_FALSE(ReadingShut(young_reader.server.get()));
  EXPECT_FALSE(ReadingShut(answering.server.get()));

  clock.now = 5000;  // the young one is old enough now, but one place is already coming
  ASSERT_TRUE(clock.SeenAgain(3));
  EXPECT_TRUE(Waiting(entered)) << "no place until the cut one has left";
  EXPECT_EQ(table.Cuts(), 1u) << "one cut per missing place";
  table.Leave(b);
  EXPECT_EQ(entered.get(), 4u);
  EXPECT_EQ(table.Active(), 3);
  EXPECT_FALSE(ReadingShut(young_reader.server.get()));
  table.Leave(a);
  table.Leave(c);
  table.Leave(4);
  EXPECT_EQ(table.Active(), 0);
}

TEST(ConnectionTable, WaitsWhenEveryPlaceIsAnswering) {
  TestClock clock;
  ConnectionTable table(1, 0, clock.Function());
  Pair busy = MakePair(), next = MakePair();
  const uint64_t id = table.Enter(busy.server.get());
  table.DoneReading(id);
  std::future<uint64_t> entered = std::async(std::launch::async, [&] { return table.Enter(next.server.get()); });
  clock.now = 100000;
  ASSERT_TRUE(clock.SeenAgain(3));
  EXPECT_TRUE(Waiting(entered));
  EXPECT_FALSE(ReadingShut(busy.server.get())) << "an answer in progress is never cut";
  table.Leave(id);
  entered.get();
  EXPECT_EQ(table.Cuts(), 0u);
}

}  // namespace
}  // namespace lcx
