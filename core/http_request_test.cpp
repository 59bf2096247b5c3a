// The shared HTTP framing over real socket pairs: segments, bounds, budgets
// and the two ports' options, as browsers, recorders, curl or a hostile peer
// produce them.
#include "core/http_request.h"

#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/net.h"
#include "platform/socket_pair_testing.h"
#include "platform/system.h"

namespace lcx {
namespace {

using Pair = SocketPair;
Pair MakePair() { return MakeSocketPair(); }

// The ONVIF port's choices: one bound for everything, a short or long body
// handled as it came.
HttpLimits OnvifLike() {
  HttpLimits limits;
  limits.max_head_bytes = limits.max_body_bytes = limits.max_request_bytes = 4096;
  limits.refuse_short_body = false;
  limits.keep_bytes_beyond_length = true;
  return limits;
}

struct Case {
  const char* name;
  bool onvif;                         // else the web panel's options
  std::vector<std::string> segments;  // written 20 ms apart, as separate segments
  bool close_after;                   // else the writer keeps the socket open
  HttpRead outcome;
  std::string body;
};

TEST(ReadHttpRequest, Framing) {
  const std::string head = "POST /onvif/device_service HTTP/1.1\r\nHost: cam\r\n";
  const Case cases[] = {
      {"head split inside the blank line", true, {head + "Content-Length: 5\r\n\r", "\nhel", "lo"}, false,
       HttpRead::kComplete, "hello"},
      {"head split inside the length's name", false, {head + "Content-Le", "ngth: 3\r\n\r\n", "abc"}, false,
       HttpRead::kComplete, "abc"},
      {"no length: only what came with the head (ONVIF)", true, {head + "\r\n<a/>", "<late/>"}, false,
       HttpRead::kComplete, "<a/>"},
      {"no length: no body (web)", false, {head + "\r\n<a/>"}, false, HttpRead::kComplete, ""},
      {"length in capitals, as curl may send it", true, {head + "CONTENT-LENGTH: 6\r\n\r\n", "abcdef"}, false,
       HttpRead::kComplete, "abcdef"},
      {"short body, peer closes (ONVIF handles it)", true, {head + "Content-Length: 100\r\n\r\nabc"}, true,
       HttpRead::kComplete, "abc"},
      {"short body, peer closes (web refuses it)", false, {head + "Content-Length: 10\r\n\r\nfps="}, true,
       HttpRead::kIncompleteBody, ""},
      {"bytes beyond the length stay (ONVIF)", true, {head + "Content-Length: 2\r\n\r\nabcd"}, false,
       HttpRead::kComplete, "abcd"},
      {"bytes beyond the length go (web)", false, {head + "Content-Length: 2\r\n\r\nabcd"}, false,
       HttpRead::kComplete, "ab"},
      {"peer closes before the head ends", true, {head}, true, HttpRead::kClosed, ""},
      {"huge length", true, {head + "Content-Length: 99999999999\r\n\r\n"}, false, HttpRead::kBodyTooLarge, ""},
      {"head and body over the ONVIF bound together", true, {head + "Content-Length: 4050\r\n\r\n"}, false,
       HttpRead::kBodyTooLarge, ""},
      {"body over the web bound", false, {head + "Content-Length: 65537\r\n\r\n"}, false, HttpRead::kBodyTooLarge,
       ""},
      {"negative length", false, {head + "Content-Length: -1\r\n\r\n"}, false, HttpRead::kBadLength, ""},
      {"two lengths that disagree", true, {head + "Content-Length: 3\r\ncontent-length: 30\r\n\r\nabc"}, false,
       HttpRead::kBadLength, ""},
      {"head that never ends", true, {head + std::string(5000, 'a')}, false, HttpRead::kHeaderTooLarge, ""},
      {"too many header lines", false, {"GET / HTTP/1.1\r\n" + [] {
                                          std::string lines;
                                          for (int i = 0; i < 101; ++i) lines += "X: 1\r\n";
                                          return lines;
                                        }() + "\r\n"},
       false, HttpRead::kHeaderTooLarge, ""},
      // A body's text is no header, however the bytes are split.
      {"no length, body mentions one", true, {head + "\r\n<!-- Content-Length: 999999 -->"}, false,
       HttpRead::kComplete, "<!-- Content-Length: 999999 -->"},
      {"no length, body mentions one in a later read", true, {head + "\r\n<a>", "<!-- Content-Length: 999999 -->"},
       false, HttpRead::kComplete, "<a>"},
      {"lower-case length, body mentions a larger one", true,
       {head + "content-length: 31\r\n\r\n", "<!-- Content-Length: 999999 -->"}, false, HttpRead::kComplete,
       "<!-- Content-Length: 999999 -->"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HttpLimits limits = c.onvif ? OnvifLike() : HttpLimits();
    // No row waits for a time-out; a long one keeps a writer that a busy
    // machine delays between its segments from turning a row into one.
    limits.receive_timeout_ms = 5000;
    Pair pair = MakePair();
    std::thread writer([&] {
      for (const std::string& s : c.segments) {
        SendAll(pair.client.get(), s);
        SleepMs(20);
      }
      if (c.close_after) pair.client.reset();
    });
    HttpRequest request;
    HttpRead outcome = ReadHttpRequest(pair.server.get(), limits, request);
    writer.join();
    EXPECT_EQ(outcome, c.outcome);
    if (outcome == HttpRead::kComplete) {
      EXPECT_EQ(request.Body(), c.body);
      EXPECT_EQ(request.head.method, c.segments[0].substr(0, c.segments[0].find(' ')));
      EXPECT_TRUE(request.Head().ends_with("\r\n\r\n"));
    }
  }
}

TEST(ReadHttpRequest, SilentAndTricklingPeersRunOutOfTime) {
  HttpLimits limits;
  limits.receive_timeout_ms = 200;
  limits.request_deadline_ms = 600;
  HttpRequest request;
  Pair silent = MakePair();
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(ReadHttpRequest(silent.server.get(), limits, request), HttpRead::kClosed);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));

