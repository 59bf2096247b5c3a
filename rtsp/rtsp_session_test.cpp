// The session driven with texts, no socket: the request loop's exact
// answers, and the streaming phase against a scripted peer (what it reads,
// whether it has gone) with frames pushed into the channel the way the
// producer pushes them.
#include "rtsp/rtsp_session.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/log.h"
#include "security/digest.h"
#include "security/http_auth.h"
#include "rtsp/rtcp.h"
#include "rtsp/rtp_h264.h"
#include "rtsp/rtsp_messages.h"
#include "rtsp/test_interleaved.h"
#include "rtsp/test_session.h"

namespace lcx {
namespace {

using rtsp_test::AccessUnit;
using rtsp_test::ParsedPacket;
using rtsp_test::Req;
using rtsp_test::SessionView;

constexpr const char* kBasicAdminSecret = "Authorization: Basic YWRtaW46c2VjcmV0\r\n";  // admin:secret
constexpr const char* kSecret = "0123456789abcdef0123456789abcdef";
constexpr int64_t kNow = 1000;

struct Step {
  std::string request;
  RequestOutcome outcome;
  std::string expected_start;  // the answer begins with this
  std::string expected_part;   // and contains this ("" = nothing more)
};

void RunSteps(SessionView& view, const std::vector<Step>& steps) {
  const RtspSessionContext context = view.Context();
  RtspConnection conn;
  conn.context = &context;
  conn.nonce_secret = kSecret;
  conn.session_id = "12345678";
  conn.now_s = [] { return kNow; };
  for (size_t i = 0; i < steps.size(); ++i) {
    SCOPED_TRACE("step " + std::to_string(i) + ": " + steps[i].request.substr(0, 40));
    std::string sent;
    RequestOutcome outcome = HandleRtspRequest(conn, steps[i].request, [&](std::string_view b) {
      sent.append(b);
      return true;
    });
    EXPECT_EQ(outcome, steps[i].outcome);
    EXPECT_EQ(sent.substr(0, steps[i].expected_start.size()), steps[i].expected_start) << sent;
    EXPECT_NE(sent.find(steps[i].expected_part), std::string::npos) << sent;
  }
}

TEST(HandleRtspRequest, ConnectionsAsClientsDriveThem) {
  const std::string url = "rtsp://127.0.0.1:8554/screenlive";
  const std::string sub = "rtsp://127.0.0.1:8554/screensub";
  const std::string tcp = "Transport: RTP/AVP/TCP;unicast;interleaved=2-3\r\n";
  const std::string challenge =
      "RTSP/1.0 401 Unauthorized\r\nCSeq: 2\r\nWWW-Authenticate: Digest realm=\"Lumicast\", "
      "nonce=\"" + MakeDigestNonce({kSecret, kNow}) + "\"\r\nWWW-Authenticate: Basic realm=\"Lumicast\"\r\n\r\n";
  struct Case {
    const char* name;
    bool auth;
    bool sub_on;
    std::vector<Step> steps;
  } cases[] = {
      {"player without protection", false, true,
       {{Req("OPTIONS", url, 1), RequestOutcome::kContinue,
         "RTSP/1.0 200 OK\r\nCSeq: 1\r\nPublic: OPTIONS, DESCRIBE, SETUP, PLAY, TEARDOWN\r\n\r\n", ""},
        {Req("DESCRIBE", url, 2), RequestOutcome::kContinue,
         "RTSP/1.0 200 OK\r\nCSeq: 2\r\nContent-Type: application/sdp\r\nContent-Length: ",
         "profile-level-id=4D0029;"},
        {Req("SETUP", url + "/trackID=0", 3, tcp), RequestOutcome::kContinue,
         "RTSP/1.0 200 OK\r\nCSeq: 3\r\nTransport: RTP/AVP/TCP;unicast;interleaved=0-1\r\nSession: 12345678\r\n\r\n",
         ""},
        // Answered by the streaming phase, which knows the first frame.
        {Req("PLAY", url, 4, "Session: 12345678\r\n"), RequestOutcome::kPlay, "", ""}}},
      {"udp first, then tcp", false, true,
       {{Req("SETUP", url, 3, "Transport: RTP/AVP;unicast;client_port=5000-5001\r\n"), RequestOutcome::kContinue,
         "RTSP/1.0 461 Unsupported Transport\r\nCSeq: 3\r\n\r\n", ""},
        {Req("SETUP", url, 4, tcp), RequestOutcome::kContinue, "RTSP/1.0 200 OK\r\nCSeq: 4\r\n", "interleaved=0-1"}}},
      {"protected: options open, describe challenged then basic", true, true,
       {{Req("OPTIONS", url, 1), RequestOutcome::kContinue, "RTSP/1.0 200 OK\r\nCSeq: 1\r\nPublic:", ""},
        {Req("DESCRIBE", url, 2), RequestOutcome::kContinue, challenge, ""},
        {Req("DESCRIBE", url, 3, "Authorization: Basic d3Jvbmc6d3Jvbmc=\r\n"), RequestOutcome::kContinue,
         "RTSP/1.0 401 Unauthorized\r\nCSeq: 3\r\n", ""},
        {Req("DESCRIBE", url, 4, kBasicAdminSecret), RequestOutcome::kContinue, "RTSP/1.0 200 OK\r\nCSeq: 4\r\n",
         "sprop-parameter-sets="},
        // Trusted from now on: no Authorization needed.
        {Req("SETUP", url, 5, tcp), RequestOutcome::kContinue, "RTSP/1.0 200 OK\r\nCSeq: 5\r\nTransport:", ""},
        {Req("PLAY", url, 6), RequestOutcome::kPlay, "", ""}}},
      {"sub-stream chosen by name and kept", false, true,
       {{Req("DESCRIBE", sub, 2), RequestOutcome::kContinue, "RTSP/1.0 200 OK", "profile-level-id=42C01E;"},
        {Req("DESCRIBE", url, 3), RequestOutcome::kContinue, "RTSP/1.0 200 OK", "profile-level-id=42C01E;"}}},
      {"sub-stream named only in the query, a field or the host gives main", false, true,
       {{Req("DESCRIBE", url + "?x=screensub", 2), RequestOutcome::kContinue, "RTSP/1.0 200 OK", "4D0029"},
        {Req("DESCRIBE", url, 3, "X-Stream: screensub\r\n"), RequestOutcome::kContinue, "RTSP/1.0 200 OK",
         "4D0029"},
        {Req("DESCRIBE", "rtsp://screensub/screenlive", 4), RequestOutcome::kContinue, "RTSP/1.0 200 OK",
         "4D0029"}}},
      {"\"/TCP\" and \"interleaved\" outside Transport are still UDP", false, true,
       {{Req("SETUP", url + "/trackID=0?via=/TCP", 3,
             "Transport: RTP/AVP;unicast;client_port=5000-5001\r\nUser-Agent: interleaved/1.0\r\n"),
         RequestOutcome::kContinue, "RTSP/1.0 461 Unsupported Transport\r\nCSeq: 3\r\n\r\n", ""},
        {Req("SETUP", url, 4, "transport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n"), RequestOutcome::kContinue,
         "RTSP/1.0 200 OK\r\nCSeq: 4\r\n", "interleaved=0-1"}}},
      {"unknown path and sub-stream off give main", false, false,
       {{Req("DESCRIBE", "rtsp://h/whatever", 2), RequestOutcome::kContinue, "RTSP/1.0 200 OK", "4D0029"},
        {Req("DESCRIBE", sub, 3), RequestOutcome::kContinue, "RTSP/1.0 200 OK", "4D0029"}}},
      {"other methods and odd headers", false, true,
       {{Req("GET_PARAMETER", url, 7), RequestOutcome::kContinue, "RTSP/1.0 200 OK\r\nCSeq: 7\r\n\r\n", ""},
        {"OPTIONS * RTSP/1.0\r\nCseq: 5\r\n\r\n", RequestOutcome::kContinue, "RTSP/1.0 200 OK\r\nCSeq: 5\r\n", ""},
        {"OPTIONS * RTSP/1.0\r\n\r\n", RequestOutcome::kContinue, "RTSP/1.0 200 OK\r\nCSeq: 0\r\n", ""},
        {Req("TEARDOWN", url, 9), RequestOutcome::kClose, "RTSP/1.0 200 OK\r\nCSeq: 9\r\nSession: 12345678\r\n\r\n",
         ""}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SessionView view(c.auth, c.sub_on);
    RunSteps(view, c.steps);
  }
}

TEST(HandleRtspRequest, HeadOverTheLineBoundIsRefusedAndCloses) {
  SessionView view(false, true);
  std::string flood = "DESCRIBE rtsp://h/screenlive RTSP/1.0\r\nCSeq: 4\r\n";
  for (int i = 0; i < 150; ++i) flood += "X:\r\n";
  RunSteps(view, {{flood + "\r\n", RequestOutcome::kClose, "RTSP/1.0 400 Bad Request\r\nCSeq: 4\r\n\r\n", ""}});
}

TEST(HandleRtspRequest, EmptyPasswordLocksEverythingButOptions) {
  SessionView view(true, true);
  view.settings.password = "";
  RunSteps(view, {{Req("OPTIONS", "rtsp://h/", 1), RequestOutcome::kContinue, "RTSP/1.0 200 OK", ""},
                    {Req("DESCRIBE", "rtsp://h/", 2, "Authorization: Basic YWRtaW46\r\n"),
                     RequestOutcome::kContinue, "RTSP/1.0 401", ""},
                    {Req("PLAY", "rtsp://h/", 3), RequestOutcome::kContinue, "RTSP/1.0 401", ""}});
}

TEST(HandleRtspRequest, FailedWriteClosesTheConnection) {
  SessionView view(true, true);
  const RtspSessionContext context = view.Context();
  RtspConnection conn;
  conn.context = &context;
  conn.nonce_secret = "00";
  auto fail = [](std::string_view) { return false; };
  EXPECT_EQ(HandleRtspRequest(conn, Req("DESCRIBE", "rtsp://h/", 1), fail), RequestOutcome::kClose);
  EXPECT_EQ(HandleRtspRequest(conn, Req("OPTIONS", "rtsp://h/", 2), fail), RequestOutcome::kClose);
}

// ffmpeg's Digest answer (no qop) to a challenge carrying `nonce`.
std::string FfmpegDigest(const std::string& method, const std::string& url, int cseq, const std::string& nonce,
                         const std::string& password = "secret") {
  std::string response =
      Md5Hex(Md5Hex("admin:Lumicast:" + password) + ":" + nonce + ":" + Md5Hex(method + ":" + url));
  return Req(method, url, cseq,
             "Authorization: Digest username=\"admin\", realm=\"Lumicast\", nonce=\"" + nonce + "\", uri=\"" + url +
                 "\", response=\"" + response + "\"\r\n");
}

TEST(HandleRtspRequest, DigestNoncesExpireAndAreAnsweredStale) {
  const std::string url = "rtsp://127.0.0.1/screenlive";
  const std::string nonce = MakeDigestNonce({kSecret, kNow});
  const std::string later_nonce = MakeDigestNonce({kSecret, kNow + kDigestNonceLifetimeS + 1});
  auto challenge = [](int cseq, const std::string& n, const char* stale) {
    return "RTSP/1.0 401 Unauthorized\r\nCSeq: " + std::to_string(cseq) +
           "\r\nWWW-Authenticate: Digest realm=\"Lumicast\", nonce=\"" + n + "\"" + stale +
           "\r\nWWW-Authenticate: Basic realm=\"Lumicast\"\r\n\r\n";
  };
  struct Case {
    const char* name;
    std::string request;
    int64_t now_s;
    std::string answer_start;
  } cases[] = {
      {"answered at once", FfmpegDigest("DESCRIBE", url, 3, nonce), kNow + 2, "RTSP/1.0 200 OK\r\nCSeq: 3\r\n"},
      {"answered at the end of the nonce's life", FfmpegDigest("DESCRIBE", url, 3, nonce),
       kNow + kDigestNonceLifetimeS, "RTSP/1.0 200 OK\r\nCSeq: 3\r\n"},
      {"answered too late: stale, with a fresh nonce", FfmpegDigest("DESCRIBE", url, 3, nonce),
       kNow + kDigestNonceLifetimeS + 1, challenge(3, later_nonce, ", stale=true")},
      {"too late and wrong password: not stale", FfmpegDigest("DESCRIBE", url, 3, nonce, "wrong"),
       kNow + kDigestNonceLifetimeS + 1, challenge(3, later_nonce, "")},
      {"nonce of another connection", FfmpegDigest("DESCRIBE", url, 3, MakeDigestNonce({"other", kNow})), kNow,
       challenge(3, nonce, "")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SessionView view(true, true);
    const RtspSessionContext context = view.Context();
    RtspConnection conn;
    conn.context = &context;
    conn.nonce_secret = kSecret;
    conn.now_s = [&] { return c.now_s; };
    std::string sent;
    HandleRtspRequest(conn, c.request, [&](std::string_view b) {
      sent.append(b);
      return true;
    });
    EXPECT_EQ(sent.substr(0, c.answer_start.size()), c.answer_start);
  }
}


// ---- whole sessions against a scripted peer ----

// The peer as the session sees it: each receive returns the next of `reads`
// ("" stands for a reset connection: the read fails); once they have all been
// read the peer has closed. Writes are captured in `sent`.
struct ScriptedPeer {
  std::vector<std::string> reads;
  bool writes_fail = false;
  size_t next = 0;
  std::string sent;
  std::vector<size_t> streaming_started_at;  // sent.size() at each start_streaming

  ConnectionIo Io() {
    ConnectionIo io;
    io.send = [this](std::string_view bytes) {
      if (writes_fail) return false;
      sent.append(bytes);
      return true;
    };
    io.receive = [this](char* buffer, size_t capacity) -> long {
      if (next == reads.size()) return 0;
      const std::string& r = reads[next++];
      if (r.empty()) return -1;
      const size_t n = std::min(capacity, r.size());
      std::memcpy(buffer, r.data(), n);
      return static_cast<long>(n);
    };
    io.has_input = [this] { return next < reads.size(); };
    io.peer_closed = [this] { return next == reads.size(); };
    io.start_streaming = [this] { streaming_started_at.push_back(sent.size()); };
    return io;
  }
};

const std::string kTeardownAnswer = "RTSP/1.0 200 OK\r\nCSeq: 5\r\nSession: 12345678\r\n\r\n";
// An interleaved receiver report: holds zero bytes before whatever follows.
const std::string kReceiverReport("$\x01\x00\x04\x80\xC9\x00\x01", 8);

TEST(StreamToClient, EndsAtTeardownCloseResetOrFailedWrite) {
  const std::string keep_alive = Req("GET_PARAMETER", "rtsp://h/", 4);
  struct Case {
    const char* name;
    int frames;  // queued before streaming: a key frame, then non-key ones
    std::vector<std::string> reads;
    bool writes_fail;
    size_t packets;      // RTP packets that went out
    bool teardown_answered;
  } cases[] = {
      {"keep-alive dropped, TEARDOWN behind a receiver report answered", 2,
       {keep_alive, kReceiverReport + Req("TEARDOWN", "rtsp://h/", 5)}, false, 6, true},
      {"TEARDOWN in the first read after the first frame", 2, {Req("TEARDOWN", "rtsp://h/", 5)}, false, 3, true},
      {"TEARDOWN split over two reads, behind part of a report", 3,
       {kReceiverReport.substr(0, 3), kReceiverReport.substr(3) + "TEAR", Req("DOWN", "rtsp://h/", 5)}, false, 9,
       true},
      {"a keep-alive whose body names TEARDOWN is no TEARDOWN", 2,
       {Req("SET_PARAMETER", "rtsp://h/", 4, "Content-Length: 8\r\n") + "TEARDOWN"}, false, 6, false},
      {"peer gone while no frame comes", 0, {}, false, 0, false},
      {"peer gone after the frames", 2, {}, false, 6, false},
      {"reset while input was waiting", 1, {""}, false, 3, false},
      {"failed write", 1, {}, true, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SessionView view(false, true);
    for (int i = 0; i < c.frames; ++i)
      PushFrame(view.main_channel, AccessUnit(i == 0, 100), i == 0, 1000 + 3000 * i, 34);
    ScriptedPeer peer;
    peer.reads = c.reads;
    peer.writes_fail = c.writes_fail;
    const RtspSessionContext context = view.Context();
    RtspFramer framer;
    StreamToClient(context, view.main_channel, peer.Io(), framer, "12345678", {3, "rtsp://h/screenlive/trackID=0"});

    EXPECT_EQ(view.viewer_count.load(), 0);
    EXPECT_TRUE(view.keyframe_request.load()) << "the first viewer asks for a key frame";
    EXPECT_TRUE(view.main_channel.queue.empty()) << "the last viewer out leaves nothing stale queued";
    EXPECT_EQ(peer.next, c.reads.size()) << "every waiting input is read";
    // The PLAY answer names the first packet: sequence 0 and, when a frame
    // was at hand, its time stamp.
    const std::string play_answer =
        c.writes_fail ? ""
                      : std::string("RTSP/1.0 200 OK\r\nCSeq: 3\r\nSession: 12345678\r\nRange: npt=0.000-\r\n"
                                    "RTP-Info: url=rtsp://h/screenlive/trackID=0;seq=0") +
                            (c.frames ? ";rtptime=1000" : "") + "\r\n\r\n";
    ASSERT_EQ(peer.sent.substr(0, play_answer.size()), play_answer);
    std::string rtp = peer.sent.substr(play_answer.size());
    if (c.teardown_answered) {
      ASSERT_GE(rtp.size(), kTeardownAnswer.size());
      EXPECT_EQ(rtp.substr(rtp.size() - kTeardownAnswer.size()), kTeardownAnswer);
      rtp.resize(rtp.size() - kTeardownAnswer.size());
    }
    bool ok = false;
    auto packets = rtsp_test::ParseInterleaved(rtp, &ok);
    ASSERT_TRUE(ok) << "only whole RTP packets besides the TEARDOWN answer";
    // A sender report on channel 1 before the first frame.
    if (c.packets) {
      ASSERT_FALSE(packets.empty());
      EXPECT_EQ(packets[0].channel, 1);
      packets.erase(packets.begin());
    }
    ASSERT_EQ(packets.size(), c.packets);
    for (size_t i = 0; i < packets.size(); ++i) {
      SCOPED_TRACE(i);
      EXPECT_EQ(packets[i].sequence, i);
      EXPECT_EQ(packets[i].timestamp, 1000u + 3000u * (i / 3));
      EXPECT_EQ(packets[i].marker, i % 3 == 2);
    }
  }
}

// What a recorder maps the stream's time by: the report before the first
// frame ties its time stamp to the wall clock of its sending; the next comes
// once five seconds of stream time have gone, counting what went before it.
TEST(StreamToClient, SenderReportsMapTheStreamToTheWallClock) {
  SessionView view(false, true);
  const uint32_t step = 3 * 90000;  // three seconds apart
  for (int i = 0; i < 3; ++i) PushFrame(view.main_channel, AccessUnit(i == 0, 100), i == 0, 1000 + step * i, 34);
  const int64_t t0 = 1'767'225'600'000'000'000;  // 2026-01-01T00:00:00Z
  // Later frames leave a little after their time: the earliest tie stands.
  std::vector<int64_t> sent_at = {t0, t0 + 3'010'000'000, t0 + 6'005'000'000};
  size_t calls = 0;
  RtspSessionContext context = view.Context();
  context.wall_clock_ns = [&] { return sent_at.at(std::min(calls++, sent_at.size() - 1)); };
  ScriptedPeer peer;
  RtspFramer framer;
  StreamToClient(context, view.main_channel, peer.Io(), framer, "1", {1, "u"});

  bool ok = false;
  auto packets = rtsp_test::ParseInterleaved(peer.sent.substr(peer.sent.find("\r\n\r\n") + 4), &ok);
  ASSERT_TRUE(ok);
  std::vector<size_t> report_at;
  for (size_t i = 0; i < packets.size(); ++i) {
    if (packets[i].channel == 1) report_at.push_back(i);
  }
  ASSERT_EQ(report_at, (std::vector<size_t>{0, 7}));
  // Rebuilt independently: SR (NTP, RTP time, packets, octets) then SDES.
  auto expected = [](uint64_t ntp, uint32_t rtp, uint32_t packets_sent, uint32_t octets) {
    return BuildSenderReport(kRtpSsrc, ntp, rtp, packets_sent, octets, "lumicast");
  };
  // ParseInterleaved read the report's first 12 bytes as an RTP header: put
  // them back together.
  auto wire = [&](size_t index) {
    const ParsedPacket& p = packets[index];
    std::string bytes(12, '\0');
    bytes[0] = static_cast<char>(0x80);
    bytes[1] = static_cast<char>((p.marker ? 0x80 : 0) | p.payload_type);
    bytes[2] = static_cast<char>(p.sequence >> 8);
    bytes[3] = static_cast<char>(p.sequence);
    for (int k = 0; k < 4; ++k) bytes[4 + k] = static_cast<char>(p.timestamp >> (24 - 8 * k));
    for (int k = 0; k < 4; ++k) bytes[8 + k] = static_cast<char>(p.ssrc >> (24 - 8 * k));
    return bytes + p.payload;
  };
  EXPECT_EQ(wire(0), expected(NtpFromUnixNs(t0), 1000, 0, 0));
  // Two frames of SPS, PPS and a 100-byte slice went before the second.
  EXPECT_EQ(wire(7), expected(NtpFromUnixNs(t0 + 6'000'000'000), 1000 + 2 * step, 6, 2 * 108));
  const uint64_t ntp = NtpFromUnixNs(t0);
  EXPECT_EQ(ntp >> 32, 1'767'225'600ULL + 2'208'988'800ULL);
  EXPECT_EQ(static_cast<uint32_t>(ntp), 0u);
}

TEST(ServeRtspConnection, RequestsThenStreamOnOneConnection) {
  SessionView view(true, true);
  PushFrame(view.sub_channel, AccessUnit(true, 3000), true, 90000, 34);
  const std::string url = "rtsp://127.0.0.1/screensub";
  ScriptedPeer peer;
  peer.reads = {Req("OPTIONS", url, 1), Req("DESCRIBE", url, 2, kBasicAdminSecret),
                Req("SETUP", url, 3, "Transport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n"), Req("PLAY", url, 4),
                kReceiverReport + Req("TEARDOWN", url, 5)};
  const RtspSessionContext context = view.Context();
  ServeRtspConnection(context, "0123456789abcdef0123456789abcdef", "5e55104d0a1b2c3d", peer.Io());

  // The socket turns into the stream's once PLAY arrived; its answer comes
  // first, naming the SETUP's URL (the track's control URL, which clients
  // match) and the first frame.
  const std::string play_answer =
      "RTSP/1.0 200 OK\r\nCSeq: 4\r\nSession: 5e55104d0a1b2c3d\r\nRange: npt=0.000-\r\n"
      "RTP-Info: url=rtsp://127.0.0.1/screensub;seq=0;rtptime=90000\r\n\r\n";
  const std::string teardown = "RTSP/1.0 200 OK\r\nCSeq: 5\r\nSession: 5e55104d0a1b2c3d\r\n\r\n";
  ASSERT_EQ(peer.streaming_started_at.size(), 1u);
  const size_t streaming_at = peer.streaming_started_at[0];
  EXPECT_NE(peer.sent.substr(0, streaming_at).find("Session: 5e55104d0a1b2c3d\r\n\r\n"), std::string::npos)
      << "SETUP names the connection's session";
  EXPECT_NE(peer.sent.substr(0, streaming_at).find("profile-level-id=42C01E;"), std::string::npos);
  ASSERT_EQ(peer.sent.substr(streaming_at, play_answer.size()), play_answer);
  const size_t answers_end = streaming_at + play_answer.size();

  ASSERT_GE(peer.sent.size(), answers_end + teardown.size());
  EXPECT_EQ(peer.sent.substr(peer.sent.size() - teardown.size()), teardown);
  bool ok = false;
  auto packets = rtsp_test::ParseInterleaved(
      std::string_view(peer.sent).substr(answers_end, peer.sent.size() - answers_end - teardown.size()), &ok);
  ASSERT_TRUE(ok);
  ASSERT_EQ(packets.size(), 1u + 2u + 3u);  // report, SPS, PPS, three FU-A fragments of the slice
  EXPECT_EQ(packets[0].channel, 1);
  EXPECT_EQ(packets[1].timestamp, 90000u);
  EXPECT_EQ(view.viewer_count.load(), 0);
}

TEST(ServeRtspConnection, OneAnswerPerRequestHoweverTheyAreRead) {
  const std::string url = "rtsp://h/screenlive";
  const std::string options = Req("OPTIONS", url, 1), plain = Req("GET_PARAMETER", url, 2);
  struct Case {
    const char* name;
    std::vector<std::string> reads;
    std::string sent;
  } cases[] = {
      {"one request over three reads", {options.substr(0, 10), options.substr(10, 20), options.substr(30)},
       BuildOptionsResponse(1)},
      {"two requests in one read", {options + plain}, BuildOptionsResponse(1) + BuildPlainOkResponse(2)},
      {"second request split after the first", {options + plain.substr(0, 5), plain.substr(5)},
       BuildOptionsResponse(1) + BuildPlainOkResponse(2)},
      {"request beyond the limit closes the connection",
       {options, Req("DESCRIBE", url, 3, "X-Pad: " + std::string(kMaxRtspRequestBytes, 'x') + "\r\n"), plain},
       BuildOptionsResponse(1)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SessionView view(false, true);
    ScriptedPeer peer;
    peer.reads = c.reads;
    const RtspSessionContext context = view.Context();
    ServeRtspConnection(context, kSecret, "12345678", peer.Io());
    EXPECT_EQ(peer.sent, c.sent);
  }
  EXPECT_NE(ReadLog().find("RTSP: request over 8191 bytes, closing the connection\n"), std::string::npos);
}

TEST(ServeRtspConnection, EndsBeforeStreaming) {
  const std::string url = "rtsp://h/screenlive";
  struct Case {
    const char* name;
    std::string nonce;
    std::vector<std::string> reads;
    size_t reads_taken;
    std::string sent;
  } cases[] = {
      {"no random nonce: nothing read or answered", "", {Req("OPTIONS", url, 1)}, 0, ""},
      {"TEARDOWN before PLAY answered, nothing read after it", "00",
       {Req("TEARDOWN", url, 9), Req("PLAY", url, 10)}, 1, "RTSP/1.0 200 OK\r\nCSeq: 9\r\nSession: 12345678\r\n\r\n"},
      {"peer closes between requests", "00", {Req("GET_PARAMETER", url, 7)}, 1, "RTSP/1.0 200 OK\r\nCSeq: 7\r\n\r\n"},
      {"reset before the first request", "00", {""}, 1, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SessionView view(false, true);
    ScriptedPeer peer;
    peer.reads = c.reads;
    const RtspSessionContext context = view.Context();
    ServeRtspConnection(context, c.nonce, "12345678", peer.Io());
    EXPECT_EQ(peer.next, c.reads_taken);
    EXPECT_EQ(peer.sent, c.sent);
    EXPECT_TRUE(peer.streaming_started_at.empty());
    EXPECT_EQ(view.viewer_count.load(), 0);
  }
  EXPECT_NE(ReadLog().find("RTSP: no random nonce for the connection, closing it\n"), std::string::npos);
}


// ---- RTP over UDP ----

TEST(HandleRtspRequest, UdpSetupGetsAPortPairAndATimedSession) {
  SessionView view(false, true);
  const RtspSessionContext context = view.Context();
  const std::string url = "rtsp://127.0.0.1:8554/screenlive/trackID=0";
  struct Case {
    const char* name;
    std::string transport;
    bool pair_available;
    std::string answer;
    int opened_rtp;  // client port the media was opened for, 0: none
  } cases[] = {
      {"ffmpeg", "RTP/AVP/UDP;unicast;client_port=20000-20001", true,
       "RTSP/1.0 200 OK\r\nCSeq: 3\r\nTransport: RTP/AVP;unicast;client_port=20000-20001;server_port=6970-6971\r\n"
       "Session: 12345678;timeout=60\r\n\r\n",
       20000},
      // The media is opened for the ports only: where it goes is the peer's
      // own address, whatever the client names.
      {"destination of another host left out", "RTP/AVP;unicast;destination=198.51.100.7;client_port=5000-5001", true,
       "RTSP/1.0 200 OK\r\nCSeq: 3\r\nTransport: RTP/AVP;unicast;client_port=5000-5001;server_port=6970-6971\r\n"
       "Session: 12345678;timeout=60\r\n\r\n",
       5000},
      {"TCP offered beside UDP stays first", "RTP/AVP;unicast;client_port=5000-5001,RTP/AVP/TCP;unicast;interleaved=0-1",
       true, "RTSP/1.0 200 OK\r\nCSeq: 3\r\nTransport: RTP/AVP/TCP;unicast;interleaved=0-1\r\nSession: 12345678\r\n\r\n",
       0},
      {"no port pair free", "RTP/AVP;unicast;client_port=5000-5001", false,
       "RTSP/1.0 461 Unsupported Transport\r\nCSeq: 3\r\n\r\n", 5000},
      {"multicast", "RTP/AVP;multicast", true, "RTSP/1.0 461 Unsupported Transport\r\nCSeq: 3\r\n\r\n", 0},
      {"no client ports", "RTP/AVP;unicast", true, "RTSP/1.0 461 Unsupported Transport\r\nCSeq: 3\r\n\r\n", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RtspConnection conn;
    conn.context = &context;
    conn.session_id = "12345678";
    int opened_rtp = 0;
    conn.open_udp = [&](const UdpClientPorts& client) -> std::optional<UdpMedia> {
      opened_rtp = client.rtp;
      if (!c.pair_available) return std::nullopt;
      UdpMedia media;
      media.server_port = 6970;
      media.client = client;
      return media;
    };
    std::string sent;
    EXPECT_EQ(HandleRtspRequest(conn, Req("SETUP", url, 3, "Transport: " + c.transport + "\r\n"),
                                [&](std::string_view b) {
                                  sent.append(b);
                                  return true;
                                }),
              RequestOutcome::kContinue);
    EXPECT_EQ(sent, c.answer);
    EXPECT_EQ(opened_rtp, c.opened_rtp);
    EXPECT_EQ(conn.udp.has_value(), c.answer.find("server_port") != std::string::npos);
  }
}

// A UDP viewer as the session sees it: each pass of the streaming loop reads
// the next of `reads` on the RTSP connection and of `control` on the RTCP
// port ("" = nothing that pass); the clock moves `step_s` per look.
struct UdpPeer {
  std::vector<std::string> reads, control;
  size_t next_read = 0, next_control = 0;
  bool closes_after_reads = false;
  int64_t now = 1000, step_s = 0;
  std::string rtsp_sent, udp_sent;

  ConnectionIo Io() {
    ConnectionIo io;
    io.send = [this](std::string_view b) {
      rtsp_sent.append(b);
      return true;
    };
    io.receive = [this](char* buffer, size_t capacity) -> long {
      const std::string& r = reads[next_read++];
      const size_t n = std::min(capacity, r.size());
      std::memcpy(buffer, r.data(), n);
      return static_cast<long>(n);
    };
    io.has_input = [this] { return next_read < reads.size(); };
    io.peer_closed = [this] { return closes_after_reads && next_read == reads.size(); };
    io.start_streaming = [] {};
    return io;
  }
  UdpMedia Media() {
    UdpMedia media;
    media.server_port = 6970;
    media.send = [this](std::string_view b) {
      udp_sent.append(b);
      return true;
    };
    media.receive_control = [this](char* buffer, size_t capacity) -> long {
      if (next_control >= control.size()) return 0;
      const std::string& r = control[next_control];
      // One datagram per pass, so that each pass looks at the clock.
      if (r.empty()) {
        ++next_control;
        return 0;
      }
      ++next_control;
      const size_t n = std::min(capacity, r.size());
      std::memcpy(buffer, r.data(), n);
      // The next read of this pass finds nothing.
      control.insert(control.begin() + static_cast<long>(next_control), "");
      return static_cast<long>(n);
    };
    media.drain_media = [] {};
    return media;
  }
  SecondsClock Clock() {
    return [this] { return now += step_s; };
  }
};

TEST(StreamToClient, UdpViewerEndsAtTeardownByeSilenceOrClose) {
  const std::string rr("\x80\xC9\x00\x01\x0B\xAD\xCA\xFE", 8);
  const std::string bye = rr + std::string("\x81\xCB\x00\x01\x0B\xAD\xCA\xFE", 8);
  const std::string keep_alive_answer = "RTSP/1.0 200 OK\r\nCSeq: 4\r\nSession: 12345678\r\n\r\n";
  struct Case {
    const char* name;
    std::vector<std::string> reads, control;
    bool closes;
    int64_t step_s;
    const char* log;            // the line that tells why it ended ("" none)
    std::string rtsp_tail;      // what the RTSP connection got last
    size_t frames_sent = 2;
  } cases[] = {
      {"keep-alive answered, then TEARDOWN", {Req("GET_PARAMETER", "rtsp://h/", 4), Req("TEARDOWN", "rtsp://h/", 5)},
       {}, false, 0, "", kTeardownAnswer},
      {"receiver reports keep it past the time-out until BYE", {}, {rr, rr, rr, rr, bye}, false, 20,
       "RTSP: UDP viewer sent RTCP BYE, ending its session\n", ""},
      {"keep-alives then silence times out", {Req("OPTIONS", "rtsp://h/", 4)}, {}, false, 25,
       "RTSP: UDP viewer silent for 60 s, ending its session\n", "RTSP/1.0 200 OK\r\nCSeq: 4\r\nPublic:"},
      {"the RTSP connection closes", {Req("GET_PARAMETER", "rtsp://h/", 4)}, {}, true, 0, "", keep_alive_answer, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SessionView view(false, true);
    for (int i = 0; i < 2; ++i) PushFrame(view.main_channel, AccessUnit(i == 0, 100), i == 0, 1000 + 3000 * i, 34);
    UdpPeer peer;
    peer.reads = c.reads;
    peer.control = c.control;
    peer.closes_after_reads = c.closes;
    peer.step_s = c.step_s;
    const UdpMedia media = peer.Media();
    const RtspSessionContext context = view.Context();
    RtspFramer framer;
    const size_t log_before = ReadLog().size();
    StreamToClient(context, view.main_channel, peer.Io(), framer, "12345678", {3, "rtsp://h/screenlive/trackID=0"},
                   &media, peer.Clock());
    const std::string log = ReadLog().substr(log_before);
    EXPECT_EQ(view.viewer_count.load(), 0);
    EXPECT_EQ(peer.next_read, c.reads.size());
    if (*c.log) {
      EXPECT_NE(log.find(c.log), std::string::npos) << log;
    }
    // The RTSP connection carries the answers only; RTP and RTCP go by UDP.
    EXPECT_EQ(peer.rtsp_sent.rfind("RTSP/1.0 200 OK\r\nCSeq: 3\r\nSession: 12345678\r\n", 0), 0u);
    EXPECT_EQ(peer.rtsp_sent.find('$'), std::string::npos);
    if (!c.rtsp_tail.empty()) {
      EXPECT_NE(peer.rtsp_sent.find(c.rtsp_tail), std::string::npos) << peer.rtsp_sent;
    }
    bool ok = false;
    auto packets = rtsp_test::ParseInterleaved(peer.udp_sent, &ok);
    ASSERT_TRUE(ok);
    ASSERT_EQ(packets.size(), 1 + 3 * c.frames_sent) << "a sender report, then the frames";
    EXPECT_EQ(packets[0].channel, 1);
    EXPECT_EQ(packets.back().channel, 0);
    EXPECT_TRUE(packets.back().marker);
  }
}


TEST(HandleRtspRequest, MulticastSetupNamesTheStreamsGroupAndDescribeItsSdp) {
  SessionView view(false, true);
  view.settings.multicast_group = "239.255.7.7";
  view.settings.multicast_port = 6100;
  view.settings.multicast_ttl = 2;
  RtspSessionContext context = view.Context();
  context.join_multicast = [](bool) { return true; };
  context.leave_multicast = [](bool) {};
  auto run = [&](RtspConnection& conn, const std::string& request) {
    std::string sent;
    HandleRtspRequest(conn, request, [&](std::string_view b) {
      sent.append(b);
      return true;
    });
    return sent;
  };
  RtspConnection conn;
  conn.context = &context;
  conn.session_id = "12345678";
  const std::string mc = "Transport: RTP/AVP;multicast\r\n";
  EXPECT_EQ(run(conn, Req("SETUP", "rtsp://h/screenlive/trackID=0", 3, mc)),
            "RTSP/1.0 200 OK\r\nCSeq: 3\r\nTransport: RTP/AVP;multicast;destination=239.255.7.7;port=6100-6101;ttl=2"
            "\r\nSession: 12345678;timeout=60\r\n\r\n");
  EXPECT_TRUE(conn.multicast);
  const std::string sdp = run(conn, Req("DESCRIBE", "rtsp://h/screensub/multicast", 4));
  EXPECT_NE(sdp.find("\r\nc=IN IP4 239.255.7.7/2\r\nt=0 0\r\nm=video 6102 RTP/AVP 96\r\n"), std::string::npos) << sdp;
  EXPECT_NE(run(conn, Req("SETUP", "rtsp://h/screensub/trackID=0", 5, mc)).find("port=6102-6103"), std::string::npos);
  // The plain URL keeps its unicast description; TCP after multicast is TCP.
  EXPECT_NE(run(conn, Req("DESCRIBE", "rtsp://h/screenlive", 6)).find("c=IN IP4 0.0.0.0\r\n"), std::string::npos);
  EXPECT_NE(run(conn, Req("SETUP", "rtsp://h/", 7, "Transport: RTP/AVP/TCP;interleaved=0-1\r\n")).find("interleaved"),
            std::string::npos);
  EXPECT_FALSE(conn.multicast);
  // A group that is no multicast address is refused, as is multicast where
  // the server offers none.
  view.settings.multicast_group = "10.0.0.1";
  EXPECT_EQ(run(conn, Req("SETUP", "rtsp://h/", 8, mc)), "RTSP/1.0 461 Unsupported Transport\r\nCSeq: 8\r\n\r\n");
  view.settings.multicast_group = "239.255.7.7";
  context.join_multicast = nullptr;
  EXPECT_EQ(run(conn, Req("SETUP", "rtsp://h/", 9, mc)), "RTSP/1.0 461 Unsupported Transport\r\nCSeq: 9\r\n\r\n");
}

TEST(WatchMulticast, JoinsTheSenderAnswersKeepAlivesAndLeavesAtTheEnd) {
  SessionView view(false, true);
  RtspSessionContext context = view.Context();
  std::vector<std::string> events;
  bool joins = true;
  context.join_multicast = [&](bool sub) {
    events.push_back(std::string("join ") + (sub ? "sub" : "main"));
    return joins;
  };
  context.leave_multicast = [&](bool sub) { events.push_back(std::string("leave ") + (sub ? "sub" : "main")); };
  struct Case {
    const char* name;
    std::vector<std::string> reads;
    bool closes;
    int64_t step_s;
    std::vector<std::string> events;
    std::string tail;
  } cases[] = {
      {"keep-alive, then TEARDOWN", {Req("GET_PARAMETER", "rtsp://h/", 4), Req("TEARDOWN", "rtsp://h/", 5)}, false, 0,
       {"join sub", "leave sub"}, kTeardownAnswer},
      {"silence", {}, false, 30, {"join sub", "leave sub"}, "Range: npt=0.000-\r\n\r\n"},
      {"connection closed", {}, true, 0, {"join sub", "leave sub"}, "Range: npt=0.000-\r\n\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    events.clear();
    UdpPeer peer;
    peer.reads = c.reads;
    peer.closes_after_reads = c.closes;
    peer.step_s = c.step_s;
    RtspFramer framer;
    WatchMulticast(context, true, peer.Io(), framer, "12345678", {3, "rtsp://h/screensub/trackID=0"}, peer.Clock());
    EXPECT_EQ(events, c.events);
    EXPECT_EQ(peer.rtsp_sent.rfind("RTSP/1.0 200 OK\r\nCSeq: 3\r\nSession: 12345678\r\nRange: npt=0.000-\r\n\r\n", 0),
              0u);
    ASSERT_GE(peer.rtsp_sent.size(), c.tail.size());
    EXPECT_EQ(peer.rtsp_sent.substr(peer.rtsp_sent.size() - c.tail.size()), c.tail);
  }
  // A sender that cannot run refuses the PLAY and is not left.
  events.clear();
  joins = false;
  UdpPeer peer;
  RtspFramer framer;
  WatchMulticast(context, false, peer.Io(), framer, "12345678", {3, "rtsp://h/"}, peer.Clock());
  EXPECT_EQ(events, std::vector<std::string>{"join main"});
  EXPECT_EQ(peer.rtsp_sent, "RTSP/1.0 461 Unsupported Transport\r\nCSeq: 3\r\n\r\n");
}

}  // namespace
}  // namespace lcx
