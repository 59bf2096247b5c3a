#include "rtsp/rtsp_auth.h"

#include "security/http_auth.h"

namespace lcx {

bool CheckRtspAuth(std::string_view request, std::string_view method, std::string_view realm,
                   std::string_view nonce, std::string_view user, std::string_view password) {
  return CheckHttpAuthorization(request, {method, realm, nonce, user, password}, kRtspHttpAuth);
}

}  // namespace lcx
