// The framing against real loopback TCP connections: segments, bounds and
// time budgets as a browser, curl or a hostile peer would produce them.
#include "web/web_http.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <chrono>
#include <thread>

#include "platform/net.h"
#include "platform/system.h"

namespace lcx {
namespace {

struct LoopbackPair {
  UniqueFd client, server;
};

LoopbackPair Connect() {
  int error = 0;
  UniqueFd listener = ListenTcp(0, 1, &error);
  EXPECT_TRUE(listener.valid()) << error;
  UniqueFd client(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(LocalPort(listener.get())));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  EXPECT_EQ(::connect(client.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  return {std::move(client), AcceptClient(listener.get(), nullptr)};
}

// Writes the pieces with a pause between them, as separate TCP segments.
std::thread Feed(int fd, std::vector<std::string> pieces, int pause_ms, bool close_after = false) {
  return std::thread([fd, pieces = std::move(pieces), pause_ms, close_after] {
    for (const std::string& p : pieces) {
      SendAll(fd, p);
      SleepMs(pause_ms);
    }
    if (close_after) ShutdownWrite(fd);
  });
}

WebRead ReadWith(const std::vector<std::string>& pieces, WebRequest& request, bool close_after = false,
                 WebLimits limits = WebLimits()) {
  LoopbackPair pair = Connect();
  std::thread writer = Feed(pair.client.get(), pieces, 20, close_after);
  WebRead outcome = ReadWebRequest(pair.server.get(), limits, request);
  writer.join();
  return outcome;
}

TEST(WebFraming, HeadAndBodyAcrossSegments) {
  WebRequest r;
  ASSERT_EQ(ReadWith({"POST /lo", "gin HTTP/1.1\r\nHost: cam\r\nContent-Length: 21\r", "\n\r\n", "user=admin",
                      "&pass=admin+surplus beyond the length"},
                     r),
            WebRead::kComplete);
  EXPECT_EQ(r.method, "POST");
  EXPECT_EQ(r.path, "/login");
  EXPECT_EQ(r.head, "POST /login HTTP/1.1\r\nHost: cam\r\nContent-Length: 21\r\n\r\n");
  EXPECT_EQ(r.body, "user=admin&pass=admin");
}

TEST(WebFraming, ContentLengthInCapitalsFromCurl) {
  WebRequest r;
  ASSERT_EQ(ReadWith({"POST /stream HTTP/1.1\r\nCONTENT-LENGTH: 4\r\n\r\non=1"}, r), WebRead::kComplete);
  EXPECT_EQ(r.body, "on=1");
}

TEST(WebFraming, BodyBound) {
  const std::string head = "POST /save HTTP/1.1\r\nContent-Length: ";
  WebRequest r;
  EXPECT_EQ(ReadWith({head + "65536\r\n\r\n", std::string(65536, 'a')}, r), WebRead::kComplete);
  EXPECT_EQ(r.body.size(), 65536u);
  EXPECT_EQ(ReadWith({head + "65537\r\n\r\n"}, r), WebRead::kBodyTooLarge);
  EXPECT_EQ(ReadWith({head + "-1\r\n\r\n"}, r), WebRead::kBodyTooLarge);
  EXPECT_EQ(ReadWith({head + "99999999999\r\n\r\n"}, r), WebRead::kBodyTooLarge);
}

TEST(WebFraming, HeaderBoundWithoutBlankLine) {
  WebRequest r;
  std::vector<std::string> pieces{"GET / HTTP/1.1\r\n"};
  for (int i = 0; i < 20; ++i) pieces.push_back("X-Filler: " + std::string(1000, 'a') + "\r\n");
  EXPECT_EQ(ReadWith(pieces, r), WebRead::kHeaderTooLarge);
  // Just under the bound with the blank line in the same receive: accepted.
  EXPECT_EQ(ReadWith({"GET / HTTP/1.1\r\nX: " + std::string(16000, 'b') + "\r\n\r\n"}, r), WebRead::kComplete);
}

TEST(WebFraming, PeerThatStopsEarly) {
  WebRequest r;
  EXPECT_EQ(ReadWith({"POST /save HTTP/1.1\r\nContent-Length: 10\r\n\r\nfps="}, r, true),
            WebRead::kIncompleteBody);
  EXPECT_EQ(ReadWith({"GET / HTTP/1.1\r\nHost:"}, r, true), WebRead::kClosed);
}

TEST(WebFraming, SilentAndTricklingPeersAreCutOff) {
  WebLimits limits;
  limits.receive_timeout_ms = 200;
  limits.request_deadline_ms = 600;
  WebRequest r;
  LoopbackPair silent = Connect();
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(ReadWebRequest(silent.server.get(), limits, r), WebRead::kClosed);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));

  // One byte every 100 ms never trips the per-receive time-out, only the
  // budget of the whole request.
  std::vector<std::string> bytes(30, "a");
  start = std::chrono::steady_clock::now();
  EXPECT_EQ(ReadWith(bytes, r, false, limits), WebRead::kClosed);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
}

TEST(WebFraming, FailureAnswers) {
  EXPECT_EQ(ReadFailureReply(WebRead::kHeaderTooLarge),
            "HTTP/1.1 431 Request Header Fields Too Large\r\nContent-Type: text/plain; charset=utf-8\r\n"
            "Content-Length: 9\r\nX-Content-Type-Options: nosniff\r\nConnection: close\r\n\r\ntoo large");
  EXPECT_TRUE(ReadFailureReply(WebRead::kBodyTooLarge).starts_with("HTTP/1.1 413 Payload Too Large\r\n"));
  EXPECT_TRUE(ReadFailureReply(WebRead::kIncompleteBody).ends_with("\r\n\r\nincomplete body"));
  EXPECT_EQ(ReadFailureReply(WebRead::kClosed), "");
}

TEST(WebFraming, PeerThatNeverReadsTheAnswer) {
  WebLimits limits;
  limits.send_timeout_ms = 200;
  limits.answer_deadline_ms = 600;
  LoopbackPair pair = Connect();
  SetSendBufferBytes(pair.server.get(), 16384);
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(SendAnswer(pair.server.get(), std::string(64 << 20, 'j'), limits));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2000));
}

}  // namespace
}  // namespace lcx
