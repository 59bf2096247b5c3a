#include "core/config.h"

#include <climits>
#include <mutex>
#include <vector>

#include "core/log.h"
#include "core/setting_table.h"
#include "platform/private_files.h"
#include "platform/system.h"
#include "security/protect.h"

namespace lcx {
namespace {

// Guards the read-modify-rename of the configuration file within this process.
std::mutex g_config_write_mutex;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Key of a line as the parser sees it, or false for blank, comment and
// lines without "=" after the first non-blank character.
bool SplitLine(std::string_view line, std::string_view* key, std::string_view* value) {
  size_t first = 0;
  while (first < line.size() && IsBlank(line[first])) ++first;
  if (first == line.size() || line[first] == '#') return false;
  size_t eq = line.find('=', first);
  if (eq == std::string_view::npos) return false;
  size_t key_end = eq;
  while (key_end > first && IsBlank(line[key_end - 1])) --key_end;
  *key = line.substr(first, key_end - first);
  size_t v = eq + 1;
  while (v < line.size() && IsBlank(line[v])) ++v;
  // A value of blanks only (it can only end in a tab) is kept as it stands.
  *value = v == line.size() ? line.substr(eq + 1) : line.substr(v);
  return true;
}

std::vector<std::string_view> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t nl = text.find('\n', start);
    if (nl == std::string_view::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, nl - start));
    start = nl + 1;
  }
  return lines;
}

ConfigSaveResult ReplaceWithBytes(const std::string& path, std::string_view bytes) {
  switch (ReplaceFileContents(path, bytes)) {
    case FileWriteResult::kWritten: return ConfigSaveResult::kSaved;
    case FileWriteResult::kOpenFailed: return ConfigSaveResult::kOpenFailed;
    case FileWriteResult::kWriteFailed: return ConfigSaveResult::kWriteFailed;
    case FileWriteResult::kMoveFailed: break;
  }
  return ConfigSaveResult::kMoveFailed;
}

}  // namespace

std::string GetDataFolder() {
  std::string base;
  if (auto pd = GetEnv("ProgramData")) {
    base = *pd;
  } else if (auto xdg = GetEnv("XDG_DATA_HOME"); xdg && !xdg->empty()) {
    base = *xdg;
  } else {
    std::string home = GetEnv("HOME").value_or("/tmp");
    MakeDirectories(home + "/.local/share");
    base = home + "/.local/share";
  }
  std::string folder = base + "/Halvorix";
  // It holds the password and the live sessions: the user's alone.
  if (!EnsurePrivateFolder(folder)) {
    static std::once_flag logged;
    std::call_once(logged, [&] { LogLine("Config: %s is not a private folder of this user\n", folder.c_str()); });
  }
  return folder;
}

std::string ConfigPath() { return GetDataFolder() + "/lcx.cfg"; }

int32_t ParseLeadingInt(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > static_cast<int64_t>(INT32_MAX) + 1) value = static_cast<int64_t>(INT32_MAX) + 1;
  }
  if (negative) value = -value;
  if (value > INT32_MAX) value = INT32_MAX;
  if (value < INT32_MIN) value = INT32_MIN;
  return static_cast<int32_t>(value);
}

ConfigMap ParseConfig(std::string_view text) {
  ConfigMap map;
  for (std::string_view line : SplitLines(text)) {
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n' || line.back() == ' ')) {
      line.remove_suffix(1);
    }
    std::string_view key, value;
    if (!SplitLine(line, &key, &value)) continue;
    map[std::string(key)] = std::string(value);
  }
  return map;
}

ConfigMap LoadConfig(const std::string& path) {
  std::string text;
  if (!ReadWholeFile(path, text)) return {};
  return ParseConfig(text);
}

int32_t GetInt(const ConfigMap& map, const std::string& key, int32_t fallback) {
  auto it = map.find(key);
  return it == map.end() ? fallback : ParseLeadingInt(it->second);
}

std::string GetString(const ConfigMap& map, const std::string& key, const std::string& fallback) {
  auto it = map.find(key);
  return it == map.end() ? fallback : it->second;
}

