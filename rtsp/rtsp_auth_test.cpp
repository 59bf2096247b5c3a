#include "rtsp/rtsp_auth.h"

#include <gtest/gtest.h>

#include <string>

namespace lcx {
namespace {

// A published Digest example (qop=auth) and its short form, computed apart
// from this code.
constexpr const char* kExampleNonce = "dcd98b7102dd2f0e8b11d0f600bfb0c093";
constexpr const char* kExampleQopLine =
    "Authorization: Digest username=\"Mufasa\", realm=\"testrealm@host.com\", "
    "nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\", uri=\"/dir/index.html\", qop=auth, nc=00000001, "
    "cnonce=\"0a4f113b\", response=\"6629fae49393a05397450978507c4ef1\"";
constexpr const char* kExampleShortLine =
    "Authorization: Digest username=\"Mufasa\", realm=\"testrealm@host.com\", "
    "nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\", uri=\"/dir/index.html\", "
    "response=\"670fd8c2df070c60b045671b8b24ff02\"";

std::string Request(const std::string& auth_line) {
  return "GET rtsp://h/dir RTSP/1.0\r\nCSeq: 2\r\n" + auth_line + "\r\nUser-Agent: t\r\n\r\n";
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  size_t at = text.find(from);
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

TEST(CheckRtspAuth, DigestAndBasicCases) {
  struct Case {
    const char* name;
    std::string auth_line;
    const char* nonce;
    const char* user;
    const char* password;
    bool ok;
  } cases[] = {
      {"digest with qop", kExampleQopLine, kExampleNonce, "Mufasa", "Circle Of Life", true},
      {"digest without qop", kExampleShortLine, kExampleNonce, "Mufasa", "Circle Of Life", true},
      {"digest response in upper case",
       Replace(kExampleQopLine, "6629fae49393a05397450978507c4ef1", "6629FAE49393A05397450978507C4EF1"),
       kExampleNonce, "Mufasa", "Circle Of Life", true},
      {"qop form sent without qop", Replace(kExampleQopLine, "qop=auth, ", ""), kExampleNonce, "Mufasa",
       "Circle Of Life", false},
      {"short form sent with qop", Replace(kExampleShortLine, "uri=", "qop=auth, nc=1, cnonce=\"x\", uri="),
       kExampleNonce, "Mufasa", "Circle Of Life", false},
      {"nonce of an earlier connection", kExampleQopLine, "0123456789abcdef0123456789abcdef", "Mufasa",
       "Circle Of Life", false},
      {"wrong password", kExampleQopLine, kExampleNonce, "Mufasa", "circle of life", false},
      {"signed for another user", kExampleQopLine, kExampleNonce, "admin", "Circle Of Life", false},
      {"digest without uri", Replace(kExampleShortLine, "uri=\"/dir/index.html\", ", ""), kExampleNonce,
       "Mufasa", "Circle Of Life", false},
      {"lower-case header name", Replace(kExampleQopLine, "Authorization:", "authorization:"), kExampleNonce,
       "Mufasa", "Circle Of Life", true},
      {"upper-case header name is not found", Replace(kExampleQopLine, "Authorization:", "AUTHORIZATION:"),
       kExampleNonce, "Mufasa", "Circle Of Life", false},
      {"basic", "Authorization: Basic YWRtaW46c2VjcmV0", "n", "admin", "secret", true},
      {"basic in lower case", "authorization: basic YWRtaW46c2VjcmV0", "n", "admin", "secret", true},
      {"basic password with a colon", "Authorization: Basic YWRtaW46cGE6c3M=", "n", "admin", "pa:ss", true},
      {"basic without a colon", "Authorization: Basic YWRtaW5zZWNyZXQ=", "n", "admin", "secret", false},
      {"basic wrong user", "Authorization: Basic YWRtaW46c2VjcmV0", "n", "root", "secret", false},
      {"basic empty password configured", "Authorization: Basic YWRtaW46", "n", "admin", "", false},
      {"digest empty password configured", kExampleQopLine, kExampleNonce, "Mufasa", "", false},
      {"unknown scheme", "Authorization: Bearer YWRtaW46c2VjcmV0", "n", "admin", "secret", false},
      {"no header", "X-Nothing: 1", "n", "admin", "secret", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(CheckRtspAuth(Request(c.auth_line), "GET", "testrealm@host.com", c.nonce, c.user, c.password),
              c.ok);
  }
}

TEST(CheckRtspAuth, ReadsOnlyTheAuthorizationLine) {
  // The response parameter sits on the next header line, so it is missing.
  std::string split = Replace(kExampleShortLine, ", response=", "\r\nX-Extra: response=");
  EXPECT_FALSE(CheckRtspAuth(Request(split), "GET", "testrealm@host.com", kExampleNonce, "Mufasa",
                             "Circle Of Life"));
  // The method takes part in the digest.
  EXPECT_FALSE(CheckRtspAuth(Request(kExampleQopLine), "DESCRIBE", "testrealm@host.com", kExampleNonce,
                             "Mufasa", "Circle Of Life"));
}

}  // namespace
}  // namespace lcx
