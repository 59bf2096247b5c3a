// Basic and Digest checks over the value of a request's Authorization
// header, and the self-checking Digest nonces.
#include "security/http_auth.h"

#include <algorithm>
#include <climits>
#include <string>

#include "security/digest.h"

namespace lcx {
namespace {

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// The scheme is the value's first word, in any case.
bool HasScheme(std::string_view value, std::string_view scheme) {
  if (value.size() < scheme.size() || (value.size() > scheme.size() && value[scheme.size()] != ' ')) return false;
  for (size_t i = 0; i < scheme.size(); ++i) {
    if (Lower(value[i]) != scheme[i]) return false;
  }
  return true;
}

bool IsBasic(std::string_view value) { return HasScheme(value, "basic"); }
bool IsDigest(std::string_view value) { return HasScheme(value, "digest"); }

constexpr size_t kStampDigits = 8;
constexpr size_t kMacDigits = 24;

std::string NonceMac(std::string_view secret, std::string_view stamp) {
  return HexLower(HmacSha256(secret, stamp)).substr(0, kMacDigits);
}

// Walks the longer text, a missing byte counting as 0, so neither the
// position of a difference nor which text is shorter shows in the time.
bool PaddedEquals(std::string_view a, std::string_view b) {
  size_t n = std::max(a.size(), b.size());
  volatile unsigned char diff = a.size() != b.size() ? 1 : 0;
  for (size_t i = 0; i < n; ++i) {
    unsigned char x = i < a.size() ? static_cast<unsigned char>(a[i]) : 0;
    unsigned char y = i < b.size() ? static_cast<unsigned char>(b[i]) : 0;
    diff = diff | static_cast<unsigned char>(x ^ y);
  }
  return diff == 0;
}

bool CheckBasic(std::string_view value, const HttpAuthExpected& expected) {
  std::string_view credentials = value.substr(std::min(value.size(), sizeof("basic") - 1));
  while (!credentials.empty() && credentials.front() == ' ') credentials.remove_prefix(1);
  credentials = credentials.substr(0, credentials.find_first_of(" \t\r\n"));
  std::string decoded = Base64Decode(credentials);
  size_t colon = decoded.find(':');  // only the first colon splits: passwords may hold more
  if (colon == std::string::npos) return false;
  std::string_view given(decoded);
  return CheckUserPassword(given.substr(0, colon), given.substr(colon + 1), expected.user, expected.password);
}

bool CheckDigest(std::string_view line, const HttpAuthExpected& expected, const HttpAuthOptions& options) {
  std::string username = GetAuthParam(line, "username");
  std::string uri = GetAuthParam(line, "uri");
  std::string response = GetAuthParam(line, "response");
  if (username.empty() || uri.empty() || response.empty()) return false;
  // An empty nonce was never handed out (RandomHex fails that way): it must
  // not match a header that leaves the nonce out.
  if (expected.nonce.empty() || !ConstantTimeEquals(GetAuthParam(line, "nonce"), expected.nonce)) return false;
  std::string qop = GetAuthParam(line, "qop");

  // HA1 is built from the configured name, not the header's: a client signing
  // with another name fails the comparison below. The uri is taken as sent.
  const std::string nonce(expected.nonce);
  std::string ha1 = Md5Hex(std::string(expected.user) + ":" + std::string(expected.realm) + ":" +
                           std::string(expected.password));
  std::string ha2 = Md5Hex(std::string(expected.method) + ":" + uri);
  for (char& c : response) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  if (!qop.empty()) {
    std::string nc = GetAuthParam(line, "nc");
    std::string cnonce = GetAuthParam(line, "cnonce");
    if (ConstantTimeEquals(response, Md5Hex(ha1 + ":" + nonce + ":" + nc + ":" + cnonce + ":" + qop + ":" + ha2))) {
      return true;
    }
    if (!options.qop_may_use_short_form) return false;
  }
  return ConstantTimeEquals(response, Md5Hex(ha1 + ":" + nonce + ":" + ha2));
}

}  // namespace

bool CheckHttpAuthorization(std::string_view authorization, const HttpAuthExpected& expected,
                            const HttpAuthOptions& options) {
  if (expected.password.empty() || authorization.empty()) return false;
  if (IsBasic(authorization)) return CheckBasic(authorization, expected);
  if (IsDigest(authorization)) return CheckDigest(authorization, expected, options);
  return false;
}

std::string MakeDigestNonce(const DigestNonceKey& key) {
  static constexpr char kHex[] = "0123456789abcdef";
  const uint32_t stamp_value = static_cast<uint32_t>(key.now_s);
  std::string stamp(kStampDigits, '0');
  for (size_t i = 0; i < kStampDigits; ++i) stamp[i] = kHex[(stamp_value >> (28 - 4 * i)) & 0xF];
  return stamp + NonceMac(key.secret, stamp);
}

NonceAge CheckDigestNonce(std::string_view nonce, const DigestNonceKey& key) {
  if (key.secret.empty() || nonce.size() != kStampDigits + kMacDigits) return NonceAge::kForeign;
  const std::string_view stamp = nonce.substr(0, kStampDigits);
  if (!ConstantTimeEquals(nonce.substr(kStampDigits), NonceMac(key.secret, stamp))) return NonceAge::kForeign;
  int64_t made = 0;
  for (char c : stamp) {
    int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    if (digit < 0) return NonceAge::kForeign;
    made = made * 16 + digit;
  }
  // Stamps hold the clock's low 32 bits, so the age is taken modulo 2^32.
  const uint32_t age = static_cast<uint32_t>(key.now_s) - static_cast<uint32_t>(made);
  if (age > static_cast<uint32_t>(INT32_MAX)) return NonceAge::kForeign;  // from the future
  return age <= key.lifetime_s ? NonceAge::kFresh : NonceAge::kExpired;
}

HttpAuthResult CheckHttpAuthorizationNonce(std::string_view authorization, std::string_view method,
                                           std::string_view realm, const DigestNonceKey& key,
                                           std::string_view user, std::string_view password,
                                           const HttpAuthOptions& options) {
  std::string nonce;
  NonceAge age = NonceAge::kForeign;
  if (IsDigest(authorization)) {
    nonce = GetAuthParam(authorization, "nonce");
    age = CheckDigestNonce(nonce, key);
    // A nonce we did not make matches nothing: the check below sees none.
    if (age == NonceAge::kForeign) nonce.clear();
  }
  if (!CheckHttpAuthorization(authorization, {method, realm, nonce, user, password}, options)) {
    return HttpAuthResult::kRefused;
  }
  return age == NonceAge::kExpired ? HttpAuthResult::kStale : HttpAuthResult::kAccepted;
}

bool CheckUserPassword(std::string_view given_user, std::string_view given_password, std::string_view user,
                       std::string_view password) {
  if (password.empty() || given_password.empty()) return false;
  bool user_ok = PaddedEquals(given_user, user);
  bool password_ok = PaddedEquals(given_password, password);
  return user_ok && password_ok;
}

}  // namespace lcx