std::optional<std::string> ConfigUpdateProblem(const ConfigMap& updates) {
  auto has_line_break = [](std::string_view t) { return t.find_first_of("\r\n") != std::string_view::npos; };
  for (const auto& [key, value] : updates) {
    // A key that would not read back as itself loses the setting, or sets another.
    if (key.empty() || has_line_break(key) || key.find('=') != std::string::npos) {
      return "a key is empty or holds a line break or \"=\"";
    }
    // The value is not quoted, so a line break in it would start a line of its own.
    if (has_line_break(value)) return "the value of " + key + " holds a line break";
  }
  return std::nullopt;
}

std::string ApplyConfigUpdates(std::string_view current, const ConfigMap& updates) {
  std::string out;
  std::map<std::string, bool> written;
  for (std::string_view line : SplitLines(current)) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    std::string_view key, value;
    // The key is found as the parser finds it, trailing spaces dropped first.
    std::string_view trimmed = line;
    while (!trimmed.empty() && trimmed.back() == ' ') trimmed.remove_suffix(1);
    auto it = SplitLine(trimmed, &key, &value) ? updates.find(std::string(key)) : updates.end();
    if (it != updates.end()) {
      out += it->first + " = " + it->second;
      written[it->first] = true;
    } else {
      out.append(line);
    }
    out += "\r\n";
  }
  for (const auto& [key, value] : updates) {
    if (!written[key]) out += key + " = " + value + "\r\n";
  }
  return out;
}

ConfigSaveResult SaveConfigKeysResultAt(const std::string& path, const ConfigMap& updates) {
  if (auto problem = ConfigUpdateProblem(updates)) {
    LogLine("Config: nothing saved: %s\n", problem->c_str());
    return ConfigSaveResult::kRefused;
  }
  std::lock_guard<std::mutex> lock(g_config_write_mutex);
  std::string current;
  ReadWholeFile(path, current);  // a missing file gives no lines
  // A password protected by the old machine-only key (any local account
  // could derive it) is protected anew by whichever save comes next.
  ConfigMap all = updates;
  if (!all.count("admin_pass")) {
    if (auto renewed = ReprotectString(GetString(ParseConfig(current), "admin_pass", ""))) all["admin_pass"] = *renewed;
  }
  return ReplaceWithBytes(path, ApplyConfigUpdates(current, all));
}

bool SaveConfigKeysAt(const std::string& path, const ConfigMap& updates) {
  return SaveConfigKeysResultAt(path, updates) == ConfigSaveResult::kSaved;
}

bool SaveConfigKeys(const ConfigMap& updates) { return SaveConfigKeysAt(ConfigPath(), updates); }

std::string DefaultConfigText(ConfigTemplate which) {
  std::string out = which == ConfigTemplate::kWeb ? "# إعدادات محرّك Lumicast" : "# Lumicast config";
  out += "\r\n";
  for (const SettingRow& row : SettingTable()) {
    if (!row.template_line) continue;
    out += row.template_line;
    out += "\r\n";
  }
  return out;
}

bool WriteDefaultConfigAt(const std::string& path, ConfigTemplate which) {
  bool ok;
  {
    std::lock_guard<std::mutex> lock(g_config_write_mutex);
    ok = ReplaceWithBytes(path, DefaultConfigText(which)) == ConfigSaveResult::kSaved;
  }
  // Only a restore that took place clears the flag; a failed one changes nothing.
  if (!ok) return false;
  // A flag left raised would lock the restored plain "admin" at the next
  // start: report the restore as failed so it is retried.
  if (!SetPasswordProtectedFlag(false)) {
    LogLine("Defaults restored, but the protected-password flag could not be cleared; logins stay locked\n");
    return false;
  }
  return true;
}

bool WriteDefaultConfig(ConfigTemplate which) { return WriteDefaultConfigAt(ConfigPath(), which); }

bool SeedConfigFromCoreDat(const std::string& config_path, const std::string& exe_dir) {
  std::string existing;
  if (ReadWholeFile(config_path, existing)) return false;
  std::string seed;
  if (!ReadWholeFile(exe_dir + "/core.dat", seed)) return false;
  return WriteFileSynced(config_path, seed);
}

}  // namespace lcx
