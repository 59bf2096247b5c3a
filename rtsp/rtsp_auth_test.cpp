#include "rtsp/rtsp_auth.h"

#include <gtest/gtest.h>

#include <string>

namespace lcx {
namespace {

// The client cases live in security/http_auth_test.cpp; this checks that the
// RTSP entry point passes its arguments through and uses the RTSP options.
TEST(CheckRtspAuth, PassesArgumentsAndRefusesTheShortFormWithQop) {
  // RFC 2617's example: the qop response, and the short response sent with qop.
  const std::string head = "GET rtsp://h/dir RTSP/1.0\r\nCSeq: 2\r\nAuthorization: Digest username=\"Mufasa\", "
                           "nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\", uri=\"/dir/index.html\", qop=auth, "
                           "nc=00000001, cnonce=\"0a4f113b\", response=";
  const std::string qop_form = head + "\"6629fae49393a05397450978507c4ef1\"\r\n\r\n";
  const std::string short_form = head + "\"670fd8c2df070c60b045671b8b24ff02\"\r\n\r\n";
  EXPECT_TRUE(CheckRtspAuth(qop_form, "GET", "testrealm@host.com", "dcd98b7102dd2f0e8b11d0f600bfb0c093", "Mufasa",
                            "Circle Of Life"));
  EXPECT_FALSE(CheckRtspAuth(short_form, "GET", "testrealm@host.com", "dcd98b7102dd2f0e8b11d0f600bfb0c093", "Mufasa",
                             "Circle Of Life"));
}

}  // namespace
}  // namespace lcx
