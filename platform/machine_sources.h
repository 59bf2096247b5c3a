// The per-installation values the machine identifier and the password
// protection key are derived from: the machine's values every user reads
// alike, and the per-user secret only its owner can read.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace lcx {

std::string ReadMachineGuid();     // /etc/machine-id, else /var/lib/dbus/machine-id; "" when neither
std::string ReadProductId();       // no equivalent on Linux: always ""
std::string ReadVolumeSerialHex();  // low 32 bits of statfs("/").f_fsid, 8 upper-case hex digits

// Per-user persistent flag file $XDG_CONFIG_HOME/Halvorix/LCX/<name>; the
// folder and its parent are made 0700 (tightened when looser), the files 0600.
std::string UserFlagPath(const std::string& name);
std::string ReadUserFlag(const std::string& name);  // "" when missing
bool WriteUserFlag(const std::string& name, const std::string& value);
// Makes the flag folder private; false when it or its parent belongs to another account.
bool MakeUserFlagFolder();

// The per-user secret of the protection key: 32 random bytes in the flag
// folder's file "key", made at first need; nullopt when it cannot be read or made.
constexpr size_t kUserKeySize = 32;
std::optional<std::string> ReadUserKey();

}  // namespace lcx
