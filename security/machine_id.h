// The machine identifier: SHA-256 of three per-installation values, 64
// lower-case hex digits, computed afresh on every call.
#pragma once

#include <string>

namespace lcx {

// "guid|product|SERIAL" as hashed; split out so tests can check the joining.
std::string MachineIdText(const std::string& guid, const std::string& product,
                          const std::string& serial_hex);
std::string MachineIdFromText(const std::string& text);
std::string GetMachineId();

}  // namespace lcx
