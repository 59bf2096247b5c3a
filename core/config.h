// The configuration file lcx.cfg: "key = value" lines in the data folder.
// Readers parse it on demand; editors rewrite it through "<path>.tmp" and a
// rename, so a reader sees the old file or the new one, never a mix. Rewrites
// inside this process are serialised by one mutex (web and desktop threads
// may save at the same moment).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace lcx {

using ConfigMap = std::map<std::string, std::string>;

enum class ConfigTemplate {
  kWeb,      // restore from the web panel: Arabic first line
  kDesktop,  // factory reset from the desktop: English first line
};

// $ProgramData/Halvorix, else $XDG_DATA_HOME/Halvorix (~/.local/share/...);
// created one level deep (0700, tightened when looser) on every call.
std::string GetDataFolder();
std::string ConfigPath();  // data folder + "/lcx.cfg"

// Leading decimal integer: blanks skipped, optional sign, digits; 0 without
// digits. Saturates at the int32 range.
int32_t ParseLeadingInt(std::string_view text);

ConfigMap ParseConfig(std::string_view text);
ConfigMap LoadConfig(const std::string& path);  // empty map when unreadable

int32_t GetInt(const ConfigMap& map, const std::string& key, int32_t fallback);
std::string GetString(const ConfigMap& map, const std::string& key, const std::string& fallback);

// Lines of `current` with the updates applied: changed keys' lines become
// "key = value" (every duplicate too), new keys are appended in map order,
// every line ends in CR LF.
std::string ApplyConfigUpdates(std::string_view current, const ConfigMap& updates);

// Why the updates cannot be written as they stand, or nullopt when they can:
// a key must read back as itself and no value may hold CR or LF (a user name
// "bob\r\nstream_auth = 0" would otherwise rewrite another setting).
std::optional<std::string> ConfigUpdateProblem(const ConfigMap& updates);

// Rewrites the configuration file with the updates; true when the new file
// is in place. On failure the old file is untouched and no .tmp is left;
// updates refused by ConfigUpdateProblem write nothing (the reason is logged).
bool SaveConfigKeys(const ConfigMap& updates);
bool SaveConfigKeysAt(const std::string& path, const ConfigMap& updates);

// The same rewrite, telling which step failed, for editors that show the
// administrator why nothing was saved.
enum class ConfigSaveResult {
  kSaved,
  kRefused,      // ConfigUpdateProblem: nothing written
  kOpenFailed,   // the .tmp file could not be created
  kWriteFailed,  // writing or flushing it failed (it is removed)
  kMoveFailed,   // it could not be moved over the file (it is removed)
};
ConfigSaveResult SaveConfigKeysResultAt(const std::string& path, const ConfigMap& updates);

// The bytes of a template, CR LF line ends.
std::string DefaultConfigText(ConfigTemplate which);
// Replaces the file with a template and clears the protected-password flag.
// False when the file could not be replaced (nothing changed) or when the
// flag could not be cleared (the template is in place but its plain password
// would stay locked: retry).
bool WriteDefaultConfig(ConfigTemplate which);
bool WriteDefaultConfigAt(const std::string& path, ConfigTemplate which);

// First start: copies core.dat beside the executable when the configuration
// cannot be opened. Returns true when it seeded.
bool SeedConfigFromCoreDat(const std::string& config_path, const std::string& exe_dir);

}  // namespace lcx
