#include "onvif/onvif_auth.h"

#include <gtest/gtest.h>

#include <string>

#include "onvif/onvif_service.h"
#include "security/digest.h"

namespace lcx {
namespace {

TEST(ExtractElementText, Cases) {
  struct Case {
    const char* name;
    const char* xml;
    const char* tag;
    const char* expected;
  } cases[] = {
      {"prefixed", "<wsse:Username>admin</wsse:Username>", "Username>", "admin"},
      {"unprefixed", "<Username>admin</Username>", "Username>", "admin"},
      {"trimmed both ends", "<a:Created>\r\n\t 2020 \n</a:Created>", "Created>", "2020"},
      {"attributes after tag", "<wsse:Password Type=\"x#PasswordDigest\">abc=</wsse:Password>", "Password", "abc="},
      {"self-closing", "<wsse:Password Type=\"t\"/>", "Password", ""},
      {"UsernameToken is not Username>", "<wsse:UsernameToken><wsse:Username>u</wsse:Username>", "Username>", "u"},
      {"absent", "<a>b</a>", "Nonce", ""},
      {"no closing angle", "<wsse:Nonce", "Nonce", ""},
      {"no following element", "<wsse:Nonce>abc", "Nonce", ""},
      {"only blanks", "<Nonce>  </Nonce>", "Nonce", ""},
      {"no entity decoding", "<Username>a&amp;b</Username>", "Username>", "a&amp;b"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ExtractElementText(c.xml, c.tag), c.expected);
  }
}

TEST(IsProtectedOperation, Names) {
  struct Case {
    const char* body;
    bool expected;
  } cases[] = {
      {"<trt:GetStreamUri>", true},         {"<trt:GetProfiles/>", true},
      {"<trt:GetProfile><trt:ProfileToken>prof1", true},
      {"<trt:GetSnapshotUri>", true},       {"<trt:GetVideoEncoderConfigurationOptions/>", true},
      {"<trt:GetVideoEncoderConfigurations/>", true},
      {"<tds:GetDeviceInformation/>", false}, {"<tds:GetSystemDateAndTime/>", false},
      {"<tds:GetCapabilities/>", false},    {"<trt:GetVideoSources/>", false},
      {"<tds:GetServices><tds:IncludeCapability>true</tds:IncludeCapability>", false},
      {"<tds:GetScopes/>", false},          {"", false},
      // The configurations behind the profiles, the host's network and the users.
      {"<trt:GetVideoSourceConfigurations/>", true}, {"<trt:GetVideoSourceConfiguration>", true},
      {"<trt:GetCompatibleVideoEncoderConfigurations>", true},
      {"<trt:GetGuaranteedNumberOfVideoEncoderInstances>", true}, {"<trt:GetServiceCapabilities/>", true},
      {"<tds:GetNetworkInterfaces/>", true}, {"<tds:GetHostname/>", true}, {"<tds:GetDNS/>", true},
      {"<tds:GetNTP/>", true},              {"<tds:GetNetworkDefaultGateway/>", true},
      {"<tds:GetNetworkProtocols/>", true}, {"<tds:GetUsers/>", true},
      // What changes something, and the motion events.
      {"<trt:GetOSDs/>", true}, {"<trt:GetOSDOptions>", true}, {"<trt:CreateProfile>", true},
      {"<trt:DeleteProfile>", true}, {"<tds:SetSystemDateAndTime>", true}, {"<tds:SystemReboot/>", true},
      {"<tev:GetEventProperties/>", true}, {"<tev:CreatePullPointSubscription/>", true},
      {"<tev:PullMessages>", true}, {"<wsnt:Renew>", true}, {"<wsnt:Unsubscribe/>", true},
      {"<tev:SetSynchronizationPoint/>", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body);
    EXPECT_EQ(IsProtectedOperation(c.body), c.expected);
  }
}

std::string Token(const std::string& user, const std::string& password_element, const std::string& nonce,
                  const std::string& created) {
  std::string out = "<s:Envelope><s:Header><wsse:Security><wsse:UsernameToken><wsse:Username>" + user +
                    "</wsse:Username>" + password_element;
  if (!nonce.empty()) out += "<wsse:Nonce EncodingType=\"...#Base64Binary\">" + nonce + "</wsse:Nonce>";
  if (!created.empty()) out += "<wsu:Created>" + created + "</wsu:Created>";
  return out + "</wsse:UsernameToken></wsse:Security></s:Header><s:Body><trt:GetProfiles/></s:Body></s:Envelope>";
}

std::string Digest(const std::string& value) {
  return "<wsse:Password Type=\"http://docs.oasis-open.org/wss/2004/01/"
         "oasis-200401-wss-username-token-profile-1.0#PasswordDigest\">" + value + "</wsse:Password>";
}
std::string Text(const std::string& value) {
  return "<wsse:Password Type=\"http://docs.oasis-open.org/wss/2004/01/"
         "oasis-200401-wss-username-token-profile-1.0#PasswordText\">" + value + "</wsse:Password>";
}

// Our clock for a test: both clocks stand at `unix_s`.
struct FixedClock : OnvifAuthState {
  explicit FixedClock(int64_t unix_s) {
    clock.monotonic_s = [unix_s] { return unix_s; };
    clock.unix_s = [unix_s] { return unix_s; };
  }
};

constexpr int64_t kExampleCreated = 1284623445;  // 2010-09-16T07:50:45Z

TEST(ParseXsdDateTime, Forms) {
  struct Case {
    const char* text;
    std::optional<int64_t> seconds;
  } cases[] = {
      {"2010-09-16T07:50:45Z", kExampleCreated},
      {"2010-09-16T07:50:45.123Z", kExampleCreated},  // the Node.js client's form
      {"2010-09-16T07:50:45", kExampleCreated},
      {"2010-09-16T09:50:45+02:00", kExampleCreated},
      {"2010-09-16T05:20:45-02:30", kExampleCreated},
      {"1970-01-01T00:00:00Z", 0},
      {"2024-02-29T12:00:00Z", 1709208000},
      {"2010-09-16 07:50:45Z", std::nullopt},
      {"2010-13-16T07:50:45Z", std::nullopt},
      {"2010-09-16T07:50:45.Z", std::nullopt},
      {"2010-09-16T07:50:45Zjunk", std::nullopt},
      {"2010-09-16T07:50", std::nullopt},
      {"", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(ParseXsdDateTime(c.text), c.seconds);
  }
}

TEST(CheckWsSecurity, UsernameTokens) {
  OnvifService service;
  service.user = "user";
  service.password = "userpassword";
  // Token from the UsernameToken profile's worked example; our clock is set
  // to its creation time unless a row says otherwise.
  const std::string nonce = "LKqI6G/AikKCQrN0zqZFlg==";
  const std::string created = "2010-09-16T07:50:45Z";
  const std::string digest = "tuOSpGlFlIXsozq4HFNeeGeFLEI=";

  struct Case {
    const char* name;
    std::string body;
    bool expected;
    int64_t clock_offset_s = 0;
  } cases[] = {
      {"digest", Token("user", Digest(digest), nonce, created), true},
      {"digest, user in capitals", Token("USER", Digest(digest), nonce, created), true},
      {"digest, other creation time", Token("user", Digest(digest), nonce, "2010-09-16T07:50:46Z"), false},
      {"digest, other nonce", Token("user", Digest(digest), "AAAAAAAAAAAAAAAAAAAAAA==", created), false},
      {"wrong user", Token("other", Digest(digest), nonce, created), false},
      {"user prefix only", Token("use", Digest(digest), nonce, created), false},
      {"PasswordText", Token("user", Text("userpassword"), "", ""), true},
      {"PasswordText wrong", Token("user", Text("userpassword2"), "", ""), false},
      {"PasswordText with nonce is still plain", Token("user", Text("userpassword"), nonce, created), true},
      {"PasswordText carrying the digest", Token("user", Text(digest), nonce, created), false},
      {"plain password with nonce and created", Token("user", Digest("userpassword"), nonce, created), true},
      {"plain password case differs", Token("user", Text("UserPassword"), "", ""), false},
      {"self-closing password", Token("user", "<wsse:Password Type=\"x#PasswordText\"/>", "", ""), false},
      {"no token", "<s:Body><trt:GetProfiles/></s:Body>", false},
      {"unprefixed elements with attributes (Node.js client)",
       "<UsernameToken><Username>user</Username><Password Type=\"...#PasswordDigest\">" + digest +
           "</Password><Nonce EncodingType=\"...#Base64Binary\">" + nonce + "</Nonce><Created xmlns=\"http://"
           "docs.oasis-open.org/wss/2004/01/oasis-200401-wss-wssecurity-utility-1.0.xsd\">" + created +
           "</Created></UsernameToken>",
       true},
      {"prefixed Created with attributes", Token("user", Digest(digest), nonce, "") +
           "<wsu:Created wsu:Id=\"c1\">" + created + "</wsu:Created>", true},
      {"recorder clock 14 min behind", Token("user", Digest(digest), nonce, created), true, 14 * 60},
      {"recorder clock 14 min ahead", Token("user", Digest(digest), nonce, created), true, -14 * 60},
      {"created 16 min ago", Token("user", Digest(digest), nonce, created), false, 16 * 60},
      {"created 16 min in the future", Token("user", Digest(digest), nonce, created), false, -16 * 60},
      {"years old", Token("user", Digest(digest), nonce, created), false, 10 * 365 * 86400LL},
      {"plain password is not dated", Token("user", Text("userpassword"), nonce, created), true, 10 * 365 * 86400LL},
      {"created not a time",
       Token("user", Digest(Base64Encode(Sha1Digest(Base64Decode(nonce) + "soon" + "userpassword"))), nonce, "soon"),
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FixedClock state(kExampleCreated + c.clock_offset_s);
    EXPECT_EQ(CheckWsSecurity(service, c.body, state), c.expected);
  }

  service.password.clear();
  FixedClock state(kExampleCreated);
  EXPECT_FALSE(CheckWsSecurity(service, Token("user", Text(""), "", ""), state));
  EXPECT_FALSE(CheckWsSecurity(service, Token("user", Text("x"), "", ""), state));
}

TEST(CheckWsSecurity, ADigestPassesOnce) {
  OnvifService service;
  service.user = "user";
  service.password = "userpassword";
  FixedClock state(kExampleCreated);
  const std::string token =
      Token("user", Digest("tuOSpGlFlIXsozq4HFNeeGeFLEI="), "LKqI6G/AikKCQrN0zqZFlg==", "2010-09-16T07:50:45Z");
  EXPECT_TRUE(CheckWsSecurity(service, token, state));
  EXPECT_FALSE(CheckWsSecurity(service, token, state)) << "replayed";
  // The same nonce bytes spelt differently are the same token.
  std::string respelt = token;
  respelt.replace(respelt.find("LKqI6G/"), 7, "LKqI6G /");
  EXPECT_FALSE(CheckWsSecurity(service, respelt, state)) << "replayed with the nonce re-spelt";
  // A fresh nonce at the same second is a new token.
  const std::string other_nonce = Base64Encode("another nonce 16");
  const std::string other = Token(
      "user", Digest(Base64Encode(Sha1Digest("another nonce 16" + std::string("2010-09-16T07:50:45Z") + "userpassword"))),
      other_nonce, "2010-09-16T07:50:45Z");
  EXPECT_TRUE(CheckWsSecurity(service, other, state));
}

TEST(RememberToken, ForgetsExpiredAndOldestBeyondCapacity) {
  SeenTokens seen;
  seen.capacity = 3;
  EXPECT_TRUE(RememberToken(seen, "a", 100, 0));
  EXPECT_FALSE(RememberToken(seen, "a", 100, 50));
  EXPECT_TRUE(RememberToken(seen, "a", 200, 101)) << "forgotten once out of the window";
  EXPECT_TRUE(RememberToken(seen, "b", 200, 101));
  EXPECT_TRUE(RememberToken(seen, "c", 200, 101));
  EXPECT_TRUE(RememberToken(seen, "d", 200, 101));  // "a" makes room
  EXPECT_EQ(seen.keys.size(), 3u);
  EXPECT_FALSE(RememberToken(seen, "d", 200, 101));
  EXPECT_TRUE(RememberToken(seen, "a", 200, 101));
}

// The client cases live in security/http_auth_test.cpp; this checks that the
// ONVIF entry point passes its arguments through and uses the ONVIF options.
TEST(CheckHttpAuth, PassesArgumentsAndAcceptsTheShortFormWithQop) {
  OnvifService service;
  service.user = "Mufasa";
  service.password = "Circle Of Life";
  service.digest_secret = "run secret";
  FixedClock state(900);
  const std::string nonce = OnvifDigestNonce(service, state);
  EXPECT_EQ(nonce, MakeDigestNonce({"run secret", 900}));
  // The qop response, and the short response sent with qop.
  const std::string ha1 = Md5Hex("Mufasa:Lumicast:Circle Of Life"), ha2 = Md5Hex("GET:/dir/index.html");
  const std::string head = "GET /dir/index.html HTTP/1.1\r\nAuthorization: Digest username=\"Mufasa\", "
                           "nonce=\"" + nonce + "\", uri=\"/dir/index.html\", qop=auth, "
                           "nc=00000001, cnonce=\"0a4f113b\", response=";
  for (const std::string& response :
       {Md5Hex(ha1 + ":" + nonce + ":00000001:0a4f113b:auth:" + ha2), Md5Hex(ha1 + ":" + nonce + ":" + ha2)}) {
    SCOPED_TRACE(response);
    RequestHead parsed;
    ParseRequestHead(head + "\"" + response + "\"\r\n\r\n", parsed);
    EXPECT_EQ(CheckHttpAuth(service, parsed, "GET", state), HttpAuthResult::kAccepted);
  }
}

}  // namespace
}  // namespace lcx
