// Whole connections over loopback TCP: the socket side of the session (its
// reads, writes, peeks and the requesting time-out) against the same view a
// session gets from the server, with frames pushed the way the producer
// pushes them.
#include "rtsp/rtsp_connection.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/net.h"
#include "rtsp/test_interleaved.h"
#include "rtsp/test_session.h"

namespace lcx {
namespace {

using namespace std::chrono_literals;
using rtsp_test::AccessUnit;
using rtsp_test::Client;
using rtsp_test::Req;
using rtsp_test::SessionView;
using rtsp_test::WaitFor;

// A listener plus one session thread per accepted connection.
struct LoopbackServer {
  SessionView view{false, true};
  RtspSessionContext context = view.Context();
  int request_idle_timeout_ms = kRequestIdleTimeoutMs;
  UniqueFd listener;
  int port = 0;
  std::vector<std::thread> sessions;

  LoopbackServer() {
    int error = 0;
    listener = ListenTcp(0, 8, &error);
    port = LocalPort(listener.get());
  }
  void AcceptOne() {
    std::string peer;
    UniqueFd fd = AcceptClient(listener.get(), &peer);
    sessions.emplace_back(
        [this, fd = std::move(fd)]() mutable { RtspSession(context, std::move(fd), request_idle_timeout_ms); });
  }
  ~LoopbackServer() {
    for (auto& t : sessions) t.join();
  }
};

// Up to PLAY, whose answer waits for the first frame (read it with
// PlayAnswer); returns the session SETUP named.
void Play(Client& client, const std::string& path, std::string* session) {
  const std::string url = "rtsp://127.0.0.1/" + path;
  ASSERT_TRUE(client.Send(Req("DESCRIBE", url, 2)));
  ASSERT_NE(client.ReadResponse().find("m=video 0 RTP/AVP 96"), std::string::npos);
  ASSERT_TRUE(client.Send(Req("SETUP", url + "/trackID=0", 3, "Transport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n")));
  const std::string setup = client.ReadResponse();
  ASSERT_NE(setup.find("interleaved=0-1"), std::string::npos);
  const size_t at = setup.find("Session: ");
  ASSERT_NE(at, std::string::npos);
  *session = setup.substr(at + 9, setup.find("\r\n", at) - at - 9);
  ASSERT_TRUE(client.Send(Req("PLAY", url, 4)));
}

void ExpectPlayAnswer(Client& client, const std::string& session, const std::string& rtp_info) {
  EXPECT_EQ(client.ReadResponse(), "RTSP/1.0 200 OK\r\nCSeq: 4\r\nSession: " + session +
                                       "\r\nRange: npt=0.000-\r\nRTP-Info: " + rtp_info + "\r\n\r\n");
}

// The sender report before the first frame: SR and SDES with the CNAME.
constexpr size_t kReportBytes = 4 + 28 + 20;

TEST(RtspSession, StreamsFramesAsInterleavedRtpUntilTeardown) {
  LoopbackServer ls;
  SessionView& view = ls.view;
  Client a(ls.port);
  ASSERT_TRUE(a.connected());
  ls.AcceptOne();
  std::string session_a, session_b;
  ASSERT_NO_FATAL_FAILURE(Play(a, "screenlive", &session_a));
  ASSERT_TRUE(WaitFor([&] { return view.viewer_count.load() == 1; }));
  EXPECT_TRUE(view.keyframe_request.exchange(false));  // first viewer asks for a key frame

  // Frame 1: key, slice fragmented (3000 bytes -> 3 FU-A); frame 2: small.
  PushFrame(view.main_channel, AccessUnit(true, 3000), true, 90000, 34);
  PushFrame(view.main_channel, AccessUnit(false, 100), false, 99000, 34);
  ExpectPlayAnswer(a, session_a, "url=rtsp://127.0.0.1/screenlive/trackID=0;seq=0;rtptime=90000");
  const size_t expected_bytes =
      kReportBytes + (16 + 4) + (16 + 4) + 3 * 16 + 2999 + 3 * 2 + (16 + 4) + (16 + 4) + (16 + 100);
  std::string wire = a.Read(expected_bytes);
  bool ok = false;
  auto packets = rtsp_test::ParseInterleaved(wire, &ok);
  ASSERT_TRUE(ok);
  ASSERT_EQ(packets.size(), 9u);
  EXPECT_EQ(packets[0].channel, 1);
  packets.erase(packets.begin());
  for (size_t i = 0; i < packets.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(packets[i].sequence, i);
    EXPECT_EQ(packets[i].timestamp, i < 5 ? 90000u : 99000u);
    EXPECT_EQ(packets[i].marker, i == 4 || i == 7);
    EXPECT_LE(packets[i].frame_length, 1412u);
  }
  EXPECT_EQ(packets[0].payload, std::string("\x67\x42\xC0\x1F", 4));
  EXPECT_EQ(packets[2].payload.substr(0, 2), "\x7C\x85");

  // A second viewer starts at the newest key frame with its own numbering
  // and asks for no extra key frame.
  Client b(ls.port);
  ls.AcceptOne();
  ASSERT_NO_FATAL_FAILURE(Play(b, "screenlive", &session_b));
  EXPECT_NE(session_b, session_a) << "each connection has its own session";
  ExpectPlayAnswer(b, session_b, "url=rtsp://127.0.0.1/screenlive/trackID=0;seq=0;rtptime=90000");
  std::string wire_b = b.Read(kReportBytes + 16 + 4);
  auto first_b = rtsp_test::ParseInterleaved(wire_b, &ok);
  ASSERT_EQ(first_b.size(), 2u);
  EXPECT_EQ(first_b[0].channel, 1);
  EXPECT_EQ(first_b[1].sequence, 0);
  EXPECT_EQ(first_b[1].timestamp, 90000u);
  ASSERT_TRUE(WaitFor([&] { return view.viewer_count.load() == 2; }));
  EXPECT_FALSE(view.keyframe_request.load());

  // TEARDOWN behind an interleaved receiver report (which holds zero bytes)
  // ends the stream: its answer is the last thing on the connection.
  const std::string teardown_answer = "RTSP/1.0 200 OK\r\nCSeq: 5\r\nSession: " + session_a + "\r\n\r\n";
  ASSERT_TRUE(a.Send(std::string("$\x01\x00\x04\x80\xC9\x00\x01", 8) + Req("TEARDOWN", "rtsp://h/", 5)));
  std::string rest_a;
  EXPECT_TRUE(a.ReadsEndOfStream(&rest_a));
  EXPECT_EQ(rest_a, teardown_answer);
  ASSERT_TRUE(b.Send(Req("TEARDOWN", "rtsp://h/", 5)));
  std::string rest_b;
  EXPECT_TRUE(b.ReadsEndOfStream(&rest_b));
  // b still had frames queued before its answer.
  const std::string teardown_b = "RTSP/1.0 200 OK\r\nCSeq: 5\r\nSession: " + session_b + "\r\n\r\n";
  ASSERT_GE(rest_b.size(), teardown_b.size());
  EXPECT_EQ(rest_b.substr(rest_b.size() - teardown_b.size()), teardown_b);
  EXPECT_TRUE(WaitFor([&] { return view.viewer_count.load() == 0; }));
}

TEST(RtspSession, PeerClosingEndsTheStreamAndIdleRequestersAreDropped) {
  LoopbackServer ls;
  ls.request_idle_timeout_ms = 300;
  {
    Client a(ls.port);
    ls.AcceptOne();
    std::string session;
    ASSERT_NO_FATAL_FAILURE(Play(a, "screensub", &session));
    ASSERT_TRUE(WaitFor([&] { return ls.view.viewer_count.load() == 1; }));
    PushFrame(ls.view.sub_channel, AccessUnit(true, 50), true, 0, 34);
    ExpectPlayAnswer(a, session, "url=rtsp://127.0.0.1/screensub/trackID=0;seq=0;rtptime=0");
    EXPECT_EQ(a.Read(kReportBytes + 16 + 4).size(), kReportBytes + 20);  // the sub channel's frame
  }
  // The client is gone and no frame is coming (a stalled producer): the
  // close is noticed anyway and the viewer leaves.
  EXPECT_TRUE(WaitFor([&] { return ls.view.viewer_count.load() == 0; }));

  // Connected but silent: closed once the requesting time-out passes, well
  // before the client's own 5 s read time-out.
  Client silent(ls.port);
  ls.AcceptOne();
  auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(silent.ReadsEndOfStream());
  EXPECT_LT(std::chrono::steady_clock::now() - start, 4s);
}

}  // namespace
}  // namespace lcx