  // One byte every 100 ms never trips the per-receive time-out, only the
  // budget of the whole request.
  Pair trickle = MakePair();
  std::thread writer([&] {
    for (int i = 0; i < 50; ++i) {
      if (!SendAll(trickle.client.get(), "X")) break;  // fails once the reader has closed
      SleepMs(100);
    }
  });
  start = std::chrono::steady_clock::now();
  EXPECT_EQ(ReadHttpRequest(trickle.server.get(), limits, request), HttpRead::kClosed);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2500));
  trickle.server.reset();
  writer.join();

  // The ONVIF port handles a stalled body with what arrived.
  HttpLimits onvif = OnvifLike();
  onvif.receive_timeout_ms = 0;
  onvif.request_deadline_ms = 300;
  Pair stalled = MakePair();
  SendAll(stalled.client.get(), "POST / HTTP/1.1\r\nContent-Length: 50\r\n\r\n<partial");
  EXPECT_EQ(ReadHttpRequest(stalled.server.get(), onvif, request), HttpRead::kComplete);
  EXPECT_EQ(request.Body(), "<partial");
}

TEST(SendHttpAnswer, PeerThatNeverReadsIsGivenUp) {
  HttpLimits limits;
  limits.send_timeout_ms = 200;
  limits.answer_deadline_ms = 600;
  Pair pair = MakePair();
  SetSendBufferBytes(pair.server.get(), 16384);
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(SendHttpAnswer(pair.server.get(), limits, std::string(64 << 20, 'j')));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2000));
}

// Over TCP, where closing with unread bytes resets the connection.
Pair LoopbackTcp() {
  int error = 0;
  UniqueFd listener = ListenTcp(0, 1, &error);
  EXPECT_TRUE(listener.valid()) << error;
  UniqueFd client(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(LocalPort(listener.get())));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  EXPECT_EQ(::connect(client.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  return {AcceptClient(listener.get(), nullptr), std::move(client)};
}

TEST(RefuseAndDrain, AnswersThenReadsUntilThePeerGoes) {
  // The peer is still sending its oversized body when the refusal goes out.
  Pair pair = LoopbackTcp();
  SendAll(pair.client.get(), "POST / HTTP/1.1\r\nContent-Length: 999999\r\n\r\n" + std::string(2000, 'x'));
  HttpLimits limits;
  limits.drain_ms = 10000;
  std::atomic<bool> drained{false};
  std::thread refuser([&] {
    RefuseAndDrain(pair.server.get(), limits, "HTTP/1.1 413 Payload Too Large\r\n\r\n");
    drained = true;
    pair.server.reset();
  });
  std::string answer;
  char buf[256];
  for (long n; (n = ReceiveSome(pair.client.get(), buf, sizeof buf)) > 0;) answer.append(buf, static_cast<size_t>(n));
  EXPECT_EQ(answer, "HTTP/1.1 413 Payload Too Large\r\n\r\n");
  EXPECT_FALSE(drained.load()) << "the answer ends with the writing side shut, while the drain goes on";
  const auto closed = std::chrono::steady_clock::now();
  pair.client.reset();
  refuser.join();
  EXPECT_LT(std::chrono::steady_clock::now() - closed, std::chrono::milliseconds(5000)) << "the drain ends with the peer";
}

}  // namespace
}  // namespace lcx
