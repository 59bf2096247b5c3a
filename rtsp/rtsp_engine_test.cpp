// A playing client against the real server (accept loop, screen grabber,
// OpenH264 and the producer thread) on a private Xvfb: the paused picture and
// the way back to the live screen, as the client sees them on the wire.
#include <arpa/inet.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/net.h"
#include "rtsp/rtsp_server.h"
#include "rtsp/test_session.h"

namespace lcx {
namespace {

// Xvfb on a display number it picks itself; DISPLAY points at it while the
// object lives.
class PrivateDisplay {
 public:
  bool Start() {
    int fds[2];
    if (::pipe(fds) != 0) return false;
    // Other tests leave threads behind: the child only makes async-signal-safe
    // calls before exec.
    const std::string fd = std::to_string(fds[1]);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(fds[0]);
      int devnull = ::open("/dev/null", O_WRONLY);
      ::dup2(devnull, 2);
      ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "640x480x24", "-nolisten", "tcp",
               static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(fds[1]);
    std::string number;
    pollfd p{fds[0], POLLIN, 0};
    while (::poll(&p, 1, 10000) == 1) {
      char c;
      if (::read(fds[0], &c, 1) != 1 || c == '\n') break;
      number += c;
    }
    ::close(fds[0]);
    if (number.empty()) return false;
    const char* old = std::getenv("DISPLAY");
    if (old) old_display_ = old;
    had_display_ = old != nullptr;
    ::setenv("DISPLAY", (":" + number).c_str(), 1);
    return true;
  }
  ~PrivateDisplay() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
    if (had_display_) ::setenv("DISPLAY", old_display_.c_str(), 1);
    else ::unsetenv("DISPLAY");
  }

