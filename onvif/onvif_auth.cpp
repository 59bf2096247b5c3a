#include "onvif/onvif_auth.h"

#include "onvif/onvif_service.h"
#include "security/digest.h"
#include "security/http_auth.h"

namespace lcx {
namespace {

bool Has(std::string_view text, std::string_view part) { return text.find(part) != std::string_view::npos; }

std::string LowerAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

}  // namespace

bool IsProtectedOperation(std::string_view body) {
  // "GetProfile" also covers "GetProfiles"; the encoder name covers its plural
  // and the options call.
  return Has(body, "GetStreamUri") || Has(body, "GetProfile") || Has(body, "GetSnapshotUri") ||
         Has(body, "GetVideoEncoderConfiguration");
}

std::string ExtractElementText(std::string_view xml, std::string_view tag) {
  size_t pos = xml.find(":" + std::string(tag));
  if (pos == std::string_view::npos) pos = xml.find("<" + std::string(tag));
  if (pos == std::string_view::npos) return {};
  size_t close = xml.find('>', pos);
  if (close == std::string_view::npos || xml[close - 1] == '/') return {};
  size_t end = xml.find('<', close + 1);
  if (end == std::string_view::npos) return {};
  std::string_view text = xml.substr(close + 1, end - close - 1);
  constexpr std::string_view kBlank = " \t\r\n";
  size_t first = text.find_first_not_of(kBlank);
  if (first == std::string_view::npos) return {};
  size_t last = text.find_last_not_of(kBlank);
  return std::string(text.substr(first, last - first + 1));
}

bool CheckWsSecurity(const OnvifService& service, std::string_view body) {
  if (service.password.empty()) return false;
  std::string name = ExtractElementText(body, "Username>");
  std::string given = ExtractElementText(body, "Password");
  if (name.empty() || given.empty()) return false;
  if (LowerAscii(name) != LowerAscii(service.user)) return false;

  std::string nonce = ExtractElementText(body, "Nonce");
  std::string created = ExtractElementText(body, "Created>");
  // An element with attributes and no prefix (<Created xmlns="...">, as the
  // Node.js onvif client writes it) escapes the tag above; without this its
  // correct digests would be refused.
  if (created.empty()) created = ExtractElementText(body, "Created ");
  if (Has(body, "#PasswordText") || nonce.empty() || created.empty()) {
    return ConstantTimeEquals(given, service.password);
  }
  std::string digest = Base64Encode(Sha1Digest(Base64Decode(nonce) + created + service.password));
  // Some clients send the plain password even with a nonce and a creation time.
  return ConstantTimeEquals(given, digest) || ConstantTimeEquals(given, service.password);
}

bool CheckHttpAuth(std::string_view request, std::string_view method, std::string_view realm, std::string_view nonce,
                   std::string_view user, std::string_view password) {
  return CheckHttpAuthorization(request, {method, realm, nonce, user, password}, kOnvifHttpAuth);
}

}  // namespace lcx
