#include "rtsp/rtsp_messages.h"

#include <gtest/gtest.h>

#include <climits>

namespace lcx {
namespace {

RequestHead Head(std::string_view request) {
  RequestHead head;
  EXPECT_TRUE(ParseRtspHead(request, head)) << request;
  return head;
}

TEST(RtspRequestFields, MethodAndCSeq) {
  struct Case {
    const char* name;
    const char* request;
    const char* method;
    int cseq;
  } cases[] = {
      {"ffmpeg options", "OPTIONS rtsp://h:8554/screenlive RTSP/1.0\r\nCSeq: 1\r\nUser-Agent: x\r\n\r\n",
       "OPTIONS", 1},
      {"other spelling", "DESCRIBE rtsp://h/ RTSP/1.0\r\nCseq: 5\r\n\r\n", "DESCRIBE", 5},
      {"any spelling", "DESCRIBE rtsp://h/ RTSP/1.0\r\ncseq: 6\r\n\r\n", "DESCRIBE", 6},
      {"repeated: the first counts", "DESCRIBE rtsp://h/ RTSP/1.0\r\nCSeq: 7\r\nCSeq: 8\r\n\r\n", "DESCRIBE", 7},
      {"a field that only ends in CSeq", "PLAY rtsp://h/ RTSP/1.0\r\nX-CSeq: 9\r\n\r\n", "PLAY", 0},
      {"a value that mentions CSeq", "PLAY rtsp://h/ RTSP/1.0\r\nUser-Agent: CSeq: 9\r\n\r\n", "PLAY", 0},
      {"no cseq", "PLAY rtsp://h/ RTSP/1.0\r\n\r\n", "PLAY", 0},
      {"no digits", "SETUP x RTSP/1.0\r\nCSeq: abc\r\n\r\n", "SETUP", 0},
      {"sign and blanks", "X y\r\nCSeq:   -3\r\n", "X", -3},
      {"saturates", "X y\r\nCSeq: 99999999999999999999\r\n", "X", INT_MAX},
      {"no space at all", "garbage", "garbage", 0},
      {"lower-case method stays as sent", "options * RTSP/1.0\r\nCSeq: 2\r\n", "options", 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RequestHead head = Head(c.request);
    EXPECT_EQ(head.method, c.method);
    EXPECT_EQ(RtspCSeq(head), c.cseq);
  }
  std::string flood = "OPTIONS * RTSP/1.0\r\nCSeq: 1\r\n";
  for (int i = 0; i < 200; ++i) flood += "X:\r\n";
  RequestHead head;
  EXPECT_FALSE(ParseRtspHead(flood + "\r\n", head));
}

TEST(RtspRequestFields, TransportChoice) {
  struct Case {
    const char* name;
    const char* fields;
    bool interleaved;
  } cases[] = {
      {"ffmpeg -rtsp_transport tcp", "Transport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n", true},
      {"GStreamer, channels of its own", "Transport: RTP/AVP/TCP;unicast;interleaved=2-3\r\n", true},
      {"TCP without channels", "Transport: RTP/AVP/TCP;unicast\r\n", true},
      {"lower-case field name", "transport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n", true},
      {"UDP first, TCP offered second", "Transport: RTP/AVP;unicast;client_port=5000-5001,RTP/AVP/TCP;unicast\r\n",
       true},
      {"UDP", "Transport: RTP/AVP;unicast;client_port=5000-5001\r\n", false},
      {"UDP, \"/TCP\" in another field", "Transport: RTP/AVP;unicast;client_port=5000-5001\r\nX-Via: a/TCP\r\n",
       false},
      {"UDP, \"interleaved\" in another field",
       "Transport: RTP/AVP;unicast;client_port=5000-5001\r\nUser-Agent: interleaved\r\n", false},
      {"no Transport", "", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(WantsInterleavedTransport(Head(std::string("SETUP rtsp://h/x?/TCP RTSP/1.0\r\n") + c.fields + "\r\n")),
              c.interleaved)
        << c.name;
  }
}

TEST(RtspRequestFields, StreamByPathSegment) {
  struct Case {
    const char* url;
    bool sub;
  } cases[] = {
      {"rtsp://h/screensub", true},
      {"rtsp://h:8554/screensub/trackID=0", true},
      {"rtsp://h/screenlive?x=screensub", false},
      {"rtsp://h/screenlive#screensub", false},
      {"rtsp://screensub/screenlive", false},
      {"rtsp://h/screensubx", false},
      {"rtsp://h/xscreensub", false},
      {"rtsp://h/screenlive", false},
      {"*", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(NamesStream(Head(std::string("DESCRIBE ") + c.url + " RTSP/1.0\r\nCSeq: 2\r\n\r\n"), "screensub"),
              c.sub)
        << c.url;
  }
  EXPECT_FALSE(NamesStream(Head("DESCRIBE rtsp://h/screenlive RTSP/1.0\r\nX-Stream: screensub\r\n\r\n"),
                           "screensub"))
      << "a field is no path";
}

constexpr uint32_t kRtpTime = 4294967295u;

TEST(RtspResponses, ExactTexts) {
  struct Case {
    const char* name;
    std::string built;
    const char* expected;
  } cases[] = {
      {"options", BuildOptionsResponse(1),
       "RTSP/1.0 200 OK\r\nCSeq: 1\r\nPublic: OPTIONS, DESCRIBE, SETUP, PLAY, TEARDOWN\r\n\r\n"},
      {"describe", BuildDescribeResponse(2, "v=0\r\n"),
       "RTSP/1.0 200 OK\r\nCSeq: 2\r\nContent-Type: application/sdp\r\nContent-Length: 5\r\n\r\nv=0\r\n"},
      {"bad request", BuildBadRequestResponse(4), "RTSP/1.0 400 Bad Request\r\nCSeq: 4\r\n\r\n"},
      {"setup", BuildSetupResponse(3, "12345678"),
       "RTSP/1.0 200 OK\r\nCSeq: 3\r\nTransport: RTP/AVP/TCP;unicast;interleaved=0-1\r\nSession: 12345678\r\n\r\n"},
      {"setup refused", BuildUnsupportedTransportResponse(4), "RTSP/1.0 461 Unsupported Transport\r\nCSeq: 4\r\n\r\n"},
      {"play naming the first packet", BuildPlayResponse(5, "9f3a0c1d22e4b607", "rtsp://h/live/trackID=0", 0, &kRtpTime),
       "RTSP/1.0 200 OK\r\nCSeq: 5\r\nSession: 9f3a0c1d22e4b607\r\nRange: npt=0.000-\r\n"
       "RTP-Info: url=rtsp://h/live/trackID=0;seq=0;rtptime=4294967295\r\n\r\n"},
      {"play before any frame", BuildPlayResponse(5, "12345678", "rtsp://h/live", 0, nullptr),
       "RTSP/1.0 200 OK\r\nCSeq: 5\r\nSession: 12345678\r\nRange: npt=0.000-\r\nRTP-Info: url=rtsp://h/live;seq=0\r\n\r\n"},
      {"teardown", BuildTeardownResponse(6, "12345678"), "RTSP/1.0 200 OK\r\nCSeq: 6\r\nSession: 12345678\r\n\r\n"},
      {"other method", BuildPlainOkResponse(7), "RTSP/1.0 200 OK\r\nCSeq: 7\r\n\r\n"},
      {"challenge", BuildUnauthorizedResponse(8, "Lumicast", "00ff"),
       "RTSP/1.0 401 Unauthorized\r\nCSeq: 8\r\nWWW-Authenticate: Digest realm=\"Lumicast\", nonce=\"00ff\"\r\n"
       "WWW-Authenticate: Basic realm=\"Lumicast\"\r\n\r\n"},
      {"challenge after an expired nonce", BuildUnauthorizedResponse(9, "Lumicast", "00ff", true),
       "RTSP/1.0 401 Unauthorized\r\nCSeq: 9\r\nWWW-Authenticate: Digest realm=\"Lumicast\", nonce=\"00ff\", "
       "stale=true\r\nWWW-Authenticate: Basic realm=\"Lumicast\"\r\n\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.built, c.expected);
  }
}

}  // namespace
}  // namespace lcx
