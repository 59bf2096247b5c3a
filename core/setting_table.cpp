#include "core/setting_table.h"

#include <algorithm>
#include <array>

namespace lcx {
namespace {

using K = SettingKind;
using R = NameRule;

// The template lines keep the spacing the default file has always had.
constexpr std::array<SettingRow, 32> kTable{{
    {"rtsp_port", K::kInteger, 1, 65535, 8554, "", R::kNone, "rtsp_port  = 554", kBothEditors},
    {"onvif_port", K::kInteger, 1, 65535, 8000, "", R::kNone, "onvif_port = 8000", kBothEditors},
    {"fps", K::kInteger, 1, 60, 10, "", R::kNone, "fps        = 10", kBothEditors},
    {"bitrate", K::kInteger, 256, 16384, 2000, "", R::kNone, "bitrate    = 2000", kBothEditors},
    {"stream", K::kName, 0, 0, 0, "screenlive", R::kToken, "stream     = screenlive", kWebPanel},
    {"main_width", K::kInteger, 0, 4096, 0, "", R::kNone, "main_width = 0", kBothEditors},
    {"substream", K::kFlag, 0, 1, 1, "", R::kNone, "substream   = 1", kBothEditors},
    {"sub_stream", K::kName, 0, 0, 0, "screensub", R::kToken, "sub_stream  = screensub", kWebPanel},
    {"sub_width", K::kInteger, 320, 1280, 640, "", R::kNone, "sub_width   = 640", kBothEditors},
    {"sub_bitrate", K::kInteger, 64, 2048, 512, "", R::kNone, "sub_bitrate = 512", kBothEditors},
    {"stream_on", K::kFlag, 0, 1, 1, "", R::kNone, "stream_on  = 1", kNoEditor},
    {"stream_auth", K::kFlag, 0, 1, 0, "", R::kNone, "stream_auth = 0", kBothEditors},
    {"web_admin", K::kFlag, 0, 1, 1, "", R::kNone, "web_admin  = 1", kBothEditors},
    {"web_port", K::kInteger, 1, 65535, 8080, "", R::kNone, "web_port   = 8080", kBothEditors},
    // Further names the panel answers to (comma-separated), beside its own.
    {"web_hosts", K::kText, 0, 0, 0, "", R::kNone, nullptr, kNoEditor},
    // HTTPS on the panel's port; without a certificate and key named here, a
    // self-signed pair beside the configuration, made at the first start.
    {"web_tls", K::kFlag, 0, 1, 0, "", R::kNone, nullptr, kBothEditors},
    {"web_cert", K::kText, 0, 0, 0, "", R::kNone, nullptr, kNoEditor},
    {"web_key", K::kText, 0, 0, 0, "", R::kNone, nullptr, kNoEditor},
    {"admin_user", K::kName, 0, 0, 0, "admin", R::kToken, "admin_user = admin", kBothEditors},
    {"admin_pass", K::kPassword, 0, 0, 0, "admin", R::kNone, "admin_pass = admin", kBothEditors},
    {"device_name", K::kName, 0, 0, 0, "Lumicast", R::kDeviceName, "device_name = Lumicast", kBothEditors},
    // Left out of the template: a restore brings back the icon, Arabic and the agreement question.
    {"show_icon", K::kFlag, 0, 1, 1, "", R::kNone, nullptr, kAdminWindow},
    {"lang", K::kText, 0, 0, 0, "ar", R::kNone, nullptr, kNoEditor},
    {"eula_accepted", K::kText, 0, 0, 0, "0", R::kNone, nullptr, kNoEditor},
    {"capture", K::kText, 0, 0, 0, "auto", R::kNone, nullptr, kNoEditor},
    // The X11 output to capture (empty: the primary); a portal lets the user pick.
    {"monitor", K::kName, 0, 0, 0, "", R::kMonitor, nullptr, kBothEditors},
    // Percent of the picture changed within a second that counts as motion (0:
    // none), and how long motion lasts after the last such second.
    {"motion_sensitivity", K::kInteger, 0, 100, 2, "", R::kNone, nullptr, kBothEditors},
    {"motion_hold_s", K::kInteger, 1, 600, 5, "", R::kNone, nullptr, kBothEditors},
    // The shared multicast sender: a group of the administratively scoped
    // range, RTP on an even port (the sub-stream two above), RTCP above each.
    {"multicast_group", K::kText, 0, 0, 0, "239.255.42.42", R::kNone, nullptr, kNoEditor},
    {"multicast_port", K::kInteger, 1024, 65532, 5560, "", R::kNone, nullptr, kNoEditor},
    {"multicast_ttl", K::kInteger, 1, 255, 1, "", R::kNone, nullptr, kNoEditor},
    // rtsp://[user:pass@]host[:port]/path of a media server to publish the
    // main stream into; empty: no publishing.
    {"push_url", K::kName, 0, 0, 0, "", R::kRtspUrl, nullptr, kBothEditors},
}};

constexpr size_t kMaxTokenBytes = 32;
constexpr size_t kMaxDeviceNameBytes = 48;
constexpr size_t kMaxMonitorBytes = 64;
constexpr size_t kMaxRtspUrlBytes = 255;

bool AsciiBetween(std::string_view text, char low, char high) {
  return std::all_of(text.begin(), text.end(), [&](char c) { return c >= low && c <= high; });
}

bool TokenByte(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
}

// Valid UTF-8 (shortest forms, no surrogates) without C0, DEL or C1 controls.
bool PrintableUtf8(std::string_view text) {
  for (size_t i = 0; i < text.size();) {
    const auto b = static_cast<unsigned char>(text[i]);
    if (b < 0x80) {
      if (b < 0x20 || b == 0x7F) return false;
      ++i;
      continue;
    }
    size_t length;
    uint32_t cp;
    if (b >= 0xC2 && b <= 0xDF) length = 2, cp = b & 0x1F;
    else if (b >= 0xE0 && b <= 0xEF) length = 3, cp = b & 0x0F;
    else if (b >= 0xF0 && b <= 0xF4) length = 4, cp = b & 0x07;
    else return false;
    if (i + length > text.size()) return false;
    for (size_t k = 1; k < length; ++k) {
      const auto cont = static_cast<unsigned char>(text[i + k]);
      if ((cont & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (cont & 0x3F);
    }
    const bool overlong = (length == 3 && cp < 0x800) || (length == 4 && cp < 0x10000);
    if (overlong || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF) || (cp >= 0x80 && cp <= 0x9F)) return false;
    i += length;
  }
  return true;
}

// A port word is digits only: "--background" first must not mean port 0.
bool PortWord(const std::string& word, int32_t* port) {
  if (word.empty() || word.size() > 5 || word.find_first_not_of("0123456789") != std::string::npos) return false;
  *port = ParseLeadingInt(word);
  return *port >= 1 && *port <= 65535;
}

}  // namespace

SettingDefaults SettingDefaultsFromArgs(const std::vector<std::string>& args) {
  SettingDefaults d;
  int32_t port = 0;
  if (args.size() > 0 && PortWord(args[0], &port)) d.rtsp_port = port;
  if (args.size() > 1 && PortWord(args[1], &port)) d.onvif_port = port;
  return d;
}

std::span<const SettingRow> SettingTable() { return kTable; }

const SettingRow& SettingFor(std::string_view key) {
  for (const SettingRow& row : kTable) {
    if (key == row.key) return row;
  }
  // A misspelt key reads as nothing rather than as another setting.
  static constexpr SettingRow kUnknown{"", K::kText, 0, 0, 0, "", R::kNone, nullptr, kNoEditor};
  return kUnknown;
}

int32_t SettingNumberDefault(const SettingRow& row, const SettingDefaults& defaults) {
  const std::string_view key = row.key;
  if (key == "rtsp_port") return defaults.rtsp_port;
  if (key == "onvif_port") return defaults.onvif_port;
  return row.number_default;
}

int32_t ClampSetting(std::string_view key, int32_t value) {
  const SettingRow& row = SettingFor(key);
  return row.kind == K::kInteger ? std::clamp(value, row.min, row.max) : value;
}

int32_t SettingInt(const ConfigMap& config, std::string_view key, const SettingDefaults& defaults) {
  const SettingRow& row = SettingFor(key);
  return ClampSetting(key, GetInt(config, row.key, SettingNumberDefault(row, defaults)));
}

bool SettingFlag(const ConfigMap& config, std::string_view key) {
  const SettingRow& row = SettingFor(key);
  return GetInt(config, row.key, row.number_default) != 0;
}

std::string SettingText(const ConfigMap& config, std::string_view key) {
  const SettingRow& row = SettingFor(key);
  return GetString(config, row.key, row.text_default);
}

std::string ClampedSettingText(std::string_view key, int32_t typed) {
  return std::to_string(ClampSetting(key, typed));
}

const char* FlagText(bool on) { return on ? "1" : "0"; }

bool ValidName(NameRule rule, std::string_view value) {
  switch (rule) {
    case NameRule::kNone:
      return true;
    case NameRule::kToken:
      return !value.empty() && value.size() <= kMaxTokenBytes && std::all_of(value.begin(), value.end(), TokenByte);
    case NameRule::kDeviceName:
      // The file drops blanks round a value, so they would not read back.
      return !value.empty() && value.size() <= kMaxDeviceNameBytes && value.front() != ' ' &&
             value.back() != ' ' && PrintableUtf8(value);
    case NameRule::kMonitor:
      return value.empty() || (value.size() <= kMaxMonitorBytes && value.front() != ' ' && value.back() != ' ' &&
                               AsciiBetween(value, ' ', '~'));
    case NameRule::kRtspUrl:
      return value.empty() ||
             (value.size() <= kMaxRtspUrlBytes && AsciiBetween(value, '!', '~') && SplitRtspUrl(value).has_value());
  }
  return false;
}

bool ValidSettingName(std::string_view key, std::string_view value) { return ValidName(SettingFor(key).rule, value); }

NewPasswordProblem CheckNewPassword(std::string_view password, std::string_view again) {
  if (password != again) return NewPasswordProblem::kMismatch;
  if (!ValidPassword(password)) return NewPasswordProblem::kInvalid;
  if (password == kFactoryPassword) return NewPasswordProblem::kFactory;
  if (password.size() < kMinNewPasswordBytes) return NewPasswordProblem::kShort;
  return NewPasswordProblem::kNone;
}

bool ValidPassword(std::string_view value) {
  if (value.empty() || value.size() > kMaxPasswordBytes) return false;
  return std::none_of(value.begin(), value.end(),
                      [](char c) { return static_cast<unsigned char>(c) < 32 || c == 127; });
}

std::optional<RtspUrlParts> SplitRtspUrl(std::string_view text) {
  constexpr std::string_view kScheme = "rtsp://";
  if (text.substr(0, kScheme.size()) != kScheme) return std::nullopt;
  std::string_view rest = text.substr(kScheme.size());
  const size_t slash = rest.find('/');
  std::string_view authority = rest.substr(0, slash);
  const std::string_view path = slash == std::string_view::npos ? "/" : rest.substr(slash);
  RtspUrlParts parts;
  // The last "@": a password may hold one.
  const size_t at = authority.rfind('@');
  if (at != std::string_view::npos) {
    std::string_view userinfo = authority.substr(0, at);
    const size_t colon = userinfo.find(':');
    parts.user = std::string(userinfo.substr(0, colon));
    if (colon != std::string_view::npos) parts.password = std::string(userinfo.substr(colon + 1));
    authority = authority.substr(at + 1);
  }
  const size_t colon = authority.rfind(':');
  parts.host = std::string(authority.substr(0, colon));
  if (colon != std::string_view::npos) {
    std::string_view port = authority.substr(colon + 1);
    if (port.empty() || port.size() > 5 || !AsciiBetween(port, '0', '9')) return std::nullopt;
    const int value = ParseLeadingInt(port);
    if (value < 1 || value > 65535) return std::nullopt;
    parts.port = static_cast<uint16_t>(value);
  }
  if (parts.host.empty()) return std::nullopt;
  parts.url = "rtsp://" + std::string(authority) + std::string(path);
  return parts;
}

std::string CaptureSetting(const ConfigMap& config) {
  const std::string value = SettingText(config, "capture");
  return value == "x11" || value == "portal" ? value : "auto";
}

}  // namespace lcx
