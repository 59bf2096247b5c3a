// Basic and Digest checks over the single Authorization line of a request.
#include "rtsp/rtsp_auth.h"

#include <string>

#include "security/digest.h"

namespace lcx {
namespace {

// The Authorization line without its CR LF. Only the two common spellings
// of the header name count.
std::string_view FindAuthorizationLine(std::string_view request) {
  size_t at = request.find("Authorization:");
  if (at == std::string_view::npos) at = request.find("authorization:");
  if (at == std::string_view::npos) return {};
  std::string_view line = request.substr(at);
  size_t end = line.find("\r\n");
  return end == std::string_view::npos ? line : line.substr(0, end);
}

bool Contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

bool CheckBasic(std::string_view line, std::string_view user, std::string_view password) {
  std::string_view credentials = line.substr(line.find("asic ") + 5);
  size_t cut = credentials.find_first_of(" \r\n");
  if (cut != std::string_view::npos) credentials = credentials.substr(0, cut);
  std::string decoded = Base64Decode(credentials);
  if (decoded.empty()) return false;
  size_t colon = decoded.find(':');
  if (colon == std::string::npos) return false;
  std::string_view given(decoded);
  if (!ConstantTimeEquals(given.substr(0, colon), user)) return false;
  return ConstantTimeEquals(given.substr(colon + 1), password);
}

bool CheckDigest(std::string_view line, std::string_view method, std::string_view realm,
                 std::string_view nonce, std::string_view user, std::string_view password) {
  std::string username = GetAuthParam(line, "username");
  std::string uri = GetAuthParam(line, "uri");
  std::string response = GetAuthParam(line, "response");
  std::string given_nonce = GetAuthParam(line, "nonce");
  if (username.empty() || uri.empty() || response.empty()) return false;
  if (!ConstantTimeEquals(given_nonce, nonce)) return false;
  std::string qop = GetAuthParam(line, "qop");

  // HA1 is built from the configured name: a client signing with another
  // name simply fails the comparison below.
  std::string ha1 = Md5Hex(std::string(user) + ":" + std::string(realm) + ":" + std::string(password));
  std::string ha2 = Md5Hex(std::string(method) + ":" + uri);
  std::string expected;
  if (!qop.empty()) {
    std::string nc = GetAuthParam(line, "nc");
    std::string cnonce = GetAuthParam(line, "cnonce");
    expected = Md5Hex(ha1 + ":" + std::string(nonce) + ":" + nc + ":" + cnonce + ":" + qop + ":" + ha2);
  } else {
    expected = Md5Hex(ha1 + ":" + std::string(nonce) + ":" + ha2);
  }
  for (char& c : response) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return ConstantTimeEquals(response, expected);
}

}  // namespace

bool CheckRtspAuth(std::string_view request, std::string_view method, std::string_view realm,
                   std::string_view nonce, std::string_view user, std::string_view password) {
  if (password.empty()) return false;
  std::string_view line = FindAuthorizationLine(request);
  if (line.empty()) return false;
  if (Contains(line, "Basic ") || Contains(line, "basic ")) return CheckBasic(line, user, password);
  if (Contains(line, "Digest") || Contains(line, "digest"))
    return CheckDigest(line, method, realm, nonce, user, password);
  return false;
}

}  // namespace lcx
