#include "onvif/onvif_server.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <string>
#include <thread>
#include <vector>

#include "onvif/onvif_answers.h"
#include "platform/net.h"
#include "platform/system.h"
#include "video/screen_grabber.h"

namespace lcx {
namespace {

const char kDeviceInfo[] =
    "POST /onvif/device_service HTTP/1.1\r\nContent-Length: 27\r\n\r\n<tds:GetDeviceInformation/>";

// Sends `request` on one end of a socket pair, runs the connection handler on
// the other and returns everything it wrote before closing.
std::string Exchange(const OnvifService& service, const std::string& request) {
  int fds[2];
  EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
  UniqueFd peer(fds[1]);
  SendAll(peer.get(), request);
  OnvifAuthState auth;
  HandleOnvifConnection(service, auth, UniqueFd(fds[0]));
  std::string out;
  char buf[65536];
  ssize_t n;
  while ((n = ::recv(peer.get(), buf, sizeof buf, 0)) > 0) out.append(buf, static_cast<size_t>(n));
  return out;
}

TEST(HandleOnvifConnection, OneRequestOneAnswer) {
  OnvifService open;
  OnvifAuthState auth;
  auto no_picture = [](int, int, std::vector<uint8_t>&) { return false; };
  // The wire carries the builder's answer unchanged.
  EXPECT_EQ(Exchange(open, kDeviceInfo), AnswerOnvifRequest(open, auth, kDeviceInfo, "<tds:GetDeviceInformation/>", no_picture));

  // A second request on the same connection is never read: one answer only.
  std::string two = Exchange(open, "POST / HTTP/1.1\r\nContent-Length: 0\r\n\r\nPOST / HTTP/1.1\r\n\r\n");
  EXPECT_EQ(two.rfind("HTTP/1.1"), 0u);
}

TEST(HandleOnvifConnection, SnapshotOfTheScreen) {
  int screen_width = 0, screen_height = 0;
  if (!PrimaryScreenSize(&screen_width, &screen_height)) GTEST_SKIP() << "no X display";
  OnvifService s;
  s.auth_enabled = true;
  s.user = "admin";
  s.password = "secret";
  s.width = 320;
  s.height = 180;
  std::string snap = Exchange(s, "GET /onvif/snapshot HTTP/1.1\r\nAuthorization: Basic YWRtaW46c2VjcmV0\r\n\r\n");
  // With a screen to encode, the answer is a whole JPEG of the announced length.
  ASSERT_EQ(snap.rfind("HTTP/1.1 200 OK\r\nContent-Type: image/jpeg\r\n", 0), 0u) << snap.substr(0, 80);
  size_t end = snap.find("\r\n\r\n");
  size_t length = snap.find("Content-Length: ");
  ASSERT_LT(length, end);
  EXPECT_EQ(std::stoul(snap.substr(length + 16)), snap.size() - end - 4);
  EXPECT_EQ(snap.substr(end + 4, 2), "\xFF\xD8");
  EXPECT_EQ(snap.substr(snap.size() - 2), "\xFF\xD9");
}

// A real listener on a port chosen by the kernel, with small limits so that
// the hostile cases resolve quickly.
class OnvifListener : public ::testing::Test {
 protected:
  void SetUp() override {
    service_.limits.receive_timeout_ms = 5000;
    service_.limits.max_request_bytes = 8192;
    service_.limits.max_connections = 2;
    service_.limits.min_idle_before_evict_ms = 200;
    int error = 0;
    listener_ = ListenTcp(0, 8, &error);
    ASSERT_TRUE(listener_.valid()) << error;
    port_ = LocalPort(listener_.get());
    loop_ = std::thread([this] { ServeOnvifConnections(service_, listener_.get()); });
  }
  void TearDown() override {
    idle_.clear();  // their connections end at once instead of at the time-out
    ::shutdown(listener_.get(), SHUT_RDWR);  // ends the accept loop
    // Returns once every connection it started has ended: the service may go.
    loop_.join();
  }

  UniqueFd Connect() {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port_));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::connect(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    SetReceiveTimeoutMs(fd.get(), 8000);
    return fd;
  }
  static std::string ReadAll(int fd) {
    std::string out;
    char buf[4096];
    ssize_t n;
    while ((n = ::recv(fd, buf, sizeof buf, 0)) > 0) out.append(buf, static_cast<size_t>(n));
    return out;
  }
  std::string Call(const std::string& request) {
    UniqueFd fd = Connect();
    SendAll(fd.get(), request);
    return ReadAll(fd.get());
  }

  OnvifService service_;
  UniqueFd listener_;
  int port_ = 0;
  std::thread loop_;
  std::vector<UniqueFd> idle_;
};

TEST_F(OnvifListener, OversizedRequestsAreRefusedAndClosed) {
  EXPECT_EQ(Call("POST / HTTP/1.1\r\nContent-Length: 1000000000000\r\n\r\n<a>"),
            "HTTP/1.1 413 Payload Too Large\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
  EXPECT_EQ(Call("POST / HTTP/1.1\r\nX-Endless: " + std::string(20000, 'a')),
            "HTTP/1.1 431 Request Header Fields Too Large\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
  EXPECT_EQ(Call("POST / HTTP/1.1\r\nContent-Length: 3\r\nContent-Length: 300\r\n\r\n<a>"),
            "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n")
      << "two lengths: the request is refused, not guessed at";
  EXPECT_EQ(Call(kDeviceInfo).substr(0, 15), "HTTP/1.1 200 OK");
}

TEST_F(OnvifListener, IdlePeersDoNotLockOutAWellBehavedClient) {
  // More silent connections than the cap, each stuck inside its header.
  for (int i = 0; i < 6; ++i) {
    idle_.push_back(Connect());
    SendAll(idle_.back().get(), "POST /onvif/device_service HTTP/1.1\r\n");
  }
  uint64_t start = BootTickMs();
  std::string answer = Call(kDeviceInfo);
  EXPECT_EQ(answer.substr(0, 15), "HTTP/1.1 200 OK");
  EXPECT_LT(BootTickMs() - start, 4000u) << "served before the idle peers time out";
  // The idle peers were closed without an answer, the oldest first.
  EXPECT_EQ(ReadAll(idle_.front().get()), "");
}

TEST_F(OnvifListener, SilentPeerIsClosedAfterTheTimeOut) {
  UniqueFd silent = Connect();
  uint64_t start = BootTickMs();
  EXPECT_EQ(ReadAll(silent.get()), "");
  uint64_t waited = BootTickMs() - start;
  EXPECT_GE(waited, 4000u);
  EXPECT_LT(waited, 7000u);
}

}  // namespace
}  // namespace lcx
