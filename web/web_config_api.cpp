#include "web/web_config_api.h"

#include <array>

#include "core/credentials.h"
#include "core/log.h"
#include "core/setting_table.h"
#include "security/protect.h"

namespace lcx {
namespace {

// The panel's settings in the order of the settings JSON; the names are
// checked in this order too. Their rules are core/setting_table's.
constexpr std::array<const char*, 20> kPanelKeys{
    "rtsp_port", "onvif_port", "web_port", "web_admin", "web_tls", "stream_auth", "fps", "bitrate", "stream",
    "main_width", "substream", "sub_stream", "sub_width", "sub_bitrate", "admin_user", "device_name",
    "monitor", "push_url", "motion_sensitivity", "motion_hold_s",
};

const char kInvalidValue[] = "قيمة غير صالحة: ";
const char kInvalidPassword[] = "كلمة مرور غير صالحة";
const char kNothingToSave[] = "لا يوجد ما يُحفظ";
const char kCannotOpen[] = "تعذّر فتح ملف الإعدادات";
const char kCannotWrite[] = "تعذّر كتابة الإعدادات";
const char kCannotSave[] = "تعذّر حفظ الإعدادات";

bool FlagOn(const std::string& value) {
  if (value == "1" || value == "on") return true;
  if (value.size() != 4) return false;
  const char* want = "true";
  for (size_t i = 0; i < 4; ++i) {
    if ((value[i] | 0x20) != want[i]) return false;
  }
  return true;
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
  // What the engine uses, so a Save of the page as shown changes nothing.
  auto shown = [&](const SettingRow& row) {
    switch (row.kind) {
      case SettingKind::kInteger: return std::to_string(SettingInt(config, row.key, state.defaults));
      case SettingKind::kFlag: return std::string(FlagText(SettingFlag(config, row.key)));
      default: return SettingText(config, row.key);
    }
  };
  std::string rtsp_base = "rtsp://" + state.ip + ":" + shown(SettingFor("rtsp_port")) + "/";

  std::string json = "{";
  AppendMember(json, "ip", state.ip, true);
  AppendMember(json, "version", state.version, true);
  AppendMember(json, "hwid", state.hwid, true);
  AppendMember(json, "resolution",
               MainResolutionText(state.screen_width, state.screen_height, SettingInt(config, "main_width")), true);
  AppendMember(json, "uptime", std::to_string(state.uptime_s), false);
  AppendMember(json, "rtsp_main", rtsp_base + SettingText(config, "stream"), true);
  AppendMember(json, "rtsp_sub", rtsp_base + SettingText(config, "sub_stream"), true);
  // The multicast URL and where its group receives (RTP port made even, as the engine does).
  AppendMember(json, "rtsp_multicast",
               rtsp_base + SettingText(config, "stream") + "/multicast (" + SettingText(config, "multicast_group") +
                   ":" + std::to_string(SettingInt(config, "multicast_port") & ~1) + ")",
               true);
  for (const char* key : kPanelKeys) {
    const SettingRow& row = SettingFor(key);
    if (std::string_view(key) == "device_name") AppendMember(json, "paused", state.paused ? "1" : "0", false);
    AppendMember(json, key, shown(row), row.kind == SettingKind::kName);
  }
  AppendMember(json, "motion", state.motion ? "1" : "0", false);
  return json + "}";
}

SettingsSavePlan PlanSettingsSave(const WebForm& form) {
  SettingsSavePlan plan;
  for (const char* key : kPanelKeys) {
    auto it = form.find(key);
    if (it == form.end()) continue;
    const std::string& value = it->second;
    const SettingRow& row = SettingFor(key);
    switch (row.kind) {
      case SettingKind::kInteger:
        plan.updates[key] = ClampedSettingText(key, ParseLeadingInt(value));
        break;
      case SettingKind::kFlag:
        plan.updates[key] = FlagText(FlagOn(value));
        break;
      case SettingKind::kName:
        if (!ValidName(row.rule, value)) {
          plan.error = std::string(kInvalidValue) + key;
          return plan;
        }
        plan.updates[key] = value;
        break;
      case SettingKind::kText:
      case SettingKind::kPassword:
        break;  // not among the panel's keys
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

bool ResetCredentialsToDefault(const std::string& config_path) { return ResetAdminCredentialsAt(config_path, "Web"); }

std::string RestoreFailureJson() { return SaveAnswerJson(kCannotSave); }

}  // namespace lcx
