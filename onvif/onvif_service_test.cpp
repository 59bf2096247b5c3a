#include "onvif/onvif_service.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <string>
#include <thread>
#include <vector>

#include "onvif/onvif_operations.h"
#include "platform/net.h"
#include "platform/system.h"

namespace lcx {
namespace {

const std::string kEmptyAnswerEnvelope =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?><env:Envelope xmlns:env=\"http://www.w3.org/2003/05/soap-envelope\""
    " xmlns:tds=\"http://www.onvif.org/ver10/device/wsdl\" xmlns:trt=\"http://www.onvif.org/ver10/media/wsdl\""
    " xmlns:ter=\"http://www.onvif.org/ver10/error\" xmlns:tt=\"http://www.onvif.org/ver10/schema\"><env:Body>"
    "<tds:GetSystemDateAndTimeResponse/></env:Body></env:Envelope>";

std::string Ok(const std::string& envelope) {
  return "HTTP/1.1 200 OK\r\nContent-Type: application/soap+xml; charset=utf-8\r\nContent-Length: " +
         std::to_string(envelope.size()) + "\r\nConnection: close\r\n\r\n" + envelope;
}

OnvifService AuthService() {
  OnvifService s;
  s.ip = "10.1.2.3";
  s.onvif_port = 8000;
  s.rtsp_port = 554;
  s.stream_name = "screenlive";
  s.user = "admin";
  s.password = "secret";
  s.auth_enabled = true;
  s.digest_nonce = "abcdef0123456789";
  return s;
}

TEST(WrapSoapEnvelope, PrologueAndClose) {
  std::string envelope = WrapSoapEnvelope("<tds:GetSystemDateAndTimeResponse/>");
  EXPECT_EQ(envelope, kEmptyAnswerEnvelope);
  EXPECT_EQ(WrapSoapEnvelope("").size(), 305u + 26u);
}

TEST(ReplaceAll, Cases) {
  struct Case {
    const char* text;
    const char* placeholder;
    const char* value;
    const char* expected;
  } cases[] = {
      {"a{X}b{X}c", "{X}", "1", "a1b1c"},
      {"{X}", "{X}", "{X}{X}", "{X}{X}"},  // never expands its own output
      {"{X}{X}", "{X}", "", ""},
      {"none", "{X}", "v", "none"},
  };
  for (const Case& c : cases) {
    std::string text = c.text;
    ReplaceAll(text, c.placeholder, c.value);
    EXPECT_EQ(text, c.expected) << c.text;
  }
}

TEST(SubstitutePlaceholders, OrderAndRawValues) {
  OnvifService s;
  s.ip = "192.168.0.9";
  s.onvif_port = 8000;
  s.rtsp_port = -1;
  s.stream_name = "a&b<c";
  s.sub_stream_name = "{STREAM}x";
  s.width = 640;
  s.height = 480;
  s.fps = 5;
  std::string text = "{IP}:{ONVIFPORT}:{RTSPPORT}/{STREAM}|{SUBSTREAM}|{W}x{H}@{FPS}";
  SubstitutePlaceholders(s, text);
  // The sub-stream goes first, so a name holding "{STREAM}" is expanded by
  // the later step; names are inserted unescaped.
  EXPECT_EQ(text, "192.168.0.9:8000:-1/a&b<c|a&b<cx|640x480@5");
}

TEST(IsSnapshotRequest, Routing) {
  struct Case {
    const char* request;
    bool expected;
  } cases[] = {
      {"GET /onvif/snapshot HTTP/1.1\r\n\r\n", true},
      {"GET /anything?napshot=1 HTTP/1.1\r\n\r\n", true},
      {"GET / HTTP/1.1\r\nX-Note: snapshot\r\n\r\n", true},
      {"POST /onvif/snapshot HTTP/1.1\r\n\r\n", false},
      {"GET /onvif/device_service HTTP/1.1\r\n\r\n", false},
      {"get /onvif/snapshot HTTP/1.1\r\n\r\n", false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsSnapshotRequest(c.request), c.expected) << c.request;
}

TEST(AnswerSoapCall, AuthorisationDecidesTheAnswer) {
  OnvifService s = AuthService();
  const std::string fault =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?><env:Envelope xmlns:env=\"http://www.w3.org/2003/05/soap-envelope\""
      " xmlns:tds=\"http://www.onvif.org/ver10/device/wsdl\" xmlns:trt=\"http://www.onvif.org/ver10/media/wsdl\""
      " xmlns:ter=\"http://www.onvif.org/ver10/error\" xmlns:tt=\"http://www.onvif.org/ver10/schema\"><env:Body>"
      "<env:Fault><env:Code><env:Value>env:Sender</env:Value><env:Subcode><env:Value>ter:NotAuthorized</env:Value>"
      "</env:Subcode></env:Code><env:Reason><env:Text xml:lang=\"en\">Sender not authorized</env:Text></env:Reason>"
      "</env:Fault></env:Body></env:Envelope>";
  const std::string refused =
      "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Digest realm=\"Lumicast\", qop=\"auth\", "
      "nonce=\"abcdef0123456789\"\r\nContent-Type: application/soap+xml; charset=utf-8\r\nContent-Length: " +
      std::to_string(fault.size()) + "\r\nConnection: close\r\n\r\n" + fault;
  const std::string post = "POST /onvif/media_service HTTP/1.1\r\n";
  const std::string basic = "Authorization: Basic " + std::string("YWRtaW46c2VjcmV0") + "\r\n";  // admin:secret
  const std::string token =
      "<wsse:UsernameToken><wsse:Username>ADMIN</wsse:Username><wsse:Password Type=\"x#PasswordText\">secret"
      "</wsse:Password></wsse:UsernameToken>";

  std::string body = "<trt:GetStreamUri/>";
  EXPECT_EQ(AnswerSoapCall(s, post + "\r\n" + body, body), refused);
  std::string with_basic = AnswerSoapCall(s, post + basic + "\r\n" + body, body);
  EXPECT_NE(with_basic.find("<tt:Uri>rtsp://10.1.2.3:554/screenlive</tt:Uri>"), std::string::npos) << with_basic;
  EXPECT_EQ(with_basic.substr(0, 15), "HTTP/1.1 200 OK");
  std::string with_token = token + body;
  EXPECT_EQ(AnswerSoapCall(s, post + "\r\n" + with_token, with_token).substr(0, 15), "HTTP/1.1 200 OK");

  // Open operations, unrecognised ones and an empty body need nothing.
  EXPECT_EQ(AnswerSoapCall(s, post + "\r\n", ""), Ok(kEmptyAnswerEnvelope));
  EXPECT_EQ(AnswerSoapCall(s, post + "\r\n<tds:GetDeviceInformation/>", "<tds:GetDeviceInformation/>").substr(0, 15),
            "HTTP/1.1 200 OK");
  EXPECT_EQ(AnswerSoapCall(s, post + "\r\n<trt:GetVideoEncoderConfiguration/>", "<trt:GetVideoEncoderConfiguration/>"),
            refused);

  s.auth_enabled = false;
  EXPECT_EQ(AnswerSoapCall(s, post + "\r\n" + body, body).substr(0, 15), "HTTP/1.1 200 OK");
}

// Sends `request` on one end of a socket pair, runs the connection handler on
// the other and returns everything it wrote before closing.
std::string Exchange(const OnvifService& service, const std::string& request) {
  int fds[2];
  EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
  UniqueFd peer(fds[1]);
  SendAll(peer.get(), request);
  HandleOnvifConnection(service, UniqueFd(fds[0]));
  std::string out;
  char buf[65536];
  ssize_t n;
  while ((n = ::recv(peer.get(), buf, sizeof buf, 0)) > 0) out.append(buf, static_cast<size_t>(n));
  return out;
}

TEST(HandleOnvifConnection, OneRequestOneAnswer) {
  OnvifService open;
  EXPECT_EQ(Exchange(open, "GET /onvif/device_service HTTP/1.1\r\nHost: x\r\n\r\n"), Ok(kEmptyAnswerEnvelope));

  OnvifService s = AuthService();
  EXPECT_EQ(Exchange(s, "GET /onvif/snapshot HTTP/1.1\r\n\r\n"),
            "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Digest realm=\"Lumicast\", qop=\"auth\", "
            "nonce=\"abcdef0123456789\"\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
  // WS-Security does not open the snapshot.
  EXPECT_EQ(Exchange(s, "GET /onvif/snapshot HTTP/1.1\r\n\r\n<wsse:Username>admin</wsse:Username>"
                        "<wsse:Password>secret</wsse:Password>")
                .substr(0, 24),
            "HTTP/1.1 401 Unauthorize");

  // Once past authentication the snapshot is either a JPEG of exactly the
  // announced length or, without a screen to encode, the 500 answer.
  std::string snap = Exchange(s, "GET /onvif/snapshot HTTP/1.1\r\nAuthorization: Basic YWRtaW46c2VjcmV0\r\n\r\n");
  if (snap.rfind("HTTP/1.1 200 OK\r\n", 0) == 0) {
    size_t end = snap.find("\r\n\r\n");
    ASSERT_NE(end, std::string::npos);
    size_t cl = snap.find("Content-Length: ");
    ASSERT_LT(cl, end);
    EXPECT_EQ(std::stoul(snap.substr(cl + 16)), snap.size() - end - 4);
    EXPECT_EQ(static_cast<unsigned char>(snap[end + 4]), 0xFF);
  } else {
    EXPECT_EQ(snap, "HTTP/1.1 500 Internal Server Error\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
  }

  // A second request on the same connection is never read.
  std::string two = Exchange(open, "POST / HTTP/1.1\r\nContent-Length: 0\r\n\r\nPOST / HTTP/1.1\r\n\r\n");
  EXPECT_EQ(two.rfind("HTTP/1.1"), 0u);
}

// A real listener on a port chosen by the kernel, with small limits so that
// the hostile cases resolve quickly.
class OnvifListener : public ::testing::Test {
 protected:
  // Made once and never written again: detached connection threads of an
  // earlier test may still read it.
  static const OnvifService& Service() {
    static const OnvifService service = [] {
      OnvifService s;
      s.limits.receive_timeout_ms = 5000;
      s.limits.max_request_bytes = 8192;
      s.limits.max_connections = 2;
      s.limits.min_idle_before_evict_ms = 200;
      return s;
    }();
    return service;
  }

  void SetUp() override {
    int error = 0;
    listener_ = ListenTcp(0, 8, &error);
    ASSERT_TRUE(listener_.valid()) << error;
    port_ = LocalPort(listener_.get());
    loop_ = std::thread([this] { ServeOnvifConnections(Service(), listener_.get()); });
  }
  void TearDown() override {
    ::shutdown(listener_.get(), SHUT_RDWR);  // ends the accept loop
    loop_.join();
    idle_.clear();
    SleepMs(300);  // let the detached connection threads see their peers go
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

  UniqueFd listener_;
  int port_ = 0;
  std::thread loop_;
  std::vector<UniqueFd> idle_;
};

const char kDeviceInfo[] =
    "POST /onvif/device_service HTTP/1.1\r\nContent-Length: 27\r\n\r\n<tds:GetDeviceInformation/>";

TEST_F(OnvifListener, OversizedRequestsAreRefusedAndClosed) {
  EXPECT_EQ(Call("POST / HTTP/1.1\r\nContent-Length: 1000000000000\r\n\r\n<a>"),
            "HTTP/1.1 413 Payload Too Large\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
  EXPECT_EQ(Call("POST / HTTP/1.1\r\nX-Endless: " + std::string(20000, 'a')),
            "HTTP/1.1 431 Request Header Fields Too Large\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
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
