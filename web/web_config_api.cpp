#include "web/web_config_api.h"

#include <array>

#include "core/log.h"
#include "security/protect.h"

namespace lcx {
namespace {

enum class Kind { kPort, kInteger, kFlag, kName, kNameWithBlank };

struct PanelSetting {
  const char* key;
  Kind kind;
  int32_t min, max;        // integers: the clamp of a save
  int32_t shown_number;    // shown when the key is absent
  const char* shown_text;  // the same for names
};

// In the order of the settings JSON; the names are checked in this order too.
constexpr std::array<PanelSetting, 15> kPanelSettings{{
    {"rtsp_port", Kind::kPort, 1, 65535, 554, nullptr},
    {"onvif_port", Kind::kPort, 1, 65535, 8000, nullptr},
    {"web_port", Kind::kPort, 1, 65535, 8080, nullptr},
    {"web_admin", Kind::kFlag, 0, 1, 1, nullptr},
    {"stream_auth", Kind::kFlag, 0, 1, 0, nullptr},
    {"fps", Kind::kInteger, 1, 60, 10, nullptr},
    {"bitrate", Kind::kInteger, 256, 16384, 2000, nullptr},
    {"stream", Kind::kName, 0, 0, 0, "screenlive"},
    {"main_width", Kind::kInteger, 0, 4096, 0, nullptr},
    {"substream", Kind::kFlag, 0, 1, 1, nullptr},
    {"sub_stream", Kind::kName, 0, 0, 0, "screensub"},
    {"sub_width", Kind::kInteger, 320, 1280, 640, nullptr},
    {"sub_bitrate", Kind::kInteger, 64, 2048, 512, nullptr},
    {"admin_user", Kind::kName, 0, 0, 0, "lcx"},
    {"device_name", Kind::kNameWithBlank, 0, 0, 0, "Lumicast"},
}};

constexpr size_t kMaxNameBytes = 32;
constexpr size_t kMaxPasswordBytes = 64;

const char kInvalidValue[] = "قيمة غير صالحة: ";
const char kInvalidPassword[] = "كلمة مرور غير صالحة";
const char kNothingToSave[] = "لا يوجد ما يُحفظ";
const char kCannotOpen[] = "تعذّر فتح ملف الإعدادات";
const char kCannotWrite[] = "تعذّر كتابة الإعدادات";
const char kCannotSave[] = "تعذّر حفظ الإعدادات";

bool IsNameByte(char c, bool blank_allowed) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '_' || (blank_allowed && c == ' ');
}

bool ValidName(const std::string& value, bool blank_allowed) {
  if (value.empty() || value.size() > kMaxNameBytes) return false;
  for (char c : value) {
    if (!IsNameByte(c, blank_allowed)) return false;
  }
  return true;
}

bool ValidPassword(const std::string& value) {
  if (value.size() > kMaxPasswordBytes) return false;
  for (char c : value) {
    if (static_cast<unsigned char>(c) < 32 || c == 127) return false;
  }
  return true;
}

bool FlagOn(const std::string& value) {
  if (value == "1" || value == "on") return true;
  if (value.size() != 4) return false;
  const char* want = "true";
  for (size_t i = 0; i < 4; ++i) {
    if ((value[i] | 0x20) != want[i]) return false;
  }
  return true;
}

const PanelSetting& Setting(std::string_view key) {
  for (const PanelSetting& s : kPanelSettings) {
    if (key == s.key) return s;
  }
  return kPanelSettings[0];  // not reached: every caller names a row
}

// A port the file holds as a plain number in range, else the default.
int32_t PortShown(const ConfigMap& config, const PanelSetting& s) {
  auto it = config.find(s.key);
  if (it == config.end() || it->second.empty() || it->second.size() > 5) return s.shown_number;
  for (char c : it->second) {
    if (c < '0' || c > '9') return s.shown_number;
  }
  int32_t port = ParseLeadingInt(it->second);
  return port >= 1 && port <= 65535 ? port : s.shown_number;
}

void AppendMember(std::string& json, const char* key, const std::string& raw_value, bool is_string) {
  if (json.size() > 1) json += ',';
  json += '"';
  json += key;
  json += "\":";
  if (is_string) {
    json += '"' + JsonEscape(raw_value) + '"';
  } else {
    json += raw_value;
  }
}

}  // namespace

std::string MainResolutionText(int screen_width, int screen_height, int32_t main_width) {
  int w = screen_width, h = screen_height;
  if (main_width >= 1 && main_width < screen_width) {
    w = main_width & ~1;
    h = static_cast<int>(static_cast<int64_t>(screen_height) * w / screen_width) & ~1;
  }
  return std::to_string(w) + "x" + std::to_string(h);
}

