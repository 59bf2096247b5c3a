// UsernameToken and HTTP checks on the ONVIF port; the only shared state is
// the set of used tokens, under its mutex.
#include "onvif/onvif_auth.h"

#include <chrono>

#include "core/log.h"
#include "onvif/onvif_service.h"
#include "platform/system.h"
#include "security/digest.h"

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

// Digits at text[at, at + n) as a number; nothing when one is not a digit.
std::optional<int> Digits(std::string_view text, size_t at, size_t n) {
  if (at + n > text.size()) return std::nullopt;
  int value = 0;
  for (size_t i = at; i < at + n; ++i) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
int64_t DaysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

}  // namespace

OnvifClock SystemOnvifClock() {
  return {[] { return static_cast<int64_t>(BootTickMs() / 1000); },
          [] {
            return static_cast<int64_t>(std::chrono::duration_cast<std::chrono::seconds>(
                                            std::chrono::system_clock::now().time_since_epoch())
                                            .count());
          }};
}

bool RememberToken(SeenTokens& seen, const std::string& key, int64_t forget_after_s, int64_t now_s) {
  std::lock_guard lock(seen.mutex);
  // Oldest first; an entry stuck behind a longer-lived one only costs room.
  while (!seen.order.empty() && (seen.order.front().second < now_s || seen.order.size() >= seen.capacity)) {
    seen.keys.erase(seen.order.front().first);
    seen.order.pop_front();
  }
  if (!seen.keys.insert(key).second) return false;
  seen.order.emplace_back(key, forget_after_s);
  return true;
}

std::optional<int64_t> ParseXsdDateTime(std::string_view t) {
  auto year = Digits(t, 0, 4), month = Digits(t, 5, 2), day = Digits(t, 8, 2);
  auto hour = Digits(t, 11, 2), minute = Digits(t, 14, 2), second = Digits(t, 17, 2);
  if (!year || !month || !day || !hour || !minute || !second || t[4] != '-' || t[7] != '-' || t[10] != 'T' ||
      t[13] != ':' || t[16] != ':' || *month < 1 || *month > 12 || *day < 1 || *day > 31 || *hour > 23 ||
      *minute > 59 || *second > 60) {
    return std::nullopt;
  }
  size_t at = 19;
  if (at < t.size() && t[at] == '.') {
    ++at;
    size_t digits = at;
    while (at < t.size() && t[at] >= '0' && t[at] <= '9') ++at;
    if (at == digits) return std::nullopt;
  }
  int64_t offset_s = 0;
  if (at < t.size() && t[at] == 'Z') {
    ++at;
  } else if (at < t.size() && (t[at] == '+' || t[at] == '-')) {
    auto oh = Digits(t, at + 1, 2), om = Digits(t, at + 4, 2);
    if (!oh || !om || t[at + 3] != ':' || *oh > 14 || *om > 59) return std::nullopt;
    offset_s = (t[at] == '+' ? 1 : -1) * (*oh * 3600 + *om * 60);
    at += 6;
  }
  if (at != t.size()) return std::nullopt;
  return DaysFromCivil(*year, *month, *day) * 86400 + *hour * 3600 + *minute * 60 + *second - offset_s;
}

bool IsProtectedOperation(std::string_view body) {
  // "GetProfile" also covers "GetProfiles"; the encoder name covers its plural
  // and the options call, the source configuration name its plural. Besides
  // streams and profiles: how the host's network is set up, and who may log
  // in. Then what changes something (the profiles, the clock, a restart)
  // and the motion events. GetServices, like the time and the device
  // information, stays open: clients read it before they know whether to
  // sign.
  static constexpr std::string_view kProtected[] = {
      "GetStreamUri", "GetProfile", "GetSnapshotUri", "GetVideoEncoderConfiguration",
      "GetVideoSourceConfiguration", "GetCompatibleVideoEncoderConfigurations",
      "GetGuaranteedNumberOfVideoEncoderInstances", "GetServiceCapabilities", "GetNetworkInterfaces",
      "GetHostname", "GetDNS", "GetNTP", "GetNetworkDefaultGateway", "GetNetworkProtocols", "GetUsers",
      "GetOSD", "CreateProfile", "DeleteProfile", "SetSystemDateAndTime", "SystemReboot", "GetEventProperties",
      "CreatePullPointSubscription", "PullMessages", "Renew", "Unsubscribe", "SetSynchronizationPoint",
      "MulticastStreaming",
  };
  for (std::string_view name : kProtected) {
    if (Has(body, name)) return true;
  }
  return false;
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

bool CheckWsSecurity(const OnvifService& service, std::string_view body, OnvifAuthState& state) {
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
  const std::string nonce_bytes = Base64Decode(nonce);
  std::string digest = Base64Encode(Sha1Digest(nonce_bytes + created + service.password));
  // Some clients send the plain password even with a nonce and a creation time.
  if (!ConstantTimeEquals(given, digest)) return ConstantTimeEquals(given, service.password);

  // A digest proves only that someone once knew the password: it must be
  // recent and never seen before, or a captured request would work for ever.
  const int64_t now = state.clock.unix_s();
  std::optional<int64_t> made = ParseXsdDateTime(created);
  if (!made || *made < now - kWsSecurityWindowS || *made > now + kWsSecurityWindowS) {
    LogLine("ONVIF: WS-Security token created at %s, outside %lld min of our clock, refused\n", created.c_str(),
            static_cast<long long>(kWsSecurityWindowS / 60));
    return false;
  }
  // The decoded nonce, not its text: Base64 padding or stray characters must
  // not make a replay look new.
  if (!RememberToken(state.seen, HexLower(nonce_bytes) + " " + created, *made + kWsSecurityWindowS, now)) {
    LogLine("ONVIF: WS-Security token used before, refused\n");
    return false;
  }
  return true;
}

HttpAuthResult CheckHttpAuth(const OnvifService& service, const RequestHead& head, std::string_view method,
                             const OnvifAuthState& state) {
  return CheckHttpAuthorizationNonce(head.Find("Authorization").value_or(""), method, kOnvifRealm,
                                     {service.digest_secret, state.clock.monotonic_s()},
                                     service.user, service.password, kOnvifHttpAuth);
}

std::string OnvifDigestNonce(const OnvifService& service, const OnvifAuthState& state) {
  return MakeDigestNonce({service.digest_secret, state.clock.monotonic_s()});
}

}  // namespace lcx
