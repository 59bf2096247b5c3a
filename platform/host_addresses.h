// Every address this machine's interfaces hold (IPv4 and IPv6, link-local
// IPv6 left out: it means nothing without its interface), as text, from
// getifaddrs. Read afresh on each call; no state.
#pragma once

#include <string>
#include <vector>

namespace lcx {

std::vector<std::string> HostAddresses();

}  // namespace lcx
