// The server on a loopback port, what a browser sees on the wire: framing
// failures, a relaunch after the answer, idle peers cut to make room. The
// answers themselves are web_answers_test.cpp's.
#include "web/web_admin_server.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <thread>

#include "core/log.h"
#include "platform/net.h"
#include "platform/system.h"
#include "web/web_panel_testing.h"
#include "web/web_routes.h"

namespace lcx {
namespace {

using namespace web_test;

// The login through the server's own entry, as the panel's pages reach it.
std::string LoginTokenOf(WebAdminServer& server) {
  WebReply r = server.Answer(Request("POST", "/login", "user=admin&pass=s3cret"));
  size_t at = r.bytes.find("lcx_sess=");
  return at == std::string::npos ? "" : r.bytes.substr(at + 9, 32);
}

TEST_F(WebPanelTest, RunReturnsWhenThePortIsTaken) {
  int error = 0;
  UniqueFd taken = ListenTcp(0, 1, &error);
  ASSERT_TRUE(taken.valid()) << error;
  settings_.web_port = static_cast<uint16_t>(LocalPort(taken.get()));
  WebAdminServer server(settings_, Hooks());
  server.Run();
  const std::string line = "Web admin bind failed: 98 (" + std::string(std::strerror(98)) + "), port " +
                           std::to_string(settings_.web_port) + "\n";
  EXPECT_NE(ReadLog().find(line), std::string::npos) << line;
}

// The whole server on a loopback port: what a browser sees on the wire.
class WebServerOnPort : public WebPanelTest {
 protected:
  void Start(WebLimits limits = WebLimits()) {
    server_ = std::make_unique<WebAdminServer>(settings_, Hooks(), limits);
    int error = 0;
    listener_ = ListenTcp(0, 8, &error);
    ASSERT_TRUE(listener_.valid()) << error;
    port_ = LocalPort(listener_.get());
    serve_ = std::thread([this] { server_->Serve(listener_.get()); });
  }
  void TearDown() override {
    if (serve_.joinable()) {
      ShutdownRead(listener_.get());  // accept fails: the loop returns
      serve_.join();
    }
    server_.reset();  // waits for the connections it still runs
    WebPanelTest::TearDown();
  }
  // Waits until `count` connections hold a place in the table.
  bool ConnectionsReach(int count) {
    for (const uint64_t give_up = BootTickMs() + 10000; BootTickMs() < give_up;) {
      if (server_->ActiveConnections() == count) return true;
      std::this_thread::yield();
    }
    return false;
  }
  UniqueFd Dial() {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port_));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::connect(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    SetReceiveTimeoutMs(fd.get(), 10000);
    return fd;
  }
  // Sends a request and reads the answer until the server closes.
  std::string Exchange(const std::string& request) {
    UniqueFd fd = Dial();
    SendAll(fd.get(), request);
    std::string answer;
    char buf[4096];
    for (long n; (n = ReceiveSome(fd.get(), buf, sizeof buf)) > 0;) answer.append(buf, static_cast<size_t>(n));
    return answer;
  }

  std::unique_ptr<WebAdminServer> server_;
  UniqueFd listener_;
  int port_ = 0;
  std::thread serve_;
};

TEST_F(WebServerOnPort, RestartAnswersSavesSessionsThenRelaunches) {
  Start();
  std::string token = LoginTokenOf(*server_);
  std::string answer = Exchange("POST /restart HTTP/1.1\r\nHost: 127.0.0.1\r\nCookie: lcx_sess=" + token +
                                "\r\nContent-Length: 0\r\n\r\n");
  EXPECT_EQ(answer, BuildResponse("202 Accepted", "{\"restarting\":true}", kJsonType));
  server_->WaitForConnections();
  EXPECT_EQ(relaunches_.load(), 1);

  // The next copy of the program finds the browser's session.
  WebAdminServer next(settings_, Hooks());
  EXPECT_TRUE(next.sessions().CheckSession(Request("GET", "/", "", token).fields, true));
}

TEST_F(WebServerOnPort, FramingFailuresOnTheWire) {
  Start();
  EXPECT_EQ(Exchange("POST /login HTTP/1.1\r\nContent-Length: 65537\r\n\r\n"),
            BuildResponse("413 Payload Too Large", "too large", kTextType));
  EXPECT_EQ(Exchange("GET / HTTP/1.1\r\nX: " + std::string(17000, 'a')),
            BuildResponse("431 Request Header Fields Too Large", "too large", kTextType));
}

TEST_F(WebServerOnPort, IdlePeersCannotHoldEveryThread) {
  WebLimits limits;  // idle peers would each hold a thread for 6 s
  limits.max_connections = 2;
  Start(limits);
  UniqueFd idle1 = Dial(), idle2 = Dial();
  ASSERT_TRUE(ConnectionsReach(2)) << "both idle peers hold a place";
  auto start = std::chrono::steady_clock::now();
  std::string answer = Exchange("GET /login HTTP/1.1\r\nHost: localhost\r\n\r\n");
  EXPECT_TRUE(answer.starts_with("HTTP/1.1 200 OK\r\n")) << answer.substr(0, 80);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(3000));
  EXPECT_LE(server_->ActiveConnections(), 2);
}

// The generated pair is made once, private, and kept; named files are used
// as they are; a certificate that will not load keeps the panel closed
// instead of serving the password in clear.
TEST_F(WebPanelTest, TlsFilesAreMadeOnceAndPrivate) {
  settings_.tls = true;
  const TlsFiles made = PrepareTlsFiles(settings_);
  ASSERT_EQ(made.cert, settings_.data_folder + "/web_cert.pem");
  ASSERT_EQ(made.key, settings_.data_folder + "/web_key.pem");
  for (const std::string& f : {made.cert, made.key}) {
    struct stat st {};
    ASSERT_EQ(::stat(f.c_str(), &st), 0) << f;
    EXPECT_EQ(st.st_mode & 0777, 0600u) << f;
  }
  std::string cert, again;
  ASSERT_TRUE(ReadWholeFile(made.cert, cert));
  PrepareTlsFiles(settings_);
  ASSERT_TRUE(ReadWholeFile(made.cert, again));
  EXPECT_EQ(again, cert) << "a second start keeps the certificate browsers were told to trust";
  EXPECT_TRUE(WebAdminServer(settings_, Hooks()).ServesTls());

  settings_.cert_file = dir_.Sub("mine.pem");
  settings_.key_file = made.key;
  const TlsFiles named = PrepareTlsFiles(settings_);
  EXPECT_EQ(named.cert, settings_.cert_file);
  EXPECT_EQ(named.key, made.key);
  WebAdminServer missing(settings_, Hooks());
  EXPECT_FALSE(missing.ServesTls());
  missing.Run();  // returns at once: no listener without its certificate
}

}  // namespace
}  // namespace lcx
