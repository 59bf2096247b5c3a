#include "onvif/onvif_auth.h"

#include <gtest/gtest.h>

#include <string>

#include "onvif/onvif_service.h"

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
      {"<trt:GetVideoSourceConfigurations/>", false}, {"", false},
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

TEST(CheckWsSecurity, UsernameTokens) {
  OnvifService service;
  service.user = "user";
  service.password = "userpassword";
  // Token from the UsernameToken profile's worked example; its creation time
  // is years old and must still pass.
  const std::string nonce = "LKqI6G/AikKCQrN0zqZFlg==";
  const std::string created = "2010-09-16T07:50:45Z";
  const std::string digest = "tuOSpGlFlIXsozq4HFNeeGeFLEI=";

  struct Case {
    const char* name;
    std::string body;
    bool expected;
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
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(CheckWsSecurity(service, c.body), c.expected);
  }

  service.password.clear();
  EXPECT_FALSE(CheckWsSecurity(service, Token("user", Text(""), "", "")));
  EXPECT_FALSE(CheckWsSecurity(service, Token("user", Text("x"), "", "")));
}

// The client cases live in security/http_auth_test.cpp; this checks that the
// ONVIF entry point passes its arguments through and uses the ONVIF options.
TEST(CheckHttpAuth, PassesArgumentsAndAcceptsTheShortFormWithQop) {
  // RFC 2617's example: the qop response, and the short response sent with qop.
  const std::string head = "GET /dir/index.html HTTP/1.1\r\nAuthorization: Digest username=\"Mufasa\", "
                           "nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\", uri=\"/dir/index.html\", qop=auth, "
                           "nc=00000001, cnonce=\"0a4f113b\", response=";
  for (const char* response : {"\"6629fae49393a05397450978507c4ef1\"", "\"670fd8c2df070c60b045671b8b24ff02\""}) {
    SCOPED_TRACE(response);
    EXPECT_TRUE(CheckHttpAuth(head + response + "\r\n\r\n", "GET", "testrealm@host.com",
                              "dcd98b7102dd2f0e8b11d0f600bfb0c093", "Mufasa", "Circle Of Life"));
  }
}

}  // namespace
}  // namespace lcx
