#include "desktop/actions.h"

#include <algorithm>
#include <cstdlib>

#include "core/credentials.h"
#include "core/log.h"
#include "core/setting_table.h"
#include "platform/private_files.h"
#include "platform/system.h"
#include "security/digest.h"
#include "security/http_auth.h"
#include "security/protect.h"
#include "video/stream_producer.h"

namespace lcx {
namespace {

std::string Clamped(const char* key, const std::string& typed) {
  return ClampedSettingText(key, ParseLeadingInt(typed));
}

const char* Flag(bool on) { return FlagText(on); }

// A desktop entry's Exec word: quoted, with the characters the quoting
// reserves escaped, then the backslashes of that escaped once more for the
// value syntax; "%" is doubled for the field codes.
std::string ExecQuoted(const std::string& path) {
  std::string quoted = "\"";
  for (char c : path) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
    quoted += c;
  }
  quoted += '"';
  std::string out;
  for (char c : quoted) {
    if (c == '\\') out += "\\\\";
    else if (c == '%') out += "%%";
    else out += c;
  }
  return out;
}

}  // namespace

AdminFields AdminFieldsFromConfig(const ConfigMap& c, const SettingDefaults& defaults) {
  auto number = [&](const char* key) { return std::to_string(SettingInt(c, key, defaults)); };
  AdminFields f;
  f.main_width = SettingInt(c, "main_width");
  f.fps = number("fps");
  f.bitrate = number("bitrate");
  f.substream = SettingFlag(c, "substream");
  f.sub_width = SettingInt(c, "sub_width");
  f.sub_bitrate = number("sub_bitrate");
  f.rtsp_port = number("rtsp_port");
  f.onvif_port = number("onvif_port");
  f.web_port = number("web_port");
  f.web_admin = SettingFlag(c, "web_admin");
  f.web_tls = SettingFlag(c, "web_tls");
  f.stream_auth = SettingFlag(c, "stream_auth");
  f.device_name = SettingText(c, "device_name");
  f.monitor = SettingText(c, "monitor");
  f.push_url = SettingText(c, "push_url");
  f.motion_sensitivity = number("motion_sensitivity");
  f.motion_hold_s = number("motion_hold_s");
  return f;
}

ConfigMap ApplyUpdates(const AdminFields& f) {
  ConfigMap u{
      {"main_width", ClampedSettingText("main_width", f.main_width)},
      {"fps", Clamped("fps", f.fps)},
      {"bitrate", Clamped("bitrate", f.bitrate)},
      {"substream", Flag(f.substream)},
      {"sub_width", ClampedSettingText("sub_width", f.sub_width)},
      {"sub_bitrate", Clamped("sub_bitrate", f.sub_bitrate)},
      {"rtsp_port", Clamped("rtsp_port", f.rtsp_port)},
      {"onvif_port", Clamped("onvif_port", f.onvif_port)},
      {"web_port", Clamped("web_port", f.web_port)},
      {"web_admin", Flag(f.web_admin)},
      {"web_tls", Flag(f.web_tls)},
      {"stream_auth", Flag(f.stream_auth)},
      {"motion_sensitivity", Clamped("motion_sensitivity", f.motion_sensitivity)},
      {"motion_hold_s", Clamped("motion_hold_s", f.motion_hold_s)},
  };
  if (ValidSettingName("device_name", f.device_name)) u["device_name"] = f.device_name;
  if (ValidSettingName("monitor", f.monitor)) u["monitor"] = f.monitor;
  if (ValidSettingName("push_url", f.push_url)) u["push_url"] = f.push_url;
  return u;
}

const Text* InvalidFieldMessage(const AdminFields& f) {
  if (!ValidSettingName("device_name", f.device_name)) return &txt::kInvalidDeviceName;
  if (!ValidSettingName("monitor", f.monitor)) return &txt::kInvalidMonitor;
  if (!ValidSettingName("push_url", f.push_url)) return &txt::kInvalidPushUrl;
  return nullptr;
}

bool CheckDesktopLogin(const ConfigMap& config, const std::string& user, const std::string& password) {
  // No lock rule here: an undecryptable password is empty and never matches.
  const std::string plain = UnprotectString(SettingText(config, "admin_pass"));
  return CheckUserPassword(user, password, SettingText(config, "admin_user"), plain);
}

namespace {
// A new password ends the web panel's sessions: the relaunch that follows
// would otherwise load the ones a restart saved.
void EndWebSessions() { RemoveFile(GetDataFolder() + "/sessions.dat"); }
}  // namespace

bool FactoryPasswordInForce(const ConfigMap& config) {
  return UnprotectString(SettingText(config, "admin_pass")) == kFactoryPassword;
}

FactoryPasswordOutcome ReplaceFactoryPassword(const std::string& password, const std::string& confirm) {
  switch (CheckNewPassword(password, confirm)) {
    case NewPasswordProblem::kMismatch: return FactoryPasswordOutcome::kPasswordsDiffer;
    case NewPasswordProblem::kInvalid: return FactoryPasswordOutcome::kInvalidPassword;
    case NewPasswordProblem::kFactory: return FactoryPasswordOutcome::kStillFactory;
    case NewPasswordProblem::kShort: return FactoryPasswordOutcome::kTooShort;
    case NewPasswordProblem::kNone: break;
  }
  const std::string user = SettingText(LoadConfig(ConfigPath()), "admin_user");
  if (!SaveAdminCredentials(user, password)) return FactoryPasswordOutcome::kSaveFailed;
  EndWebSessions();
  return FactoryPasswordOutcome::kSaved;
}

