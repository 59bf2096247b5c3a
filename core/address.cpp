#include "core/address.h"

#include <algorithm>
#include <cctype>

namespace lcx {
namespace {

constexpr const char* kVirtualKeywords[] = {"virtual", "vmware",   "virtualbox", "vbox",   "hyper-v",
                                            "loopback", "pseudo", "tap",        "tunnel", "bluetooth"};

std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
  return s;
}

}  // namespace

bool IsVirtualAdapter(const AdapterRecord& adapter) {
  const std::string description = Lower(adapter.description);
  const std::string friendly = Lower(adapter.friendly_name);
  for (const char* keyword : kVirtualKeywords) {
    if (description.find(keyword) != std::string::npos || friendly.find(keyword) != std::string::npos) {
      return true;
    }
  }
  // Linux names bridges and veths freely ("docker0", "br-1a2b"); the kernel
  // tells us they have no hardware behind them.
  return adapter.virtual_device;
}

std::string FirstUsableIpv4(const AdapterRecord& adapter) {
  for (const std::string& ip : adapter.ipv4) {
    if (ip == "127.0.0.1" || ip.rfind("169.254", 0) == 0) continue;
    return ip;
  }
  return {};
}

std::string SelectAdvertisedAddress(const std::vector<AdapterRecord>& adapters) {
  std::string fallback;
  for (const AdapterRecord& adapter : adapters) {
    if (!adapter.up || adapter.loopback || IsVirtualAdapter(adapter)) continue;
    std::string ip = FirstUsableIpv4(adapter);
    if (ip.empty()) continue;
    if (adapter.has_gateway) return ip;
    if (fallback.empty()) fallback = ip;
  }
  return fallback.empty() ? std::string("127.0.0.1") : fallback;
}

std::string SelectAdvertisedAddress() { return SelectAdvertisedAddress(ListAdapters()); }

std::vector<std::string> ListMulticastInterfaces() { return ListUpNonLoopbackIpv4(); }

}  // namespace lcx
