// The request loop driven with texts (exact answers, no socket), and whole
// connections over loopback TCP with frames pushed into the channel the way
// the producer pushes them.
#include "rtsp/rtsp_session.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <chrono>
#include <thread>
#include <vector>

#include "core/log.h"
#include "platform/net.h"
#include "rtsp/rtsp_server.h"
#include "rtsp/test_interleaved.h"

namespace lcx {
namespace {

using namespace std::chrono_literals;

constexpr const char* kBasicAdminSecret = "Authorization: Basic YWRtaW46c2VjcmV0\r\n";  // admin:secret

void PrepareServer(RtspServer& server, bool auth, bool sub_on) {
  server.settings.user = "admin";
  server.settings.password = "secret";
  server.settings.auth_required = auth;
  server.settings.sub_name = "screensub";
  server.video.sub_on = sub_on;
  server.video.main_channel.profile_level_id = "4D0029";
  server.video.sub_channel.profile_level_id = "42C01E";
}

std::string Req(const std::string& method, const std::string& url, int cseq, const std::string& extra = "") {
  return method + " " + url + " RTSP/1.0\r\nCSeq: " + std::to_string(cseq) + "\r\n" + extra + "\r\n";
}

struct Step {
  std::string request;
  RequestOutcome outcome;
  std::string expected_start;  // the answer begins with this
  std::string expected_part;   // and contains this ("" = nothing more)
};

void RunSteps(RtspServer& server, const std::vector<Step>& steps) {
  RtspConnection conn;
  conn.server = &server;
  conn.nonce = "0123456789abcdef0123456789abcdef";
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
      "nonce=\"0123456789abcdef0123456789abcdef\"\r\nWWW-Authenticate: Basic realm=\"Lumicast\"\r\n\r\n";
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
        {Req("PLAY", url, 4, "Session: 12345678\r\n"), RequestOutcome::kPlay,
         "RTSP/1.0 200 OK\r\nCSeq: 4\r\nSession: 12345678\r\nRange: npt=0.000-\r\n\r\n", ""}}},
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
        {Req("PLAY", url, 6), RequestOutcome::kPlay, "RTSP/1.0 200 OK\r\nCSeq: 6\r\nSession:", ""}}},
      {"sub-stream chosen by name and kept", false, true,
       {{Req("DESCRIBE", sub, 2), RequestOutcome::kContinue, "RTSP/1.0 200 OK", "profile-level-id=42C01E;"},
        {Req("DESCRIBE", url, 3), RequestOutcome::kContinue, "RTSP/1.0 200 OK", "profile-level-id=42C01E;"}}},
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
    RtspServer server;
    PrepareServer(server, c.auth, c.sub_on);
    RunSteps(server, c.steps);
  }
}

TEST(HandleRtspRequest, EmptyPasswordLocksEverythingButOptions) {
  RtspServer server;
  PrepareServer(server, true, true);
  server.settings.password = "";
  RunSteps(server, {{Req("OPTIONS", "rtsp://h/", 1), RequestOutcome::kContinue, "RTSP/1.0 200 OK", ""},
                    {Req("DESCRIBE", "rtsp://h/", 2, "Authorization: Basic YWRtaW46\r\n"),
                     RequestOutcome::kContinue, "RTSP/1.0 401", ""},
                    {Req("PLAY", "rtsp://h/", 3), RequestOutcome::kContinue, "RTSP/1.0 401", ""}});
}

TEST(HandleRtspRequest, FailedWriteClosesTheConnection) {
  RtspServer server;
  PrepareServer(server, true, true);
  RtspConnection conn;
  conn.server = &server;
  conn.nonce = "00";
  auto fail = [](std::string_view) { return false; };
  EXPECT_EQ(HandleRtspRequest(conn, Req("DESCRIBE", "rtsp://h/", 1), fail), RequestOutcome::kClose);
  EXPECT_EQ(HandleRtspRequest(conn, Req("OPTIONS", "rtsp://h/", 2), fail), RequestOutcome::kClose);
}

// ---- whole connections over loopback ----

