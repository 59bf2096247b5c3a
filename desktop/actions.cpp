#include "desktop/actions.h"

#include <algorithm>
#include <cstdlib>

#include "core/credentials.h"
#include "core/log.h"
#include "platform/system.h"
#include "security/digest.h"
#include "security/http_auth.h"
#include "security/protect.h"
#include "video/stream_producer.h"

namespace lcx {
namespace {

std::string Clamped(const std::string& typed, int32_t low, int32_t high) {
  return std::to_string(std::clamp(ParseLeadingInt(typed), low, high));
}

const char* Flag(bool on) { return on ? "1" : "0"; }

bool ValidName(const std::string& name) { return !name.empty() && name.size() <= 48; }

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

void AppendUtf8(std::string& out, unsigned long cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x110000) {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

std::string DecodeEntity(const std::string& name) {
  static const struct { const char* name; const char* text; } kNamed[] = {
      {"amp", "&"}, {"lt", "<"}, {"gt", ">"}, {"quot", "\""}, {"apos", "'"},
      {"nbsp", " "}, {"laquo", "«"}, {"raquo", "»"}, {"mdash", "—"}, {"ndash", "–"}, {"copy", "©"},
  };
  if (name.size() > 1 && name[0] == '#') {
    const bool hex = name[1] == 'x' || name[1] == 'X';
    const unsigned long cp = std::strtoul(name.c_str() + (hex ? 2 : 1), nullptr, hex ? 16 : 10);
    std::string out;
    AppendUtf8(out, cp);
    return out;
  }
  for (const auto& e : kNamed)
    if (name == e.name) return e.text;
  return "&" + name + ";";
}

// Lower-case tag name at `lt` ("<p class=..>" -> "p", "</li>" -> "/li").
std::string TagName(const std::string& html, size_t lt) {
  std::string name;
  for (size_t i = lt + 1; i < html.size(); ++i) {
    const char c = html[i];
    if (c == '>' || c == ' ' || c == '\t' || c == '\n' || c == '\r' || (c == '/' && !name.empty())) break;
    name += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return name;
}

}  // namespace

AdminFields AdminFieldsFromConfig(const ConfigMap& c) {
  AdminFields f;
  f.main_width = GetInt(c, "main_width", 0);
  f.fps = std::to_string(GetInt(c, "fps", 10));
  f.bitrate = std::to_string(GetInt(c, "bitrate", 2000));
  f.substream = GetInt(c, "substream", 1) != 0;
  f.sub_width = GetInt(c, "sub_width", 640);
  f.sub_bitrate = std::to_string(GetInt(c, "sub_bitrate", 512));
  f.rtsp_port = std::to_string(GetInt(c, "rtsp_port", 554));
  f.onvif_port = std::to_string(GetInt(c, "onvif_port", 8000));
  f.web_port = std::to_string(GetInt(c, "web_port", 8080));
  f.web_admin = GetInt(c, "web_admin", 1) != 0;
  f.stream_auth = GetInt(c, "stream_auth", 0) != 0;
  f.device_name = GetString(c, "device_name", "Lumicast");
  return f;
}

ConfigMap ApplyUpdates(const AdminFields& f) {
  ConfigMap u{
      {"main_width", std::to_string(std::max(f.main_width, 0))},
      {"fps", Clamped(f.fps, 1, 60)},
      {"bitrate", Clamped(f.bitrate, 256, 16384)},
      {"substream", Flag(f.substream)},
      {"sub_width", std::to_string(std::max(f.sub_width, 1))},
      {"sub_bitrate", Clamped(f.sub_bitrate, 64, 2048)},
      {"rtsp_port", Clamped(f.rtsp_port, 1, 65535)},
      {"onvif_port", Clamped(f.onvif_port, 1, 65535)},
      {"web_port", Clamped(f.web_port, 1, 65535)},
      {"web_admin", Flag(f.web_admin)},
      {"stream_auth", Flag(f.stream_auth)},
  };
  if (ValidName(f.device_name)) u["device_name"] = f.device_name;
  return u;
}

bool CheckDesktopLogin(const ConfigMap& config, const std::string& user, const std::string& password) {
  // No lock rule here: an undecryptable password is empty and never matches.
  const std::string plain = UnprotectString(GetString(config, "admin_pass", "admin"));
  return CheckUserPassword(user, password, GetString(config, "admin_user", "admin"), plain);
}

CredentialsOutcome ChangeCredentials(const std::string& user, const std::string& password,
                                     const std::string& confirm) {
  const std::string stored_user = GetString(LoadConfig(ConfigPath()), "admin_user", "admin");
  const std::string new_user = ValidName(user) ? user : stored_user;
  if (password.empty() && confirm.empty()) {
    if (new_user == stored_user) return CredentialsOutcome::kNothingToChange;
    return SaveConfigKeys({{"admin_user", new_user}}) ? CredentialsOutcome::kSaved
                                                      : CredentialsOutcome::kSaveFailed;
  }
  if (password != confirm) return CredentialsOutcome::kPasswordsDiffer;
  if (password.size() > 64) return CredentialsOutcome::kPasswordTooLong;
  return SaveAdminCredentials(new_user, password) ? CredentialsOutcome::kSaved
                                                  : CredentialsOutcome::kSaveFailed;
}

const Text& MessageFor(CredentialsOutcome outcome) {
  switch (outcome) {
    case CredentialsOutcome::kSaved: return txt::kCredentialsSaved;
    case CredentialsOutcome::kNothingToChange: return txt::kNothingToChange;
    case CredentialsOutcome::kPasswordsDiffer: return txt::kPasswordsDiffer;
    case CredentialsOutcome::kPasswordTooLong: return txt::kPasswordTooLong;
    case CredentialsOutcome::kSaveFailed: break;
  }
  return txt::kSaveFailed;
}

RecoveryOutcome RecoverWithCode(const std::string& code, const DesktopHooks& hooks) {
  if (code.find_first_not_of(" \t\r\n") == std::string::npos) return RecoveryOutcome::kEmptyCode;
  if (!hooks.verify_recovery_code(code, hooks.machine_id())) return RecoveryOutcome::kInvalidCode;
  if (!SaveConfigKeys({{"admin_user", "admin"}, {"admin_pass", "admin"}})) return RecoveryOutcome::kSaveFailed;
  // Left raised, the flag would lock the plain "admin" at the next start.
  if (!SetPasswordProtectedFlag(false)) {
    LogLine("Desktop: login reset, but the protected-password flag could not be cleared\n");
    return RecoveryOutcome::kSaveFailed;
  }
  return RecoveryOutcome::kRecovered;
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

bool EulaAccepted(const ConfigMap& config) { return GetString(config, "eula_accepted", "0") == "1"; }
bool SaveEulaAccepted() { return SaveConfigKeys({{"eula_accepted", "1"}}); }

std::string WriteEulaFile(const std::string& html) {
  const std::string path = TempDir() + "/Lumicast_eula.html";
  return WriteFileSynced(path, html) ? path : std::string();
}

std::string EulaPlainText(const std::string& html, Language lang) {
  // The page holds one article per language; without them, all of the body.
  const std::string marker = std::string("<article id=\"") + LanguageKey(lang) + "\"";
  size_t begin = html.find(marker);
  size_t end = begin == std::string::npos ? std::string::npos : html.find("</article>", begin);
  if (begin == std::string::npos || end == std::string::npos) {
    begin = html.find("<body");
    if (begin == std::string::npos) begin = 0;
    end = html.size();
  }

  static const char* const kBlocks[] = {"p", "/p", "h1", "/h1", "h2", "/h2", "h3", "/h3", "li", "/li",
                                        "div", "/div", "br", "ul", "/ul", "ol", "/ol", "section", "/section"};
  static const char* const kSkipped[] = {"style", "script", "svg", "nav", "head"};
  std::string out;
  auto newline = [&out] {
    while (!out.empty() && out.back() == ' ') out.pop_back();
    if (!out.empty() && out.back() != '\n') out += '\n';
  };
  for (size_t i = begin; i < end;) {
    const char c = html[i];
    if (c == '<') {
      const std::string name = TagName(html, i);
      const size_t close = html.find('>', i);
      if (close == std::string::npos) break;
      i = close + 1;
      if (std::find_if(std::begin(kSkipped), std::end(kSkipped),
                       [&](const char* s) { return name == s; }) != std::end(kSkipped)) {
        const size_t skip = html.find("</" + name, i);
        i = skip == std::string::npos ? end : html.find('>', skip) + 1;
        continue;
      }
      if (name == "h2" || name == "h3") {
        newline();
        if (!out.empty()) out += '\n';  // a blank line before each heading
      } else if (std::find_if(std::begin(kBlocks), std::end(kBlocks),
                              [&](const char* s) { return name == s; }) != std::end(kBlocks)) {
        newline();
      }
      if (name == "li") out += "• ";
      continue;
    }
    if (c == '&') {
      const size_t semi = html.find(';', i);
      if (semi != std::string::npos && semi - i <= 10) {
        out += DecodeEntity(html.substr(i + 1, semi - i - 1));
        i = semi + 1;
        continue;
      }
    }
    if (c == '\n' || c == '\r' || c == '\t' || c == ' ') {
      if (!out.empty() && out.back() != ' ' && out.back() != '\n') out += ' ';
    } else {
      out += c;
    }
    ++i;
  }
  newline();
  while (!out.empty() && out.front() == '\n') out.erase(out.begin());
  return out;
}

}  // namespace lcx