std::string BuildConfigJson(const ConfigMap& config, const ConfigJsonState& state) {
  auto text = [&](const PanelSetting& s) { return GetString(config, s.key, s.shown_text); };
  auto number = [&](const PanelSetting& s) {
    return std::to_string(s.kind == Kind::kPort ? PortShown(config, s) : GetInt(config, s.key, s.shown_number));
  };
  std::string rtsp_base = "rtsp://" + state.ip + ":" + number(Setting("rtsp_port")) + "/";

  std::string json = "{";
  AppendMember(json, "ip", state.ip, true);
  AppendMember(json, "version", state.version, true);
  AppendMember(json, "hwid", state.hwid, true);
  AppendMember(json, "resolution",
               MainResolutionText(state.screen_width, state.screen_height, GetInt(config, "main_width", 0)),
               true);
  AppendMember(json, "uptime", std::to_string(state.uptime_s), false);
  AppendMember(json, "rtsp_main", rtsp_base + text(Setting("stream")), true);
  AppendMember(json, "rtsp_sub", rtsp_base + text(Setting("sub_stream")), true);
  for (const PanelSetting& s : kPanelSettings) {
    if (std::string_view(s.key) == "device_name") AppendMember(json, "paused", state.paused ? "1" : "0", false);
    bool is_name = s.kind == Kind::kName || s.kind == Kind::kNameWithBlank;
    AppendMember(json, s.key, is_name ? text(s) : number(s), is_name);
  }
  return json + "}";
}

SettingsSavePlan PlanSettingsSave(const WebForm& form) {
  SettingsSavePlan plan;
  for (const PanelSetting& s : kPanelSettings) {
    auto it = form.find(s.key);
    if (it == form.end()) continue;
    const std::string& value = it->second;
    switch (s.kind) {
      case Kind::kPort:
      case Kind::kInteger: {
        int32_t v = ParseLeadingInt(value);
        plan.updates[s.key] = std::to_string(v < s.min ? s.min : v > s.max ? s.max : v);
        break;
      }
      case Kind::kFlag:
        plan.updates[s.key] = FlagOn(value) ? "1" : "0";
        break;
      case Kind::kName:
      case Kind::kNameWithBlank:
        if (!ValidName(value, s.kind == Kind::kNameWithBlank)) {
          plan.error = std::string(kInvalidValue) + s.key;
          return plan;
        }
        plan.updates[s.key] = value;
        break;
    }
  }
  // An empty new password keeps the current one.
  std::string password = FormValue(form, "admin_pass");
  if (!password.empty()) {
    if (!ValidPassword(password)) {
      plan.error = kInvalidPassword;
      return plan;
    }
    plan.new_password = password;
  }
  if (plan.updates.empty() && !plan.new_password) plan.error = kNothingToSave;
  return plan;
}

std::string WriteSettingsSave(const std::string& config_path, const SettingsSavePlan& plan) {
  if (!plan.error.empty()) return plan.error;
  ConfigMap updates = plan.updates;
  if (plan.new_password) {
    std::optional<std::string> stored = ProtectString(*plan.new_password);
    if (!stored) {
      // A plain password under a raised flag would lock every login at the next start.
      LogLine("Web: the new password could not be protected; nothing saved\n");
      return kCannotSave;
    }
    updates["admin_pass"] = *stored;
  }
  switch (SaveConfigKeysResultAt(config_path, updates)) {
    case ConfigSaveResult::kSaved:
      break;
    case ConfigSaveResult::kOpenFailed:
      LogLine("Web: could not create %s.tmp\n", config_path.c_str());
      return kCannotOpen;
    case ConfigSaveResult::kWriteFailed:
      LogLine("Web: could not write %s.tmp\n", config_path.c_str());
      return kCannotWrite;
    case ConfigSaveResult::kMoveFailed:
      LogLine("Web: could not move %s.tmp over the file\n", config_path.c_str());
      return kCannotSave;
    case ConfigSaveResult::kRefused:
      return kCannotSave;  // logged by the writer
  }
  // Raised only now that the protected value is in the file: after a failed
  // save a raised flag over the old plain password would lock every login.
  if (plan.new_password && !SetPasswordProtectedFlag(true)) {
    LogLine("Web: new password saved, but the protected-password flag could not be set\n");
    return kCannotSave;
  }
  return {};
}

std::string SaveAnswerJson(const std::string& error) {
  if (error.empty()) return "{\"ok\":true,\"needsRestart\":true}";
  return "{\"ok\":false,\"error\":\"" + JsonEscape(error) + "\"}";
}

bool ResetCredentialsToDefault(const std::string& config_path) {
  if (!SaveConfigKeysAt(config_path, {{"admin_user", "admin"}, {"admin_pass", "admin"}})) {
    LogLine("Web: could not rewrite %s; credentials not reset\n", config_path.c_str());
    return false;
  }
  // Only once the plain password is in the file: lowered over a hand-edited
  // plain password it would undo the tamper lock. Left raised, it would lock
  // the plain "admin" at the next start.
  if (!SetPasswordProtectedFlag(false)) {
    LogLine("Web: credentials reset, but the protected-password flag could not be cleared\n");
    return false;
  }
  return true;
}

std::string RestoreFailureJson() { return SaveAnswerJson(kCannotSave); }

}  // namespace lcx
