#include "core/credentials.h"

#include "core/config.h"
#include "core/log.h"
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

}  // namespace lcx
