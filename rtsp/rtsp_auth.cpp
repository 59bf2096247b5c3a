#include "rtsp/rtsp_auth.h"

namespace lcx {

HttpAuthResult CheckRtspAuth(const RequestHead& head, std::string_view realm, const DigestNonceKey& nonces,
                             std::string_view user, std::string_view password) {
  return CheckHttpAuthorizationNonce(head.Find("Authorization").value_or(""), head.method, realm, nonces, user,
                                     password, kRtspHttpAuth);
}

}  // namespace lcx
