#include "rtsp/rtsp_auth.h"

namespace lcx {

HttpAuthResult CheckRtspAuth(std::string_view request, std::string_view method, std::string_view realm,
                             const DigestNonceKey& nonces, std::string_view user, std::string_view password) {
  return CheckHttpAuthorizationNonce(request, method, realm, nonces, user, password, kRtspHttpAuth);
}

}  // namespace lcx
