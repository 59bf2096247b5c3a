#include "onvif/onvif_http.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <string>
#include <thread>
#include <vector>

#include "onvif/onvif_service.h"
#include "platform/net.h"
#include "platform/system.h"

namespace lcx {
namespace {

TEST(RequestContentLength, ReadLikeAtoi) {
  struct Case {
    const char* text;
    int64_t expected;
  } cases[] = {
      {"POST / HTTP/1.1\r\nContent-Length: 42\r\n\r\n", 42},
      {"POST / HTTP/1.1\r\ncontent-length:7\r\n\r\n", 7},
      {"POST / HTTP/1.1\r\nContent-Length: \t+12abc\r\n\r\n", 12},
      {"POST / HTTP/1.1\r\nContent-Length: -5\r\n\r\n", -5},
      {"POST / HTTP/1.1\r\nCONTENT-LENGTH: 42\r\n\r\n", 0},
      {"POST / HTTP/1.1\r\nContent-Length: x\r\n\r\n", 0},
      {"POST / HTTP/1.1\r\n\r\n", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(RequestContentLength(c.text), c.expected);
  }
  EXPECT_GT(RequestContentLength("Content-Length: 99999999999999999999999999\r\n"), int64_t{1} << 58)
      << "saturates instead of overflowing";
}

TEST(RefusalAnswer, OnlyForRequestsNotReadInFull) {
  struct Case {
    RequestRead read;
    const char* expected;
  } cases[] = {
      {RequestRead::kHeaderTooLarge,
       "HTTP/1.1 431 Request Header Fields Too Large\r\nContent-Length: 0\r\nConnection: close\r\n\r\n"},
      {RequestRead::kBodyTooLarge, "HTTP/1.1 413 Payload Too Large\r\nContent-Length: 0\r\nConnection: close\r\n\r\n"},
      {RequestRead::kNoHeader, ""},  // the peer is gone or silent: nothing to say
      {RequestRead::kComplete, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(RefusalAnswer(c.read), c.expected) << static_cast<int>(c.read);
}

struct Pair {
  UniqueFd server, client;
};
Pair MakePair() {
  int fds[2];
  EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
  return {UniqueFd(fds[0]), UniqueFd(fds[1])};
}

TEST(ReadOnvifRequest, Framing) {
  const std::string header = "POST /onvif/device_service HTTP/1.1\r\nHost: cam\r\n";
  struct Case {
    const char* name;
    std::vector<std::string> segments;  // written 20 ms apart
    bool close_after;                   // else the writer keeps the socket open
    RequestRead outcome;
    std::string body;
  } cases[] = {
      {"header split inside the blank line",
       {header + "Content-Length: 5\r\n\r", "\nhel", "lo"}, false, RequestRead::kComplete, "hello"},
      {"header split inside the length",
       {header + "Content-Le", "ngth: 3\r\n\r\n", "abc"}, false, RequestRead::kComplete, "abc"},
      {"no Content-Length: only what came with the header",
       {header + "\r\n<a/>", "<late/>"}, false, RequestRead::kComplete, "<a/>"},
      {"capitalised length is not a length",
       {header + "CONTENT-LENGTH: 6\r\n\r\n", "abcdef"}, false, RequestRead::kComplete, ""},
      {"body shorter than announced, peer closes",
       {header + "Content-Length: 100\r\n\r\nabc"}, true, RequestRead::kComplete, "abc"},
      {"bytes beyond the length stay", {header + "Content-Length: 2\r\n\r\nabcd"}, false, RequestRead::kComplete,
       "abcd"},
      {"peer closes before the header ends", {header}, true, RequestRead::kNoHeader, ""},
      {"huge Content-Length", {header + "Content-Length: 99999999999\r\n\r\n"}, false, RequestRead::kBodyTooLarge,
       ""},
      {"header that never ends", {header + std::string(5000, 'a')}, false, RequestRead::kHeaderTooLarge, ""},
      // A body's text is no header, however the bytes are split.
      {"no Content-Length, body mentions one",
       {header + "\r\n<!-- Content-Length: 999999 -->"}, false, RequestRead::kComplete,
       "<!-- Content-Length: 999999 -->"},
      {"no Content-Length, body mentions one in a later read",
       {header + "\r\n<a>", "<!-- Content-Length: 999999 -->"}, false, RequestRead::kComplete, "<a>"},
      {"lower-case length, body mentions a larger one",
       {header + "content-length: 31\r\n\r\n", "<!-- Content-Length: 999999 -->"}, false, RequestRead::kComplete,
       "<!-- Content-Length: 999999 -->"},
      {"lower-case length, body mentions a larger one, one read",
       {header + "content-length: 31\r\n\r\n<!-- Content-Length: 999999 -->"}, false, RequestRead::kComplete,
       "<!-- Content-Length: 999999 -->"},
  };
  OnvifLimits limits;
  // No row waits for the time-out; a long one keeps a writer that a busy
  // machine delays between its segments from turning a row into a time-out.
  limits.receive_timeout_ms = 5000;
  limits.max_request_bytes = 4096;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Pair pair = MakePair();
    std::thread writer([&] {
      for (const std::string& s : c.segments) {
        SendAll(pair.client.get(), s);
        SleepMs(20);
      }
      if (c.close_after) pair.client.reset();
    });
    OnvifRequest request;
    RequestRead outcome = ReadOnvifRequest(pair.server.get(), limits, request);
    writer.join();
    EXPECT_EQ(outcome, c.outcome);
    if (outcome == RequestRead::kComplete) {
      EXPECT_EQ(request.Body(), c.body);
    }
  }
}

TEST(ReadOnvifRequest, StalledPeerRunsOutOfTime) {
  OnvifLimits limits;
  limits.receive_timeout_ms = 300;
  Pair pair = MakePair();
  // Trickling bytes must not extend the budget: it covers the whole request.
  std::thread writer([&] {
    for (int i = 0; i < 50; ++i) {
      if (!SendAll(pair.client.get(), "X")) break;  // fails once the reader has closed
      SleepMs(100);
    }
  });
  uint64_t start = BootTickMs();
  OnvifRequest request;
  EXPECT_EQ(ReadOnvifRequest(pair.server.get(), limits, request), RequestRead::kNoHeader);
  EXPECT_LT(BootTickMs() - start, 2500u);
  pair.server.reset();
  writer.join();

  // A stalled body is handled with what arrived.
  Pair second = MakePair();
  SendAll(second.client.get(), "POST / HTTP/1.1\r\nContent-Length: 50\r\n\r\n<partial");
  EXPECT_EQ(ReadOnvifRequest(second.server.get(), limits, request), RequestRead::kComplete);
  EXPECT_EQ(request.Body(), "<partial");
}

}  // namespace
}  // namespace lcx