class Client {
 public:
  explicit Client(int port) : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connected_ = ::connect(fd_.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    SetReceiveTimeoutMs(fd_.get(), 5000);
  }
  bool connected() const { return connected_; }
  int fd() const { return fd_.get(); }
  bool Send(std::string_view text) { return SendAll(fd_.get(), text); }
  // Reads until `count` bytes are here; fewer on close or time-out.
  std::string Read(size_t count) {
    std::string out;
    char buf[65536];
    while (out.size() < count) {
      ssize_t n = ::recv(fd_.get(), buf, std::min(sizeof buf, count - out.size()), 0);
      if (n <= 0) break;
      out.append(buf, static_cast<size_t>(n));
    }
    return out;
  }
  // One response head (and its SDP body when DESCRIBE answered).
  std::string ReadResponse() {
    std::string out;
    while (out.find("\r\n\r\n") == std::string::npos) {
      std::string b = Read(1);
      if (b.empty()) return out;
      out += b;
    }
    size_t at = out.find("Content-Length: ");
    if (at != std::string::npos) out += Read(std::stoul(out.substr(at + 16)));
    return out;
  }
  // Reads until the peer closes (or the time-out): true when it closed.
  bool ReadsEndOfStream(std::string* bytes = nullptr) {
    char buf[4096];
    for (int i = 0; i < 10000; ++i) {
      ssize_t n = ::recv(fd_.get(), buf, sizeof buf, 0);
      if (n == 0) return true;
      if (n < 0) return false;
      if (bytes) bytes->append(buf, static_cast<size_t>(n));
    }
    return false;
  }

 private:
  UniqueFd fd_;
  bool connected_ = false;
};

// A listener plus one session thread per accepted connection.
struct LoopbackServer {
  RtspServer server;
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
    sessions.emplace_back([this, fd = std::move(fd)]() mutable { RtspSession(server, std::move(fd)); });
  }
  ~LoopbackServer() {
    for (auto& t : sessions) t.join();
  }
};

bool WaitFor(const std::function<bool()>& condition) {
  for (int i = 0; i < 500; ++i) {
    if (condition()) return true;
    std::this_thread::sleep_for(10ms);
  }
  return false;
}

// An access unit of SPS, PPS and one slice of `slice_bytes`.
std::vector<uint8_t> AccessUnit(bool key, size_t slice_bytes) {
  std::vector<uint8_t> au = {0, 0, 0, 1, 0x67, 0x42, 0xC0, 0x1F, 0, 0, 0, 1, 0x68, 0xCE, 0x3C, 0x80, 0, 0, 1};
  au.push_back(key ? 0x65 : 0x41);
  for (size_t i = 1; i < slice_bytes; ++i) au.push_back(static_cast<uint8_t>(i | 1));
  return au;
}

void Play(Client& client, const std::string& path) {
  const std::string url = "rtsp://127.0.0.1/" + path;
  ASSERT_TRUE(client.Send(Req("DESCRIBE", url, 2)));
  ASSERT_NE(client.ReadResponse().find("m=video 0 RTP/AVP 96"), std::string::npos);
  ASSERT_TRUE(client.Send(Req("SETUP", url, 3, "Transport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n")));
  ASSERT_NE(client.ReadResponse().find("interleaved=0-1"), std::string::npos);
  ASSERT_TRUE(client.Send(Req("PLAY", url, 4)));
  ASSERT_EQ(client.ReadResponse(), "RTSP/1.0 200 OK\r\nCSeq: 4\r\nSession: 12345678\r\nRange: npt=0.000-\r\n\r\n");
}

