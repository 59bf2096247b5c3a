// RTSP request authentication: HTTP Basic or HTTP Digest (MD5, with or
// without qop) read from the request's Authorization header, checked by the
// shared security/http_auth module under the RTSP options. Pure and
// stateless; the connection keeps the nonce and the "authenticated" flag.
#pragma once

#include <string_view>

namespace lcx {

// True when `request` carries credentials for `user`/`password`. An empty
// configured password never authenticates. A Digest header is checked with
// exactly one form, the qop one when it carries qop.
bool CheckRtspAuth(std::string_view request, std::string_view method, std::string_view realm,
                   std::string_view nonce, std::string_view user, std::string_view password);

}  // namespace lcx
