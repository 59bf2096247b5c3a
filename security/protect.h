// User-bound protection of the administrator password (and of the web
// session file): AES-256-GCM under a key derived from the machine's own
// identifier sources and the user's secret file (platform/machine_sources),
// stored as "enc:" + Base64. Only the account whose secret it is can
// decrypt; a blob from another machine or account or a damaged one cannot.
// Blobs of the old machine-only key still read, and are rewritten by the
// next save (ReprotectString).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace lcx {

// "enc:" + Base64(blob), or nullopt when the text cannot be protected.
std::optional<std::string> ProtectString(std::string_view plain);
// Plain text of a stored value: "enc:" values are decrypted ("" when that
// fails or the blob is empty); anything else is returned unchanged.
std::string UnprotectString(std::string_view stored);

// A readable "enc:" value made with the old machine-only key, protected
// anew; nullopt for anything else (new values, plain text, damaged blobs).
std::optional<std::string> ReprotectString(std::string_view stored);
bool ProtectedTheOldWay(std::string_view stored);

// Per-user flag "a protected password was set": true only for exactly "1".
bool PasswordProtected();
// Writes "1" or "0"; true when the flag now reads as `on` (a failed write
// over a flag that already says so changes nothing that matters).
[[nodiscard]] bool SetPasswordProtectedFlag(bool on);

// 0x01 "LOCKED-" + machine identifier: stands in for the password while
// logins are locked; nobody can type it.
std::string LockedPasswordMarker();

struct ResolvedPassword {
  std::string plain;   // the password in force, or the locked marker
  bool locked = false;
};
// The start-up tamper rule: an "enc:" value that does not decrypt, or a plain
// value while the flag says one was protected, locks the logins.
ResolvedPassword ResolveAdminPassword(std::string_view stored, bool flag_protected);

// Test seam: replaces where the key material comes from (normally the machine
// sources). A source that yields nullopt makes protection unavailable.
using KeySourceFn = std::optional<std::string> (*)();
void SetProtectionKeySourceForTesting(KeySourceFn source);  // nullptr restores

}  // namespace lcx