const Text& MessageFor(FactoryPasswordOutcome outcome) {
  switch (outcome) {
    case FactoryPasswordOutcome::kSaved: return txt::kCredentialsSaved;
    case FactoryPasswordOutcome::kPasswordsDiffer: return txt::kPasswordsDiffer;
    case FactoryPasswordOutcome::kInvalidPassword: return txt::kInvalidPassword;
    case FactoryPasswordOutcome::kStillFactory: return txt::kPasswordIsFactory;
    case FactoryPasswordOutcome::kTooShort: return txt::kPasswordTooShort;
    case FactoryPasswordOutcome::kSaveFailed: break;
  }
  return txt::kSaveFailed;
}

CredentialsOutcome ChangeCredentials(const std::string& user, const std::string& password,
                                     const std::string& confirm) {
  const std::string stored_user = SettingText(LoadConfig(ConfigPath()), "admin_user");
  // An empty field keeps the stored name, which stays usable even when an
  // older rule let it in; a new one must follow the rule the web panel
  // checks too (it once was kept silently and the password saved under it).
  const std::string new_user = user.empty() ? stored_user : user;
  if (new_user != stored_user && !ValidSettingName("admin_user", new_user)) {
    return CredentialsOutcome::kInvalidUserName;
  }
  if (password.empty() && confirm.empty()) {
    if (new_user == stored_user) return CredentialsOutcome::kNothingToChange;
    return SaveConfigKeys({{"admin_user", new_user}}) ? CredentialsOutcome::kSaved : CredentialsOutcome::kSaveFailed;
  }
  if (password != confirm) return CredentialsOutcome::kPasswordsDiffer;
  if (password.size() > kMaxPasswordBytes) return CredentialsOutcome::kPasswordTooLong;
  if (!ValidPassword(password)) return CredentialsOutcome::kInvalidPassword;
  if (!SaveAdminCredentials(new_user, password)) return CredentialsOutcome::kSaveFailed;
  EndWebSessions();
  return CredentialsOutcome::kSaved;
}

const Text& MessageFor(CredentialsOutcome outcome) {
  switch (outcome) {
    case CredentialsOutcome::kSaved: return txt::kCredentialsSaved;
    case CredentialsOutcome::kNothingToChange: return txt::kNothingToChange;
    case CredentialsOutcome::kPasswordsDiffer: return txt::kPasswordsDiffer;
    case CredentialsOutcome::kPasswordTooLong: return txt::kPasswordTooLong;
    case CredentialsOutcome::kInvalidUserName: return txt::kInvalidUserName;
    case CredentialsOutcome::kInvalidPassword: return txt::kInvalidPassword;
    case CredentialsOutcome::kSaveFailed: break;
  }
  return txt::kSaveFailed;
}

RecoveryOutcome RecoverWithCode(const std::string& code, const DesktopHooks& hooks) {
  if (code.find_first_not_of(" \t\r\n") == std::string::npos) return RecoveryOutcome::kEmptyCode;
  if (!hooks.verify_recovery_code(code, hooks.machine_id())) return RecoveryOutcome::kInvalidCode;
  return ResetAdminCredentialsAt(ConfigPath(), "Desktop") ? RecoveryOutcome::kRecovered
                                                           : RecoveryOutcome::kSaveFailed;
}

const Text& MessageFor(RecoveryOutcome outcome) {
  switch (outcome) {
    case RecoveryOutcome::kRecovered: return txt::kRecovered;
    case RecoveryOutcome::kEmptyCode: return txt::kEnterCode;
    case RecoveryOutcome::kInvalidCode: return txt::kInvalidCode;
    case RecoveryOutcome::kSaveFailed: break;
  }
  return txt::kSaveFailed;
}

bool FactoryReset() { return WriteDefaultConfig(ConfigTemplate::kDesktop); }

bool ToggleStreamPaused() {
  // One atomic flip, so a pause set by the web panel meanwhile is not lost.
  bool was = StreamPaused.load();
  while (!StreamPaused.compare_exchange_weak(was, !was)) {
  }
  const bool paused = !was;
  // The flag acts at once; a failed save only means the next start forgets it.
  SaveConfigKeys({{"stream_on", Flag(!paused)}});
  return paused;
}

bool SaveShowIcon(bool shown) { return SaveConfigKeys({{"show_icon", Flag(shown)}}); }
bool SaveLanguage(Language lang) { return SaveConfigKeys({{"lang", LanguageKey(lang)}}); }

std::string AutostartPath() { return UserConfigDir() + "/autostart/Lumicast.desktop"; }

std::string AutostartEntryText(const std::string& exe_path, const std::string& exe_dir) {
  return "[Desktop Entry]\n"
         "Type=Application\n"
         "Name=Lumicast\n"
         "Comment=Lumicast\n"
         "Exec=" + ExecQuoted(exe_path) + " --background\n"
         "Path=" + exe_dir + "\n"
         "Terminal=false\n"
         "X-GNOME-Autostart-enabled=true\n";
}

bool AutostartEnabled() { return FileExists(AutostartPath()); }

bool SetAutostart(bool on, const std::string& exe_path, const std::string& exe_dir) {
  const std::string path = AutostartPath();
  if (!on) {
    RemoveFile(path);
    return !FileExists(path);
  }
  MakeDirectories(UserConfigDir() + "/autostart");
  return WriteFileSynced(path, AutostartEntryText(exe_path, exe_dir));
}

bool EulaAccepted(const ConfigMap& config) { return SettingText(config, "eula_accepted") == "1"; }
bool SaveEulaAccepted() { return SaveConfigKeys({{"eula_accepted", "1"}}); }

std::string WriteEulaFile(const std::string& html) {
  // A fresh name in a folder of ours: a fixed name in a shared folder could be
  // a link planted by another account.
  return WriteUniqueFile(RuntimeDir(), "Lumicast_eula-", ".html", html);
}

}  // namespace lcx
