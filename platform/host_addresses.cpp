#include "platform/host_addresses.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>

#include <algorithm>
#include <memory>

namespace lcx {

std::vector<std::string> HostAddresses() {
  std::vector<std::string> out;
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return out;
  std::unique_ptr<ifaddrs, decltype(&::freeifaddrs)> owned(list, ::freeifaddrs);
  for (ifaddrs* i = list; i; i = i->ifa_next) {
    if (!i->ifa_addr) continue;
    char text[INET6_ADDRSTRLEN] = {};
    if (i->ifa_addr->sa_family == AF_INET) {
      inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(i->ifa_addr)->sin_addr, text, sizeof text);
    } else if (i->ifa_addr->sa_family == AF_INET6) {
      const in6_addr& a = reinterpret_cast<sockaddr_in6*>(i->ifa_addr)->sin6_addr;
      if (IN6_IS_ADDR_LINKLOCAL(&a)) continue;
      inet_ntop(AF_INET6, &a, text, sizeof text);
    } else {
      continue;
    }
    if (text[0] && std::find(out.begin(), out.end(), text) == out.end()) out.emplace_back(text);
  }
  return out;
}

}  // namespace lcx
