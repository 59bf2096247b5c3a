// RTSP request authentication: HTTP Basic or HTTP Digest (MD5, with or
// without qop) read from the parsed head's Authorization field, checked by the
// shared security/http_auth module under the RTSP options. Pure and
// stateless; the connection keeps the nonce secret and the "authenticated" flag.
#pragma once

#include <string_view>

#include "core/request_head.h"
#include "security/http_auth.h"

namespace lcx {

// Whether the request carries credentials for `user`/`password` in its
// first Authorization field (its method enters the Digest), over a nonce
// made under `nonces` (the connection's secret and the clock). An empty
// configured password never authenticates. A Digest header is checked with
// exactly one form, the qop one when it carries qop.
HttpAuthResult CheckRtspAuth(const RequestHead& head, std::string_view realm, const DigestNonceKey& nonces,
                             std::string_view user, std::string_view password);

}  // namespace lcx
