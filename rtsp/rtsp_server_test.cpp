// The accept loop over loopback: the connection limit and its log line, and
// the stop by shutting the listener down. The server's video engine is never
// started: sessions here only answer requests.
#include "rtsp/rtsp_server.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "core/log.h"
#include "platform/net.h"
#include "rtsp/test_session.h"

namespace lcx {
namespace {

using rtsp_test::Client;
using rtsp_test::Req;
using rtsp_test::WaitFor;

// The accept loop on its own thread over a port-0 listener. Stop() shuts the
// listener down and joins the loop; the server goes away only once every
// session has ended.
struct RunningServer {
  RtspServer server;
  UniqueFd listener;
  int port = 0;
  std::atomic<bool> loop_returned{false};
  std::thread loop;

  explicit RunningServer(int max_connections) {
    server.max_connections = max_connections;
    int error = 0;
    listener = ListenTcp(0, 8, &error);
    port = LocalPort(listener.get());
    loop = std::thread([this] {
      AcceptRtspConnections(server, listener.get());
      loop_returned.store(true);
    });
  }
  // True when the loop returned after the shutdown.
  bool Stop() {
    if (!loop.joinable()) return true;
    ShutdownRead(listener.get());
    if (!WaitFor([&] { return loop_returned.load(); })) return false;
    loop.join();
    return true;
  }
  ~RunningServer() {
    if (!Stop()) loop.detach();  // a failed test must not hang as well
    EXPECT_TRUE(server.sessions.WaitIdleFor(10000));
  }
};

bool Answers(Client& c) {
  return c.Send(Req("OPTIONS", "rtsp://h/", 1)) && c.ReadResponse().find("200 OK") != std::string::npos;
}

TEST(AcceptRtspConnections, RefusesBeyondTheLimitAndRecovers) {
  RunningServer running(2);
  RtspServer& server = running.server;
  auto a = std::make_unique<Client>(running.port);
  auto b = std::make_unique<Client>(running.port);
  ASSERT_TRUE(Answers(*a));
  ASSERT_TRUE(Answers(*b));
  {
    Client refused(running.port);
    EXPECT_TRUE(refused.ReadsEndOfStream());
  }
  EXPECT_NE(ReadLog().find("RTSP: connection limit of 2 reached"), std::string::npos);
  a.reset();
  server.sessions.WaitAtMost(1);
  {
    Client c(running.port);
    EXPECT_TRUE(Answers(c));
    EXPECT_TRUE(Answers(*b));
  }
  b.reset();
  // Every session has ended and given its place back.
  EXPECT_TRUE(server.sessions.WaitIdleFor(10000));
}

TEST(AcceptRtspConnections, ReturnsOnceTheListenerIsShutDown) {
  RunningServer running(4);
  Client c(running.port);
  ASSERT_TRUE(Answers(c));
  ASSERT_TRUE(running.Stop());
  // Sessions run on their own: the one already open still answers, and no
  // new connection is taken.
  EXPECT_TRUE(Answers(c));
  Client late(running.port);
  EXPECT_FALSE(late.connected());
}

}  // namespace
}  // namespace lcx