 private:
  pid_t pid_ = -1;
  bool had_display_ = false;
  std::string old_display_;
};

bool HaveOpenH264() {
  for (const char* name : {"libopenh264.so.7", "libopenh264.so"}) {
    if (void* h = ::dlopen(name, RTLD_NOW)) {
      ::dlclose(h);
      return true;
    }
  }
  return false;
}

struct Frame {
  uint32_t timestamp;
  bool key;
};

// Reads packets until the next marker and returns that frame.
bool ReadFrame(int fd, Frame* frame) {
  bool key = false;
  for (int packets = 0; packets < 100000; ++packets) {
    uint8_t head[16];
    size_t got = 0;
    while (got < sizeof head) {
      ssize_t n = ::recv(fd, head + got, sizeof head - got, 0);
      if (n <= 0) return false;
      got += static_cast<size_t>(n);
    }
    if (head[0] != '$') return false;
    size_t payload = ((head[2] << 8) | head[3]) - 12;
    std::vector<uint8_t> body(payload);
    got = 0;
    while (got < payload) {
      ssize_t n = ::recv(fd, body.data() + got, payload - got, 0);
      if (n <= 0) return false;
      got += static_cast<size_t>(n);
    }
    if (head[1] != 0) continue;  // an RTCP sender report on channel 1
    const int type = body[0] & 0x1F;
    if (type == 5 || (type == 28 && (body[1] & 0x1F) == 5)) key = true;
    if (head[5] & 0x80) {
      frame->timestamp = (uint32_t(head[8]) << 24) | (head[9] << 16) | (head[10] << 8) | head[11];
      frame->key = key;
      return true;
    }
  }
  return false;
}

TEST(RtspEngine, PauseAndResumeAsAWatchingClientSeesThem) {
  PrivateDisplay display;
  if (!display.Start()) GTEST_SKIP() << "no Xvfb";
  if (!HaveOpenH264()) GTEST_SKIP() << "no OpenH264";

  RtspServer server;
  RtspSettings settings;
  settings.sub_name = "";
  ASSERT_TRUE(InitRtspServer(server, settings, VideoSettings{}));
  StreamPaused.store(true);
  std::thread producer([&] { RunProducer(server.video); });

  int error = 0;
  UniqueFd listener = ListenTcp(0, 1, &error);
  UniqueFd client(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(LocalPort(listener.get())));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::connect(client.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  SetReceiveTimeoutMs(client.get(), 5000);
  std::thread loop([&] { AcceptRtspConnections(server, listener.get()); });
  ASSERT_TRUE(SendAll(client.get(), "PLAY rtsp://127.0.0.1/screenlive RTSP/1.0\r\nCSeq: 1\r\n\r\n"));
  std::string answer;
  char c = 0;
  while (answer.find("\r\n\r\n") == std::string::npos && ::recv(client.get(), &c, 1, 0) == 1) answer += c;
  ASSERT_EQ(answer.substr(0, 35), "RTSP/1.0 200 OK\r\nCSeq: 1\r\nSession: ") << answer;
  ASSERT_NE(answer.find("\r\nRange: npt=0.000-\r\nRTP-Info: url=rtsp://127.0.0.1/screenlive;seq=0;rtptime="),
            std::string::npos)
      << answer;

  std::vector<Frame> paused(4);
  for (Frame& f : paused) ASSERT_TRUE(ReadFrame(client.get(), &f));
  EXPECT_TRUE(paused[0].key) << "the paused picture starts with a key frame";
  for (size_t i = 1; i < paused.size(); ++i) EXPECT_EQ(paused[i].timestamp - paused[i - 1].timestamp, 45000u);

  // Resume: frames keep the half-second step until the first live one; the
  // first live frame is a key frame and live frames follow at 90000/fps.
  StreamPaused.store(false);
  std::vector<Frame> after;
  Frame f{};
  for (int i = 0; i < 12 && ReadFrame(client.get(), &f); ++i) after.push_back(f);
  ASSERT_EQ(after.size(), 12u);
  size_t first_live = after.size();
  uint32_t previous = paused.back().timestamp;
  for (size_t i = 0; i + 1 < after.size(); ++i) {
    if (after[i + 1].timestamp - after[i].timestamp != 45000) {
      first_live = i;
      break;
    }
    previous = after[i].timestamp;
  }
  ASSERT_LT(first_live, after.size()) << "no live frame within six seconds of resuming";
  EXPECT_EQ(after[first_live].timestamp - previous, 45000u);
  EXPECT_TRUE(after[first_live].key) << "live frames after a pause start with a key frame";
  EXPECT_EQ((after[first_live + 1].timestamp - after[first_live].timestamp) % 9000, 0u);

  // Pausing while the client watches: the paused picture comes as a key
  // frame, then at the half-second step.
  StreamPaused.store(true);
  std::vector<Frame> again;
  for (int i = 0; i < 40 && ReadFrame(client.get(), &f); ++i) {
    again.push_back(f);
    if (again.size() >= 3 && again[again.size() - 1].timestamp - again[again.size() - 2].timestamp == 45000 &&
        again[again.size() - 2].timestamp - again[again.size() - 3].timestamp == 45000)
      break;
  }
  ASSERT_GE(again.size(), 3u);
  ASSERT_EQ(again.back().timestamp - again[again.size() - 2].timestamp, 45000u) << "no paused frames";
  // The loop stopped at the first two half-second steps: the frame before
  // them is the first paused one (the step into it is still a live one).
  const size_t first_paused = again.size() - 3;
  EXPECT_TRUE(again[first_paused].key) << "the paused picture after live frames starts with a key frame";

  client.reset();
  // The session notices the closed socket at its next frame; the server
  // must outlive it.
  EXPECT_TRUE(server.sessions.WaitIdleFor(10000));
  ShutdownRead(listener.get());
  loop.join();
  {
    std::lock_guard lock(server.video.viewer_mutex);
    server.video.stop.store(true);
  }
  server.video.wake_up.notify_all();
  producer.join();
  StreamPaused.store(false);
}

}  // namespace
}  // namespace lcx
