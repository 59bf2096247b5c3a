// The per-installation values the machine identifier and the password
// protection key are derived from. Every user reads the same, without root.
#pragma once

#include <string>

namespace lcx {

std::string ReadMachineGuid();     // /etc/machine-id, else /var/lib/dbus/machine-id; "" when neither
std::string ReadProductId();       // no equivalent on Linux: always ""
std::string ReadVolumeSerialHex();  // low 32 bits of statfs("/").f_fsid, 8 upper-case hex digits

// Per-user persistent flag file $XDG_CONFIG_HOME/Halvorix/LCX/<name>.
std::string UserFlagPath(const std::string& name);
std::string ReadUserFlag(const std::string& name);  // "" when missing
bool WriteUserFlag(const std::string& name, const std::string& value);

}  // namespace lcx
