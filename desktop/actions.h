// What the desktop windows do, without any window: read the fields from the
// configuration file, validate and save them, check a login, recover,
// reset, switch the stream, the icon, the language and the autostart entry.
// Every action re-reads the file; nothing here keeps settings between calls.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/config.h"
#include "core/setting_table.h"
#include "desktop/desktop_context.h"
#include "desktop/texts.h"

namespace lcx {

// The admin window's editable settings as shown: numbers as typed.
struct AdminFields {
  int32_t main_width = 0;  // one of kMainWidthChoices (or the file's own value)
  std::string fps = "10";
  std::string bitrate = "2000";
  bool substream = true;
  int32_t sub_width = 640;  // one of kSubWidthChoices (or the file's own value)
  std::string sub_bitrate = "512";
  std::string rtsp_port = "8554";
  std::string onvif_port = "8000";
  std::string web_port = "8080";
  bool web_admin = true;
  bool web_tls = false;
  bool stream_auth = false;
  std::string device_name = "Lumicast";
  std::string monitor;   // empty: the primary
  std::string push_url;  // empty: no publishing
  std::string motion_sensitivity = "2";
  std::string motion_hold_s = "5";
};

inline constexpr int32_t kMainWidthChoices[] = {0, 1920, 1280, 854, 640};
inline constexpr int32_t kSubWidthChoices[] = {854, 640, 480, 320};

// The fields as the engine reads them (core/setting_table), an absent port
// key showing the engine's default for it.
AdminFields AdminFieldsFromConfig(const ConfigMap& config, const SettingDefaults& defaults = {});
// "Apply & restart": numbers clamped into the table's ranges (those the
// engine and the web panel use), flags "1"/"0", the device name only when
// the table's rule accepts it.
ConfigMap ApplyUpdates(const AdminFields& fields);
// The message for the first text field the table's rules refuse, or nothing.
const Text* InvalidFieldMessage(const AdminFields& fields);

// The desktop login: the entered pair against `admin_user` and the plain
// `admin_pass` of the file as it is now; an empty plain password (one that
// does not decrypt) never matches. No lock rule, no delay.
bool CheckDesktopLogin(const ConfigMap& config, const std::string& user, const std::string& password);

// The password in the file is the factory "admin": the login asks for a new
// one before the admin window opens.
bool FactoryPasswordInForce(const ConfigMap& config);
enum class FactoryPasswordOutcome { kSaved, kPasswordsDiffer, kInvalidPassword, kStillFactory, kTooShort, kSaveFailed };
// The replacement under CheckNewPassword's rule, saved protected with the
// stored user name.
FactoryPasswordOutcome ReplaceFactoryPassword(const std::string& password, const std::string& confirm);
const Text& MessageFor(FactoryPasswordOutcome outcome);

enum class CredentialsOutcome {
  kSaved,
  kNothingToChange,
  kPasswordsDiffer,
  kPasswordTooLong,
  kInvalidUserName,
  kInvalidPassword,
  kSaveFailed
};
// A new user name must follow the table's rule (the stored one is kept as
// it is); with both password fields empty only the user name is saved
// (nothing to change when it is the stored one); otherwise the passwords must
// match, have at most 64 bytes and no control byte, and are saved protected
// with the flag raised.
CredentialsOutcome ChangeCredentials(const std::string& user, const std::string& password,
                                     const std::string& confirm);
const Text& MessageFor(CredentialsOutcome outcome);

enum class RecoveryOutcome { kRecovered, kEmptyCode, kInvalidCode, kSaveFailed };
// A valid code puts back admin/admin and clears the protected-password flag.
RecoveryOutcome RecoverWithCode(const std::string& code, const DesktopHooks& hooks);
const Text& MessageFor(RecoveryOutcome outcome);

// Replaces the file with the English-header template (which also clears the
// protected-password flag).
bool FactoryReset();

// Flips StreamPaused at once and saves `stream_on`; returns the new paused
// state.
bool ToggleStreamPaused();
bool SaveShowIcon(bool shown);
bool SaveLanguage(Language lang);

// The XDG autostart entry ~/.config/autostart/Lumicast.desktop.
std::string AutostartPath();
std::string AutostartEntryText(const std::string& exe_path, const std::string& exe_dir);
bool AutostartEnabled();
// Creates or deletes the entry; true when the file is as asked afterwards.
bool SetAutostart(bool on, const std::string& exe_path, const std::string& exe_dir);

// The agreement: accepted when `eula_accepted` is exactly "1".
bool EulaAccepted(const ConfigMap& config);
bool SaveEulaAccepted();
// Writes the page as $TMPDIR/Lumicast_eula.html; the path, or "" on failure.
std::string WriteEulaFile(const std::string& html);

}  // namespace lcx