TEST(RtspSession, StreamsFramesAsInterleavedRtpUntilTeardown) {
  LoopbackServer ls;
  PrepareServer(ls.server, false, true);
  VideoEngine& video = ls.server.video;
  Client a(ls.port);
  ASSERT_TRUE(a.connected());
  ls.AcceptOne();
  ASSERT_NO_FATAL_FAILURE(Play(a, "screenlive"));
  ASSERT_TRUE(WaitFor([&] { return video.ViewerCount.load() == 1; }));
  EXPECT_TRUE(video.KeyframeRequest.exchange(false));  // first viewer asks for a key frame

  // Frame 1: key, slice fragmented (3000 bytes -> 3 FU-A); frame 2: small.
  PushFrame(video.main_channel, AccessUnit(true, 3000), true, 90000, 34);
  PushFrame(video.main_channel, AccessUnit(false, 100), false, 99000, 34);
  const size_t expected_bytes = (16 + 4) + (16 + 4) + 3 * 16 + 2999 + 3 * 2 + (16 + 4) + (16 + 4) + (16 + 100);
  std::string wire = a.Read(expected_bytes);
  bool ok = false;
  auto packets = testing::ParseInterleaved(wire, &ok);
  ASSERT_TRUE(ok);
  ASSERT_EQ(packets.size(), 8u);
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
  ASSERT_NO_FATAL_FAILURE(Play(b, "screenlive"));
  std::string wire_b = b.Read(16 + 4);
  auto first_b = testing::ParseInterleaved(wire_b, &ok);
  ASSERT_EQ(first_b.size(), 1u);
  EXPECT_EQ(first_b[0].sequence, 0);
  EXPECT_EQ(first_b[0].timestamp, 90000u);
  ASSERT_TRUE(WaitFor([&] { return video.ViewerCount.load() == 2; }));
  EXPECT_FALSE(video.KeyframeRequest.load());

  // TEARDOWN behind an interleaved receiver report (which holds zero bytes)
  // ends the stream: its answer is the last thing on the connection.
  const std::string teardown_answer = "RTSP/1.0 200 OK\r\nCSeq: 5\r\nSession: 12345678\r\n\r\n";
  ASSERT_TRUE(a.Send(std::string("$\x01\x00\x04\x80\xC9\x00\x01", 8) + Req("TEARDOWN", "rtsp://h/", 5)));
  std::string rest_a;
  EXPECT_TRUE(a.ReadsEndOfStream(&rest_a));
  EXPECT_EQ(rest_a, teardown_answer);
  ASSERT_TRUE(b.Send(Req("TEARDOWN", "rtsp://h/", 5)));
  std::string rest_b;
  EXPECT_TRUE(b.ReadsEndOfStream(&rest_b));
  // b still had frames queued before its answer.
  ASSERT_GE(rest_b.size(), teardown_answer.size());
  EXPECT_EQ(rest_b.substr(rest_b.size() - teardown_answer.size()), teardown_answer);
  EXPECT_TRUE(WaitFor([&] { return video.ViewerCount.load() == 0; }));
}

TEST(RtspSession, PeerClosingEndsTheStreamAndIdleRequestersAreDropped) {
  LoopbackServer ls;
  PrepareServer(ls.server, false, true);
  ls.server.request_idle_timeout_ms = 300;
  {
    Client a(ls.port);
    ls.AcceptOne();
    ASSERT_NO_FATAL_FAILURE(Play(a, "screensub"));
    ASSERT_TRUE(WaitFor([&] { return ls.server.video.ViewerCount.load() == 1; }));
    PushFrame(ls.server.video.sub_channel, AccessUnit(true, 50), true, 0, 34);
    EXPECT_EQ(a.Read(16 + 4).size(), 20u);  // the sub channel's frame
  }
  // The client is gone and no frame is coming (a stalled producer): the
  // close is noticed anyway and the viewer leaves.
  EXPECT_TRUE(WaitFor([&] { return ls.server.video.ViewerCount.load() == 0; }));

  // Connected but silent: closed once the requesting time-out passes, well
  // before the client's own 5 s read time-out.
  Client silent(ls.port);
  ls.AcceptOne();
  auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(silent.ReadsEndOfStream());
  EXPECT_LT(std::chrono::steady_clock::now() - start, 4s);
}

TEST(AcceptRtspConnections, RefusesBeyondTheLimitAndRecovers) {
  // The accept loop never returns; its server outlives the test.
  static RtspServer* server = new RtspServer();
  PrepareServer(*server, false, true);
  server->max_connections = 2;
  int error = 0;
  UniqueFd listener = ListenTcp(0, 8, &error);
  const int port = LocalPort(listener.get());
  std::thread([fd = listener.release()] { AcceptRtspConnections(*server, fd); }).detach();

  auto answers = [](Client& c) {
    return c.Send(Req("OPTIONS", "rtsp://h/", 1)) && c.ReadResponse().find("200 OK") != std::string::npos;
  };
  auto a = std::make_unique<Client>(port);
  auto b = std::make_unique<Client>(port);
  ASSERT_TRUE(answers(*a));
  ASSERT_TRUE(answers(*b));
  {
    Client refused(port);
    EXPECT_TRUE(refused.ReadsEndOfStream());
  }
  EXPECT_NE(ReadLog().find("RTSP: connection limit of 2 reached"), std::string::npos);
  a.reset();
  ASSERT_TRUE(WaitFor([&] { return server->connections.load() == 1; }));
  {
    Client c(port);
    EXPECT_TRUE(answers(c));
    EXPECT_TRUE(answers(*b));
  }
  b.reset();
  // Every session has ended and given its place back.
  EXPECT_TRUE(WaitFor([&] { return server->connections.load() == 0; }));
}

}  // namespace
}  // namespace lcx
