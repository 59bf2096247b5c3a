#include "rtsp/rtsp_auth.h"

#include <gtest/gtest.h>

#include <string>

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
  EXPECT_EQ(CheckRtspAuth(qop_form, "GET", "testrealm@host.com", key, "Mufasa", "Circle Of Life"),
            HttpAuthResult::kAccepted);
  EXPECT_EQ(CheckRtspAuth(short_form, "GET", "testrealm@host.com", key, "Mufasa", "Circle Of Life"),
            HttpAuthResult::kRefused);
}

}  // namespace
}  // namespace lcx
