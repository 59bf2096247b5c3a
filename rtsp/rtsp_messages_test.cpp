#include "rtsp/rtsp_messages.h"

#include <gtest/gtest.h>

#include <climits>

namespace lcx {
namespace {

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
      {"no cseq", "PLAY rtsp://h/ RTSP/1.0\r\n\r\n", "PLAY", 0},
      {"no digits", "SETUP x RTSP/1.0\r\nCSeq: abc\r\n\r\n", "SETUP", 0},
      {"sign and blanks", "X y\r\nCSeq:   -3\r\n", "X", -3},
      {"saturates", "X y\r\nCSeq: 99999999999999999999\r\n", "X", INT_MAX},
      {"no space at all", "garbage", "garbage", 0},
      {"lower-case method stays as sent", "options * RTSP/1.0\r\nCSeq: 2\r\n", "options", 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(RtspMethod(c.request), c.method);
    EXPECT_EQ(RtspCSeq(c.request), c.cseq);
  }
}

TEST(RtspRequestFields, TransportChoice) {
  EXPECT_TRUE(WantsInterleavedTransport("SETUP u RTSP/1.0\r\nTransport: RTP/AVP/TCP;unicast;interleaved=2-3\r\n"));
  EXPECT_TRUE(WantsInterleavedTransport("SETUP u RTSP/1.0\r\nTransport: RTP/AVP/TCP;unicast\r\n"));
  EXPECT_FALSE(WantsInterleavedTransport("SETUP u RTSP/1.0\r\nTransport: RTP/AVP;unicast;client_port=5000-5001\r\n"));
}

TEST(RtspRequestFields, RequestUrl) {
  EXPECT_EQ(RtspRequestUrl("SETUP rtsp://10.0.0.5:554/screenlive/trackID=0 RTSP/1.0\r\nCSeq: 3\r\n\r\n"),
            "rtsp://10.0.0.5:554/screenlive/trackID=0");
  EXPECT_EQ(RtspRequestUrl("PLAY rtsp://h/\r\n"), "rtsp://h/");
  EXPECT_EQ(RtspRequestUrl("PLAY"), "");
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
