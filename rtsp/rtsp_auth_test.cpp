#include "rtsp/rtsp_auth.h"

#include <gtest/gtest.h>

#include <string>

#include "rtsp/rtsp_messages.h"
#include "security/digest.h"

namespace lcx {
namespace {

// The client cases live in security/http_auth_test.cpp; this checks that the
// RTSP entry point passes its arguments through and uses the RTSP options.
TEST(CheckRtspAuth, PassesArgumentsAndRefusesTheShortFormWithQop) {
  // RFC 2617's example: the qop response, and the short response sent with qop.
  // Both responses over one of our nonces, each computed by hand.
  const DigestNonceKey key{"connection secret", 77};
  const std::string nonce = MakeDigestNonce(key);
  const std::string ha1 = Md5Hex("Mufasa:testrealm@host.com:Circle Of Life");
  const std::string ha2 = Md5Hex("GET:/dir/index.html");
  const std::string head = "GET rtsp://h/dir RTSP/1.0\r\nCSeq: 2\r\nAuthorization: Digest username=\"Mufasa\", "
                           "nonce=\"" + nonce + "\", uri=\"/dir/index.html\", qop=auth, "
                           "nc=00000001, cnonce=\"0a4f113b\", response=";
  const std::string qop_form =
      head + "\"" + Md5Hex(ha1 + ":" + nonce + ":00000001:0a4f113b:auth:" + ha2) + "\"\r\n\r\n";
  const std::string short_form = head + "\"" + Md5Hex(ha1 + ":" + nonce + ":" + ha2) + "\"\r\n\r\n";
  auto check = [&](const std::string& request) {
    RequestHead parsed;
    EXPECT_TRUE(ParseRtspHead(request, parsed));
    return CheckRtspAuth(parsed, "testrealm@host.com", key, "Mufasa", "Circle Of Life");
  };
  EXPECT_EQ(check(qop_form), HttpAuthResult::kAccepted);
  EXPECT_EQ(check(short_form), HttpAuthResult::kRefused);

  // The field is found by the head parser, in any case, and only as a field.
  auto replaced = [&](std::string from, std::string to) {
    std::string text = qop_form;
    text.replace(text.find(from), from.size(), to);
    return text;
  };
  struct Case {
    const char* name;
    std::string request;
    HttpAuthResult result;
  } cases[] = {
      {"lower-case name", replaced("Authorization:", "authorization:"), HttpAuthResult::kAccepted},
      {"name in capitals", replaced("Authorization:", "AUTHORIZATION:"), HttpAuthResult::kAccepted},
      {"folded onto a second line", replaced(", response=", ",\r\n response="), HttpAuthResult::kAccepted},
      {"response on another field's line", replaced(", response=", "\r\nX-Extra: response="),
       HttpAuthResult::kRefused},
      {"a field whose name ends in Authorization", replaced("Authorization:", "X-Authorization:"),
       HttpAuthResult::kRefused},
      {"a second, wrong Authorization after the right one",
       replaced("\r\n\r\n", "\r\nAuthorization: Basic TXVmYXNhOndyb25n\r\n\r\n"), HttpAuthResult::kAccepted},
      {"a wrong Authorization before the right one",
       replaced("CSeq: 2\r\n", "CSeq: 2\r\nAuthorization: Basic TXVmYXNhOndyb25n\r\n"), HttpAuthResult::kRefused},
  };
  for (const Case& c : cases) EXPECT_EQ(check(c.request), c.result) << c.name;
}

}  // namespace
}  // namespace lcx
