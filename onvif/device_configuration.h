// The device calls recorders read besides identity and time: the network
// settings of the advertised interface (with its MAC address), host name,
// DNS, NTP, gateway, the protocols and their ports, the users (never a
// password) and the device service's capabilities. Answered from
// OnvifService, which start-up filled from the host. Pure.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "onvif/soap_envelope.h"

namespace lcx {

struct OnvifService;

// The device service's capabilities element (tds:Capabilities).
std::string DeviceServiceCapabilitiesXml();
// The answer to the device operation `name`, or nothing when this module
// does not know it.
std::optional<OperationAnswer> AnswerDeviceOperation(const OnvifService& service, std::string_view name);

}  // namespace lcx
