// Who may call the protected operations: a WS-Security UsernameToken in the
// SOAP body (digest or plain password), or an HTTP Authorization header
// (Basic or Digest). Stateless, pure functions over their arguments.
#pragma once

#include <string>
#include <string_view>

namespace lcx {

struct OnvifService;

// True when the body names an operation that hands out streams, profiles or
// snapshots.
bool IsProtectedOperation(std::string_view body);
bool CheckWsSecurity(const OnvifService& service, std::string_view body);
// The Authorization header under the ONVIF options of security/http_auth: a
// Digest header carrying qop may match either response form.
bool CheckHttpAuth(std::string_view request, std::string_view method, std::string_view realm,
                   std::string_view nonce, std::string_view user, std::string_view password);
// Trimmed text of the first element matching ":" + tag (else "<" + tag);
// empty when absent or self-closing. No entity decoding.
std::string ExtractElementText(std::string_view xml, std::string_view tag);

}  // namespace lcx
