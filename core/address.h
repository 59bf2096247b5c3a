// The one IPv4 address written into every URL the program hands out, chosen
// once at start-up, and the interfaces WS-Discovery joins its group on.
#pragma once

#include <string>
#include <vector>

#include "platform/net.h"

namespace lcx {

// True when the description or the friendly name contains a virtual-adapter
// keyword (case-insensitive), or the platform marks the device virtual.
bool IsVirtualAdapter(const AdapterRecord& adapter);
// First IPv4 address that is neither 127.0.0.1 nor link-local; "" when none.
std::string FirstUsableIpv4(const AdapterRecord& adapter);
// First real, up adapter with a gateway; else the first without; else 127.0.0.1.
std::string SelectAdvertisedAddress(const std::vector<AdapterRecord>& adapters);
std::string SelectAdvertisedAddress();
// IPv4 addresses of the interfaces that are up and not loopback (at most 32).
std::vector<std::string> ListMulticastInterfaces();

}  // namespace lcx
