// Device identity: fills OnvifService from the settings and derives what a
// recorder uses to tell this camera from any other (UUIDs, serial number,
// device name, Digest nonce) from the machine identifier. Main thread only,
// before the ONVIF threads start.
#pragma once

#include <cstdint>
#include <string>

#include "core/subsystem_settings.h"
#include "onvif/onvif_service.h"

namespace lcx {

// Copies the settings, derives the identity from GetMachineId() and reads
// the network settings of the advertised address.
void ConfigureOnvif(OnvifService& service, const OnvifSettings& settings);
// The same with the identifier and the boot tick given, for tests.
void ConfigureOnvifWithId(OnvifService& service, const OnvifSettings& settings,
                          const std::string& machine_id, uint64_t boot_tick_ms);
// "urn:uuid:" + the 32 hexadecimal digits grouped 8-4-4-4-12.
std::string UrnUuidFromHex(const std::string& hex);
// The host's network as GetNetworkInterfaces and the like report it.
OnvifNetwork ReadOnvifNetwork(const std::string& ip);
// Letters, digits, "-", "." and "_" stay; every other byte becomes "-"; the
// default or an empty name becomes "Lumicast-" + the first 4 id digits.
std::string DeviceNameFromSetting(const std::string& setting, const std::string& machine_id);

}  // namespace lcx
