// The publisher: push URLs, client-side Digest and Basic against our own
// server's check, the retry delays, and the record exchange against a
// scripted server (a wrong password ends it, refused, without a loop).
#include "rtsp/rtsp_publisher.h"

#include <gtest/gtest.h>

#include <cstring>

#include "rtsp/rtsp_auth.h"
#include "rtsp/rtsp_messages.h"
#include "rtsp/test_session.h"
#include "security/digest.h"

namespace lcx {
namespace {

using rtsp_test::SessionView;

TEST(ParsePushUrl, CredentialsHostPortAndPath) {
  struct Case {
    const char* text;
    bool ok;
    const char *user, *password, *host;
    int port;
    const char* url;
  } cases[] = {
      {"rtsp://relay.lan:8554/cam1", true, "", "", "relay.lan", 8554, "rtsp://relay.lan:8554/cam1"},
      {"rtsp://pub:p%40ss:w@10.0.0.9/live/cam", true, "pub", "p%40ss:w", "10.0.0.9", 554,
       "rtsp://10.0.0.9/live/cam"},
      {"rtsp://host", true, "", "", "host", 554, "rtsp://host/"},
      {"http://host/cam", false, "", "", "", 0, ""},
      {"rtsp://:8554/cam", false, "", "", "", 0, ""},
      {"rtsp://host:99999/cam", false, "", "", "", 0, ""},
      {"rtsp://host:/cam", false, "", "", "", 0, ""},
      // The editors' rule: a blank would split the request line.
      {"rtsp://host/my cam", false, "", "", "", 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::optional<PushTarget> t = ParsePushUrl(c.text);
    ASSERT_EQ(t.has_value(), c.ok);
    if (!t) continue;
    EXPECT_EQ(t->user, c.user);
    EXPECT_EQ(t->password, c.password);
    EXPECT_EQ(t->host, c.host);
    EXPECT_EQ(t->port, c.port);
    EXPECT_EQ(t->url, c.url);
  }
}

TEST(PushAuthorization, AnswersPassOurOwnServersCheck) {
  PushTarget target = *ParsePushUrl("rtsp://admin:secret@h/live");
  const std::string url = "rtsp://h/live";
  const DigestNonceKey key{"0123456789abcdef", 1000};
  RequestHead challenge;
  ASSERT_TRUE(ParseRtspHead(BuildUnauthorizedResponse(2, kRtspRealm, MakeDigestNonce(key)), challenge));
  for (const std::string& password : {std::string("secret"), std::string("wrong")}) {
    SCOPED_TRACE(password);
    target.password = password;
    RequestHead request;
    ASSERT_TRUE(ParseRtspHead("ANNOUNCE " + url + " RTSP/1.0\r\nCSeq: 2\r\nAuthorization: " +
                                  PushAuthorization(challenge, target, "ANNOUNCE", url, "c0ffee") + "\r\n\r\n",
                              request));
    EXPECT_EQ(CheckRtspAuth(request, kRtspRealm, key, "admin", "secret") == HttpAuthResult::kAccepted,
              password == "secret");
  }
  // Basic only, and qop=auth as other servers ask.
  RequestHead basic;
  ASSERT_TRUE(ParseRtspHead("RTSP/1.0 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"x\"\r\n\r\n", basic));
  target.password = "secret";
  EXPECT_EQ(PushAuthorization(basic, target, "ANNOUNCE", url, "c"), "Basic YWRtaW46c2VjcmV0");
  RequestHead qop;
  ASSERT_TRUE(ParseRtspHead(
      "RTSP/1.0 401 Unauthorized\r\nWWW-Authenticate: Digest realm=\"r\", nonce=\"n\", qop=\"auth\"\r\n\r\n", qop));
  const std::string ha1 = Md5Hex("admin:r:secret"), ha2 = Md5Hex("ANNOUNCE:" + url);
  EXPECT_EQ(PushAuthorization(qop, target, "ANNOUNCE", url, "c"),
            "Digest username=\"admin\", realm=\"r\", nonce=\"n\", uri=\"" + url +
                "\", qop=auth, nc=00000001, cnonce=\"c\", response=\"" +
                Md5Hex(ha1 + ":n:00000001:c:auth:" + ha2) + "\"");
}

TEST(PushRetryDelayS, GrowsToAMinute) {
  EXPECT_EQ(PushRetryDelayS(1), 1);
  EXPECT_EQ(PushRetryDelayS(2), 2);
  EXPECT_EQ(PushRetryDelayS(4), 8);
  EXPECT_EQ(PushRetryDelayS(7), 60);
  EXPECT_EQ(PushRetryDelayS(1000), 60);
}

// A server that answers each request with the next of `answers`.
struct ScriptedServer {
  std::vector<std::string> answers;
  size_t next = 0;
  std::vector<std::string> requests;
  std::string pending;
  ConnectionIo Io() {
    ConnectionIo io;
    io.send = [this](std::string_view b) {
      requests.emplace_back(b);
      if (next < answers.size()) pending += answers[next++];
      return true;
    };
    io.receive = [this](char* buffer, size_t capacity) -> long {
      const size_t n = std::min(capacity, pending.size());
      std::memcpy(buffer, pending.data(), n);
      pending.erase(0, n);
      return static_cast<long>(n);
    };
    io.has_input = [this] { return !pending.empty(); };
    // Gone once something beyond the scripted exchange was sent.
    io.peer_closed = [this] { return requests.size() > answers.size(); };
    io.start_streaming = [] {};
    return io;
  }
};

TEST(PublishOnce, WrongPasswordIsRefusedAfterOneAnswer) {
  SessionView view(false, true);
  const RtspSessionContext context = view.Context();
  const std::string challenge = "RTSP/1.0 401 Unauthorized\r\nCSeq: 1\r\nWWW-Authenticate: Basic realm=\"r\"\r\n\r\n";
  ScriptedServer server;
  server.answers = {challenge, challenge};
  std::string detail;
  EXPECT_EQ(PublishOnce(context, *ParsePushUrl("rtsp://u:wrong@h/live"), server.Io(), &detail), PushEnd::kRefused);
  EXPECT_EQ(detail, "the server refused the credentials (401)");
  ASSERT_EQ(server.requests.size(), 2u);
  EXPECT_EQ(server.requests[1].find("Authorization: Basic dTp3cm9uZw==\r\n") != std::string::npos, true);
}

TEST(PublishOnce, AnnounceSetupRecordThenTheStream) {
  SessionView view(false, true);
  const RtspSessionContext context = view.Context();
  PushFrame(view.main_channel, rtsp_test::AccessUnit(true, 100), true, 1000, 34);
  ScriptedServer server;
  server.answers = {"RTSP/1.0 200 OK\r\nCSeq: 1\r\n\r\n", "RTSP/1.0 200 OK\r\nCSeq: 2\r\nSession: ab12;timeout=60\r\n\r\n",
                    "RTSP/1.0 200 OK\r\nCSeq: 3\r\n\r\n"};
  std::string detail;
  EXPECT_EQ(PublishOnce(context, *ParsePushUrl("rtsp://h:8554/live"), server.Io(), &detail), PushEnd::kStreamed);
  ASSERT_GE(server.requests.size(), 4u);
  EXPECT_EQ(server.requests[0].rfind("ANNOUNCE rtsp://h:8554/live RTSP/1.0\r\nCSeq: 1\r\n", 0), 0u);
  EXPECT_NE(server.requests[0].find("Content-Type: application/sdp\r\n"), std::string::npos);
  EXPECT_NE(server.requests[0].find("\r\n\r\nv=0\r\n"), std::string::npos);
  EXPECT_NE(server.requests[1].find("SETUP rtsp://h:8554/live/trackID=0 RTSP/1.0\r\n"), std::string::npos);
  EXPECT_NE(server.requests[1].find("Transport: RTP/AVP/TCP;unicast;interleaved=0-1;mode=record\r\n"),
            std::string::npos);
  EXPECT_NE(server.requests[2].find("RECORD rtsp://h:8554/live RTSP/1.0\r\n"), std::string::npos);
  EXPECT_NE(server.requests[2].find("Session: ab12\r\n"), std::string::npos);
  EXPECT_EQ(server.requests[3][0], '$') << "then interleaved RTP";
  EXPECT_EQ(view.viewer_count.load(), 0);
}

}  // namespace
}  // namespace lcx
