#include "onvif/onvif_answers.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "onvif/onvif_auth.h"
#include "onvif/onvif_service.h"
#include "onvif/soap_envelope.h"
#include "security/digest.h"
#include "security/http_auth.h"

namespace lcx {
namespace {

// The answer to a request with no SOAP envelope (an empty body among them).
const std::string kNotSoapAnswer =
    "HTTP/1.1 400 Bad Request\r\nContent-Type: application/soap+xml; charset=utf-8\r\nContent-Length: 563\r\n"
    "Connection: close\r\n\r\n" + WrapSoapEnvelope(BuildSoapFault(kNotWellFormedFault, SoapVersion::k12));

constexpr int64_t kNowS = 5000;
const std::string kNonce = MakeDigestNonce({"abcdef0123456789", kNowS});
const std::string kChallenge =
    "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Digest realm=\"Lumicast\", qop=\"auth\", "
    "nonce=\"" + kNonce + "\"\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";

// Clocks that stand still unless a test moves them.
struct TestAuth : OnvifAuthState {
  int64_t monotonic = kNowS;
  int64_t unix_time = 1284623445;  // 2010-09-16T07:50:45Z
  TestAuth() {
    clock.monotonic_s = [this] { return monotonic; };
    clock.unix_s = [this] { return unix_time; };
  }
};

const std::string kBasic = "Authorization: Basic YWRtaW46c2VjcmV0\r\n";  // admin:secret

OnvifService AuthService() {
  OnvifService s;
  s.ip = "10.1.2.3";
  s.onvif_port = 8000;
  s.rtsp_port = 554;
  s.stream_name = "screenlive";
  s.user = "admin";
  s.password = "secret";
  s.auth_enabled = true;
  s.digest_secret = "abcdef0123456789";
  return s;
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
  TestAuth auth;
  const std::string fault =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?><env:Envelope xmlns:env=\"http://www.w3.org/2003/05/soap-envelope\""
      " xmlns:tds=\"http://www.onvif.org/ver10/device/wsdl\" xmlns:trt=\"http://www.onvif.org/ver10/media/wsdl\""
      " xmlns:ter=\"http://www.onvif.org/ver10/error\" xmlns:tt=\"http://www.onvif.org/ver10/schema\"><env:Body>"
      "<env:Fault><env:Code><env:Value>env:Sender</env:Value><env:Subcode><env:Value>ter:NotAuthorized</env:Value>"
      "</env:Subcode></env:Code><env:Reason><env:Text xml:lang=\"en\">Sender not authorized</env:Text></env:Reason>"
      "</env:Fault></env:Body></env:Envelope>";
  const std::string refused =
      "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Digest realm=\"Lumicast\", qop=\"auth\", "
      "nonce=\"" + kNonce + "\"\r\nContent-Type: application/soap+xml; charset=utf-8\r\nContent-Length: " +
      std::to_string(fault.size()) + "\r\nConnection: close\r\n\r\n" + fault;
  const std::string post = "POST /onvif/media_service HTTP/1.1\r\n";
  const std::string token =
      "<wsse:UsernameToken><wsse:Username>ADMIN</wsse:Username><wsse:Password Type=\"x#PasswordText\">secret"
      "</wsse:Password></wsse:UsernameToken>";

  std::string body = "<trt:GetStreamUri/>";
  EXPECT_EQ(AnswerSoapCall(s, auth, post + "\r\n" + body, body), refused);
  std::string with_basic = AnswerSoapCall(s, auth, post + kBasic + "\r\n" + body, body);
  EXPECT_NE(with_basic.find("<tt:Uri>rtsp://10.1.2.3:554/screenlive</tt:Uri>"), std::string::npos) << with_basic;
  EXPECT_EQ(with_basic.substr(0, 15), "HTTP/1.1 200 OK");
  std::string with_token = token + body;
  EXPECT_EQ(AnswerSoapCall(s, auth, post + "\r\n" + with_token, with_token).substr(0, 15), "HTTP/1.1 200 OK");

  // Open operations, unrecognised ones and an empty body need nothing.
  EXPECT_EQ(AnswerSoapCall(s, auth, post + "\r\n", ""), kNotSoapAnswer);
  const std::string unknown =
      "<s:Envelope xmlns:s=\"http://www.w3.org/2003/05/soap-envelope\"><s:Body><Reboot/></s:Body></s:Envelope>";
  EXPECT_EQ(AnswerSoapCall(s, auth, post + "\r\n" + unknown, unknown).substr(0, 36), "HTTP/1.1 500 Internal Server Error\r\n");
  EXPECT_EQ(AnswerSoapCall(s, auth, post + "\r\n<tds:GetDeviceInformation/>", "<tds:GetDeviceInformation/>").substr(0, 15),
            "HTTP/1.1 200 OK");
  EXPECT_EQ(AnswerSoapCall(s, auth, post + "\r\n<trt:GetVideoEncoderConfiguration/>", "<trt:GetVideoEncoderConfiguration/>"),
            refused);

  // A SOAP 1.1 client is refused in SOAP 1.1.
  const std::string soap11 =
      "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\"><s:Body><trt:GetProfiles/></s:Body>"
      "</s:Envelope>";
  const std::string fault11 = WrapSoapEnvelope(
      "<env:Fault><faultcode>env:Client</faultcode><faultstring>Sender not authorized</faultstring></env:Fault>",
      SoapVersion::k11);
  EXPECT_EQ(AnswerSoapCall(s, auth, post + "\r\n" + soap11, soap11),
            "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Digest realm=\"Lumicast\", qop=\"auth\", nonce=\"" + kNonce +
                "\"\r\nContent-Type: text/xml; charset=utf-8\r\nContent-Length: " + std::to_string(fault11.size()) +
                "\r\nConnection: close\r\n\r\n" + fault11);

  s.auth_enabled = false;
  EXPECT_EQ(AnswerSoapCall(s, auth, post + "\r\n" + body, body).substr(0, 15), "HTTP/1.1 200 OK");
  EXPECT_EQ(AnswerSoapCall(s, auth, post + "\r\n" + soap11, soap11).substr(0, 64),
            "HTTP/1.1 200 OK\r\nContent-Type: text/xml; charset=utf-8\r\nContent-");
}

TEST(AnswerSnapshot, CredentialsThenPicture) {
  // Stands for a picture; the zero byte must survive into the answer.
  const std::vector<uint8_t> kJpeg = {0xFF, 0xD8, 0x00, 0x42, 0xFF, 0xD9};
  const std::string kPicture =
      "HTTP/1.1 200 OK\r\nContent-Type: image/jpeg\r\nCache-Control: no-cache\r\nContent-Length: 6\r\n"
      "Connection: close\r\n\r\n" + std::string("\xFF\xD8\x00\x42\xFF\xD9", 6);
  const std::string kNoPicture = "HTTP/1.1 500 Internal Server Error\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
  const std::string get = "GET /onvif/snapshot HTTP/1.1\r\n";
  enum class Encoder { kGives, kFails, kEmpty };
  struct Case {
    const char* name;
    bool auth;
    std::string request;
    Encoder encoder;
    const std::string& expected;
    bool encoder_asked;
  } cases[] = {
      {"open, picture", false, get + "\r\n", Encoder::kGives, kPicture, true},
      {"open, no screen to encode", false, get + "\r\n", Encoder::kFails, kNoPicture, true},
      {"open, encoder gives nothing", false, get + "\r\n", Encoder::kEmpty, kNoPicture, true},
      {"protected, no credentials", true, get + "\r\n", Encoder::kGives, kChallenge, false},
      {"protected, right Basic", true, get + kBasic + "\r\n", Encoder::kGives, kPicture, true},
      {"protected, right Basic, no screen", true, get + kBasic + "\r\n", Encoder::kFails, kNoPicture, true},
      {"protected, wrong Basic", true, get + "Authorization: Basic YWRtaW46d3Jvbmc=\r\n\r\n", Encoder::kGives,
       kChallenge, false},
      {"WS-Security does not open the snapshot", true,
       get + "\r\n<wsse:Username>admin</wsse:Username><wsse:Password>secret</wsse:Password>", Encoder::kGives,
       kChallenge, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    OnvifService s = AuthService();
    TestAuth auth;
    s.auth_enabled = c.auth;
    s.width = 320;
    s.height = 180;
    s.sub_width = 64;
    s.sub_height = 36;
    bool asked = false;
    auto encode = [&](int width, int height, std::vector<uint8_t>& jpeg) {
      asked = true;
      EXPECT_EQ(width, 320);  // always the main stream's size
      EXPECT_EQ(height, 180);
      if (c.encoder != Encoder::kGives) return c.encoder == Encoder::kEmpty;
      jpeg = kJpeg;
      return true;
    };
    EXPECT_EQ(AnswerSnapshot(s, auth, c.request, encode), c.expected);
    EXPECT_EQ(asked, c.encoder_asked);
  }
}

TEST(AnswerOnvifRequest, SnapshotOrSoapCall) {
  OnvifService s = AuthService();
  TestAuth auth;
  auto never = [](int, int, std::vector<uint8_t>&) -> bool {
    ADD_FAILURE() << "not a snapshot request";
    return false;
  };
  auto fails = [](int, int, std::vector<uint8_t>&) { return false; };
  // A POST to the snapshot path and a GET of a service path are SOAP calls
  // with the body as it stands.
  EXPECT_EQ(AnswerOnvifRequest(s, auth, "POST /onvif/snapshot HTTP/1.1\r\n\r\n", "", never), kNotSoapAnswer);
  EXPECT_EQ(AnswerOnvifRequest(s, auth, "GET /onvif/device_service HTTP/1.1\r\n\r\n", "", never), kNotSoapAnswer);
  EXPECT_EQ(AnswerOnvifRequest(s, auth, "GET /onvif/snapshot HTTP/1.1\r\n\r\n", "", fails), kChallenge);
}

// What a replayed request gets: the Node.js client's Digest over a nonce
// that has since expired is told stale (it retries), and a captured
// UsernameToken passes once only.
TEST(AnswerSoapCall, ReplayedCredentials) {
  OnvifService s = AuthService();
  TestAuth auth;
  const std::string body = "<trt:GetProfiles/>";
  auto digest_request = [&](const std::string& nonce) {
    std::string ha1 = Md5Hex("admin:Lumicast:secret"), ha2 = Md5Hex("POST:/onvif/media_service");
    return "POST /onvif/media_service HTTP/1.1\r\nAuthorization: Digest username=\"admin\",realm=\"Lumicast\","
           "nonce=\"" + nonce + "\",uri=\"/onvif/media_service\",qop=auth,nc=00000001,cnonce=\"59aec607\","
           "response=\"" + Md5Hex(ha1 + ":" + nonce + ":00000001:59aec607:auth:" + ha2) + "\"\r\n\r\n" + body;
  };
  const std::string request = digest_request(kNonce);
  EXPECT_EQ(AnswerSoapCall(s, auth, request, body).substr(0, 15), "HTTP/1.1 200 OK");
  auth.monotonic += kDigestNonceLifetimeS + 1;
  const std::string later = AnswerSoapCall(s, auth, request, body);
  const std::string fresh = MakeDigestNonce({s.digest_secret, auth.monotonic});
  EXPECT_EQ(later.substr(0, later.find("\r\nContent-Type")),
            "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Digest realm=\"Lumicast\", qop=\"auth\", nonce=\"" +
                fresh + "\", stale=true");
  EXPECT_EQ(AnswerSoapCall(s, auth, digest_request(fresh), body).substr(0, 15), "HTTP/1.1 200 OK");

  // The UsernameToken profile's worked example, sent at its creation time.
  const std::string token =
      "<wsse:UsernameToken><wsse:Username>admin</wsse:Username><wsse:Password Type=\"x#PasswordDigest\">" +
      Base64Encode(Sha1Digest(Base64Decode("LKqI6G/AikKCQrN0zqZFlg==") + "2010-09-16T07:50:45Z" + "secret")) +
      "</wsse:Password><wsse:Nonce>LKqI6G/AikKCQrN0zqZFlg==</wsse:Nonce><wsu:Created>2010-09-16T07:50:45Z"
      "</wsu:Created></wsse:UsernameToken>" + body;
  const std::string post = "POST /onvif/media_service HTTP/1.1\r\n\r\n";
  EXPECT_EQ(AnswerSoapCall(s, auth, post + token, token).substr(0, 15), "HTTP/1.1 200 OK");
  EXPECT_EQ(AnswerSoapCall(s, auth, post + token, token).substr(0, 25), "HTTP/1.1 401 Unauthorized");
}

}  // namespace
}  // namespace lcx
