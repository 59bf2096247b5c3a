// The settings the web panel shows and edits: the settings JSON, the checks
// and clamping of a save (the rules of core/setting_table) with their Arabic
// messages for the administrator, and the rewrites of the configuration file
// behind save, restore and password recovery. The builders are pure; the
// three rewrites go through core/config (its own lock serialises writers
// inside the process).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/config.h"
#include "core/setting_table.h"
#include "web/web_request.h"

namespace lcx {

// What /config.json shows besides the file's settings.
struct ConfigJsonState {
  std::string ip, version, hwid;
  int screen_width = 0, screen_height = 0;
  uint64_t uptime_s = 0;
  bool paused = false;
  SettingDefaults defaults;  // the engine's ports for absent keys
  bool motion = false;       // the screen moves, as the motion detector last said
};

// "WxH" of the main stream for a `main_width` setting on a screen.
std::string MainResolutionText(int screen_width, int screen_height, int32_t main_width);
std::string BuildConfigJson(const ConfigMap& config, const ConfigJsonState& state);

// A /save form checked and normalised: the updates to write (the password
// not among them), the new password in clear, or the message that ends the
// save.
struct SettingsSavePlan {
  ConfigMap updates;
  std::optional<std::string> new_password;
  std::string error;  // empty when the plan may be written
};
SettingsSavePlan PlanSettingsSave(const WebForm& form);

// Writes a valid plan: the password protected into the same rewrite as the
// other keys, the protected-password flag raised once it is in the file.
// Returns "" or the administrator's message.
std::string WriteSettingsSave(const std::string& config_path, const SettingsSavePlan& plan);

// The /save answer's JSON for a result of the two steps above.
std::string SaveAnswerJson(const std::string& error);

// Password recovery: ResetAdminCredentialsAt of core/credentials, logged as
// the web panel's.
bool ResetCredentialsToDefault(const std::string& config_path);

// The answer of a restore or recovery whose rewrite failed: the program
// stays up on the old file and the page says so.
std::string RestoreFailureJson();

}  // namespace lcx
