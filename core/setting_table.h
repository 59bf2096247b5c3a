// The one table of the configuration file's settings: key, kind, default,
// range and name rule, the template line, and which editor shows it. The
// engine, the web panel and the desktop windows read every rule from here,
// so a value one editor accepts is one the other and the engine accept too.
// Pure data and pure functions; no state.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/config.h"

namespace lcx {

enum class SettingKind {
  kInteger,   // clamped into min..max
  kFlag,      // "1" / "0"; read as on when not 0
  kName,      // checked by its NameRule
  kText,      // any single-line text
  kPassword,  // plain or protected; never shown
};

enum class NameRule {
  kNone,
  // Stream paths and the user name: they go into URLs, Digest and Basic
  // headers and WS-Security tokens unescaped, so only 1..32 of A-Z a-z 0-9
  // "-" "_" (a user name with ":" could never match Basic authentication).
  kToken,
  // The device name: 1..48 bytes of valid UTF-8 without control characters,
  // not beginning or ending with a blank (Arabic works; ONVIF's scope
  // replaces what a URI cannot carry).
  kDeviceName,
  // An X11 output (RandR) name: empty for the primary monitor, else 1..64
  // printable ASCII bytes, no blank at either end (the file drops them).
  kMonitor,
  // A publishing target: empty (none), or at most 255 bytes of printable
  // ASCII without blanks (it goes onto a request line) that SplitRtspUrl
  // accepts.
  kRtspUrl,
};

// Which editor offers a setting as a field of its own.
enum EditorMask : uint8_t { kNoEditor = 0, kWebPanel = 1, kAdminWindow = 2, kBothEditors = 3 };

struct SettingRow {
  const char* key;
  SettingKind kind;
  int32_t min = 0, max = 0;        // integers
  int32_t number_default = 0;      // integers and flags, when the key is absent
  const char* text_default = "";   // names and texts
  NameRule rule = NameRule::kNone;
  const char* template_line = nullptr;  // its line in the default file, as written
  uint8_t editors = kNoEditor;
};

// The defaults that come from the command line rather than the table: the
// first and second words, when they are port numbers, give rtsp_port and
// onvif_port. An editor shows these for an absent key, since the engine
// running beside it uses them.
struct SettingDefaults {
  int32_t rtsp_port = 8554;
  int32_t onvif_port = 8000;
};
SettingDefaults SettingDefaultsFromArgs(const std::vector<std::string>& args);

// Every setting, in the order of the default file's lines (the keys that
// file leaves out last).
std::span<const SettingRow> SettingTable();
// The row of a key the table holds; for a key it lacks (a programming
// error) an empty text row whose key is "", so nothing real is read.
const SettingRow& SettingFor(std::string_view key);

// The value the engine uses: the file's integer (or the default when the key
// is absent) clamped into the row's range.
int32_t SettingInt(const ConfigMap& config, std::string_view key, const SettingDefaults& defaults = {});
bool SettingFlag(const ConfigMap& config, std::string_view key);
// The file's text, or the row's default when the key is absent.
std::string SettingText(const ConfigMap& config, std::string_view key);
// The default for an absent integer key (the command-line ports included).
int32_t SettingNumberDefault(const SettingRow& row, const SettingDefaults& defaults);

// What an editor writes: the typed number clamped, a flag as "1" / "0".
std::string ClampedSettingText(std::string_view key, int32_t typed);
int32_t ClampSetting(std::string_view key, int32_t value);
const char* FlagText(bool on);

bool ValidName(NameRule rule, std::string_view value);
bool ValidSettingName(std::string_view key, std::string_view value);
// A new administrator password: 1..64 bytes, none below 32 nor 127.
inline constexpr size_t kMaxPasswordBytes = 64;
bool ValidPassword(std::string_view value);

// The factory password's replacement, asked by both editors before anything
// else opens: equal twice, a valid password, not "admin", at least 8 bytes.
inline constexpr char kFactoryPassword[] = "admin";
inline constexpr size_t kMinNewPasswordBytes = 8;
enum class NewPasswordProblem { kNone, kMismatch, kInvalid, kFactory, kShort };
NewPasswordProblem CheckNewPassword(std::string_view password, std::string_view again);

// rtsp://[user[:pass]@]host[:port]/path taken apart; nothing for another
// scheme, an empty host or a port outside 1..65535. The one parser of
// push_url: the editors check with it, the publisher connects with it.
struct RtspUrlParts {
  std::string user, password;  // empty: none given
  std::string host;
  uint16_t port = 554;
  std::string url;  // without the credentials: what requests and logs name
};
std::optional<RtspUrlParts> SplitRtspUrl(std::string_view text);

// The `capture` setting: anything but these reads as "auto".
std::string CaptureSetting(const ConfigMap& config);

}  // namespace lcx
