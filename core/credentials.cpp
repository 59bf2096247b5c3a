#include "core/credentials.h"

#include "core/config.h"
#include "core/log.h"
#include "core/setting_table.h"
#include "security/protect.h"

namespace lcx {

bool SaveAdminCredentialsAt(const std::string& config_path, const std::string& user,
                            const std::string& password) {
  std::optional<std::string> stored = ProtectString(password);
  if (!stored) return false;
  if (!SaveConfigKeysAt(config_path, {{"admin_user", user}, {"admin_pass", *stored}})) return false;
  // Raised only once the protected value is in the file: a flag without it
  // would lock every login at the next start.
  if (!SetPasswordProtectedFlag(true)) {
    LogLine("New password saved, but the protected-password flag could not be set\n");
    return false;
  }
  return true;
}

bool SaveAdminCredentials(const std::string& user, const std::string& password) {
  return SaveAdminCredentialsAt(ConfigPath(), user, password);
}

bool ResetAdminCredentialsAt(const std::string& config_path, const char* area) {
  const std::string user = SettingFor("admin_user").text_default;
  const std::string pass = SettingFor("admin_pass").text_default;
  if (!SaveConfigKeysAt(config_path, {{"admin_user", user}, {"admin_pass", pass}})) {
    LogLine("%s: could not rewrite %s; credentials not reset\n", area, config_path.c_str());
    return false;
  }
  // Only once the plain password is in the file: lowered over a hand-edited
  // plain password it would undo the tamper lock. Left raised, it would lock
  // the plain "admin" at the next start.
  if (!SetPasswordProtectedFlag(false)) {
    LogLine("%s: credentials reset, but the protected-password flag could not be cleared\n", area);
    return false;
  }
  return true;
}

}  // namespace lcx
