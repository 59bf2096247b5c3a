#include "core/request_head.h"

#include <gtest/gtest.h>

namespace lcx {
namespace {

RequestHead Parse(std::string_view text) {
  RequestHead head;
  EXPECT_EQ(ParseRequestHead(text, head), HeadStatus::kOk) << text;
  return head;
}

TEST(RequestHead, RequestLineAndFields) {
  RequestHead head = Parse(
      "\r\nDESCRIBE rtsp://10.0.0.5:8554/screenlive RTSP/1.0\r\nCSeq: 3\r\n"
      "accept:application/sdp \r\nX-Long: one\r\n\t two\r\n  three\r\nno colon here\r\n: empty name\r\n"
      "Bad : spaced\r\n\r\nContent-Length: 99\r\n");
  EXPECT_EQ(head.method, "DESCRIBE");
  EXPECT_EQ(head.target, "rtsp://10.0.0.5:8554/screenlive");
  EXPECT_EQ(head.version, "RTSP/1.0");
  ASSERT_EQ(head.fields.size(), 3u);
  EXPECT_EQ(head.Find("cseq"), "3");
  EXPECT_EQ(head.Find("ACCEPT"), "application/sdp");
  EXPECT_EQ(head.Find("x-long"), "one two three") << "folded lines join the field above";
  EXPECT_FALSE(head.Find("Content-Length")) << "nothing after the blank line is a field";
  EXPECT_FALSE(head.Find("Bad"));

  RequestHead bare = Parse("GET /login\nHost: cam\n\n");
  EXPECT_EQ(bare.target, "/login");
  EXPECT_EQ(bare.version, "");
  EXPECT_EQ(bare.Find("host"), "cam");
  EXPECT_EQ(Parse("").method, "");
}

TEST(RequestHead, RepeatedFieldsAreAllKept) {
  RequestHead head = Parse("GET / HTTP/1.1\r\nX-A: 1\r\nx-a: 2\r\nX-A:3\r\n\r\n");
  EXPECT_EQ(head.Find("X-A"), "1");
  EXPECT_EQ(head.FindAll("X-A"), (std::vector<std::string_view>{"1", "2", "3"}));
}

TEST(RequestHead, Limits) {
  HeadLimits limits;
  limits.max_fields = 3;
  limits.max_line_bytes = 64;
  RequestHead head;
  EXPECT_EQ(ParseRequestHead("GET / HTTP/1.1\r\nA: 1\r\nB: 2\r\nC: 3\r\n\r\n", head, limits), HeadStatus::kOk);
  EXPECT_EQ(ParseRequestHead("GET / HTTP/1.1\r\nA: 1\r\nB: 2\r\nC: 3\r\nD: 4\r\n\r\n", head, limits),
            HeadStatus::kTooLarge);
  EXPECT_EQ(ParseRequestHead("GET / HTTP/1.1\r\nA: " + std::string(70, 'a') + "\r\n\r\n", head, limits),
            HeadStatus::kTooLarge);
  // Folding cannot grow a value past the bound, nor add lines past the count.
  EXPECT_EQ(ParseRequestHead("GET / HTTP/1.1\r\nA: " + std::string(40, 'a') + "\r\n " + std::string(40, 'b') +
                                 "\r\n\r\n",
                             head, limits),
            HeadStatus::kTooLarge);
  EXPECT_EQ(ParseRequestHead("GET / HTTP/1.1\r\nA: 1\r\n 2\r\n 3\r\n 4\r\n\r\n", head, limits), HeadStatus::kTooLarge);
}

TEST(RequestHead, TargetPath) {
  struct Case {
    const char* target;
    const char* path;
  } cases[] = {
      {"/login", "/login"},
      {"/snapshot.jpg?t=12#x", "/snapshot.jpg"},
      {"rtsp://host/screenlive?x=screensub", "/screenlive"},
      {"rtsp://user@10.0.0.5:8554/screensub/trackID=0", "/screensub/trackID=0"},
      {"rtsp://host", "/"},
      {"rtsp://host?screensub", "/"},
      {"/a?next=rtsp://x/y", "/a"},
      {"", "/"},
      {"*", "*"},
  };
  for (const Case& c : cases) EXPECT_EQ(TargetPath(c.target), c.path) << c.target;
  EXPECT_EQ(PathSegments("//screensub/trackID=0/"), (std::vector<std::string_view>{"screensub", "trackID=0"}));
}

TEST(RequestHead, ContentLength) {
  struct Case {
    const char* fields;
    std::optional<int64_t> length;
  } cases[] = {
      {"", 0},
      {"Content-Length: 42\r\n", 42},
      {"content-length:7\r\n", 7},
      {"CONTENT-LENGTH: 9\r\n", 9},  // curl and others in capitals
      {"X-Original-Content-Length: 9\r\n", 0},  // a longer name is another field
      {"Content-Length: 5\r\nContent-Length: 5\r\n", 5},
      {"Content-Length: 5\r\ncontent-length: 6\r\n", std::nullopt},  // two bodies: refused
      {"Content-Length: -1\r\n", std::nullopt},
      {"Content-Length: +12\r\n", std::nullopt},
      {"Content-Length: 12abc\r\n", std::nullopt},
      {"Content-Length:\r\n", std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ContentLength(Parse(std::string("POST / HTTP/1.1\r\n") + c.fields + "\r\n")), c.length) << c.fields;
  }
  std::optional<int64_t> huge =
      ContentLength(Parse("POST / HTTP/1.1\r\nContent-Length: 99999999999999999999999999\r\n\r\n"));
  ASSERT_TRUE(huge);
  EXPECT_GT(*huge, int64_t{1} << 58) << "saturates instead of overflowing";
}

TEST(RequestHead, Cookies) {
  RequestHead head = Parse(
      "GET / HTTP/1.1\r\nCookie: other_lcx_sess=zz; lcx_sess = abc ;theme=dark; flag\r\n"
      "cookie: lcx_sess=def\r\nX-Cookie: lcx_sess=forged\r\n\r\n");
  EXPECT_EQ(RequestCookies(head),
            (std::vector<std::pair<std::string, std::string>>{
                {"other_lcx_sess", "zz"}, {"lcx_sess", "abc"}, {"theme", "dark"}, {"lcx_sess", "def"}}));
  EXPECT_EQ(CookieValues(head, "lcx_sess"), (std::vector<std::string>{"abc", "def"}));
  EXPECT_TRUE(CookieValues(head, "sess").empty()) << "names match whole";
}

TEST(RequestHead, Transport) {
  struct Case {
    const char* value;
    bool interleaved;
  } cases[] = {
      {"RTP/AVP/TCP;unicast;interleaved=0-1", true},   // ffmpeg, GStreamer over TCP
      {"RTP/AVP/tcp;unicast", true},
      {"RTP/AVP;unicast;interleaved=2-3", true},
      {"RTP/AVP;unicast;client_port=5000-5001", false},  // UDP
      {"RTP/AVP/UDP;unicast;client_port=5000-5001", false},
      {"RTP/AVP;unicast;client_port=5000-5001;mode=\"/TCP\"", false},
      {"RTP/AVP;unicast;client_port=5000-5001, RTP/AVP/TCP;unicast;interleaved=0-1", true},
      {"", false},
  };
  for (const Case& c : cases) {
    bool any = false;
    for (const TransportChoice& choice : ParseTransport(c.value)) any = any || choice.Interleaved();
    EXPECT_EQ(any, c.interleaved) << c.value;
  }
  std::vector<TransportChoice> choices = ParseTransport("RTP/AVP/TCP;unicast;interleaved=0-1");
  ASSERT_EQ(choices.size(), 1u);
  EXPECT_EQ(choices[0].protocol, "RTP/AVP/TCP");
  EXPECT_EQ(choices[0].parameters,
            (std::vector<std::pair<std::string, std::string>>{{"unicast", ""}, {"interleaved", "0-1"}}));
}

}  // namespace
}  // namespace lcx
