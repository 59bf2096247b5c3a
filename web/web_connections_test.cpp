#include "web/web_connections.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <future>

#include "platform/unique_fd.h"

namespace lcx {
namespace {

struct Pair {
  UniqueFd server, client;
};
Pair MakePair() {
  int fds[2];
  EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
  return {UniqueFd(fds[0]), UniqueFd(fds[1])};
}
// The server side was shut down for reading: a receive returns 0 at once.
bool ReadingShut(int fd) {
  char byte;
  return recv(fd, &byte, 1, MSG_DONTWAIT) == 0;
}

TEST(WebConnections, FullTableCutsTheSlowestReaderOnly) {
  WebConnections table(2, 100);
  Pair answering = MakePair(), idle = MakePair(), newcomer = MakePair();
  uint64_t a = table.Enter(answering.server.get());
  table.DoneReading(a);  // answering a request: never cut
  table.Enter(idle.server.get());
  auto start = std::chrono::steady_clock::now();
  auto entered = std::async(std::launch::async, [&] { return table.Enter(newcomer.server.get()); });
  // The idle reader is cut once it has read for 100 ms; its thread leaves.
  for (int i = 0; i < 200 && !ReadingShut(idle.server.get()); ++i) usleep(5000);
  EXPECT_TRUE(ReadingShut(idle.server.get()));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(90));
  EXPECT_FALSE(ReadingShut(answering.server.get()));
  EXPECT_EQ(entered.wait_for(std::chrono::milliseconds(150)), std::future_status::timeout)
      << "entered before the cut one left";
  table.Leave(2);
  uint64_t c = entered.get();
  EXPECT_EQ(c, 3u);
  EXPECT_EQ(table.Active(), 2);
  EXPECT_EQ(table.Cuts(), 1u);
}

TEST(WebConnections, WaitsWhenEveryPlaceIsAnswering) {
  WebConnections table(1, 0);
  Pair busy = MakePair(), next = MakePair();
  uint64_t id = table.Enter(busy.server.get());
  table.DoneReading(id);
  auto entered = std::async(std::launch::async, [&] { return table.Enter(next.server.get()); });
  EXPECT_EQ(entered.wait_for(std::chrono::milliseconds(250)), std::future_status::timeout);
  table.Leave(id);
  entered.get();
  EXPECT_EQ(table.Cuts(), 0u);
  EXPECT_FALSE(ReadingShut(busy.server.get()));
}

}  // namespace
}  // namespace lcx
