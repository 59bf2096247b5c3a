#include "onvif/onvif_connections.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <atomic>
#include <thread>

#include "platform/net.h"
#include "platform/system.h"
#include "platform/unique_fd.h"

namespace lcx {
namespace {

struct Pair {
  UniqueFd server, client;
};
Pair MakePair() {
  int fds[2];
  EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
  SetReceiveTimeoutMs(fds[0], 200);
  return {UniqueFd(fds[0]), UniqueFd(fds[1])};
}
// 0 when the reading side was shut down, -1 (time-out) while it is intact.
ssize_t Peek(int fd) {
  char c;
  return ::recv(fd, &c, 1, 0);
}

TEST(OnvifConnectionTable, FullTableCutsTheOldestReaderOnly) {
  OnvifConnectionTable table(3, 100);
  Pair answering = MakePair(), old_reader = MakePair(), young_reader = MakePair(), next = MakePair();
  uint64_t a = table.Enter(answering.server.get());
  table.DoneReading(a);
  uint64_t b = table.Enter(old_reader.server.get());
  SleepMs(20);
  uint64_t c = table.Enter(young_reader.server.get());

  uint64_t start = BootTickMs();
  std::atomic<bool> entered{false};
  std::thread newcomer([&] {
    table.Enter(next.server.get());
    entered = true;
  });
  // The evicted reader leaves as a connection thread would on a closed peer.
  for (const uint64_t until = BootTickMs() + 10000; table.Evictions() == 0 && BootTickMs() < until;) SleepMs(10);
  ASSERT_EQ(table.Evictions(), 1u);
  EXPECT_GE(BootTickMs() - start, 70u) << "a reader gets its minimum time first";
  EXPECT_EQ(Peek(old_reader.server.get()), 0);
  EXPECT_EQ(Peek(young_reader.server.get()), -1);
  EXPECT_EQ(Peek(answering.server.get()), -1);
  SleepMs(150);
  EXPECT_FALSE(entered) << "no place until the evicted one has left";
  EXPECT_EQ(table.Evictions(), 1u) << "only one cut per missing place";
  table.Leave(b);
  newcomer.join();
  EXPECT_TRUE(entered);
  EXPECT_EQ(table.Active(), 3);
  table.Leave(a);
  table.Leave(c);
}

TEST(OnvifConnectionTable, AnsweringConnectionsAreWaitedFor) {
  OnvifConnectionTable table(1, 0);
  Pair busy = MakePair(), next = MakePair();
  uint64_t a = table.Enter(busy.server.get());
  table.DoneReading(a);
  std::atomic<bool> entered{false};
  std::thread newcomer([&] {
    table.Leave(table.Enter(next.server.get()));
    entered = true;
  });
  SleepMs(300);
  EXPECT_FALSE(entered);
  EXPECT_EQ(Peek(busy.server.get()), -1) << "an answer in progress is never cut";
  table.Leave(a);
  newcomer.join();
  EXPECT_EQ(table.Evictions(), 0u);
  EXPECT_EQ(table.Active(), 0);
}

}  // namespace
}  // namespace lcx
