#include "platform/net_info.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <sstream>

#include "platform/system.h"

namespace lcx {
namespace {

bool IsDottedIpv4(const std::string& text) {
  in_addr addr{};
  return ::inet_pton(AF_INET, text.c_str(), &addr) == 1;
}

int PrefixLength(const sockaddr* mask) {
  if (!mask || mask->sa_family != AF_INET) return 0;
  uint32_t bits = ntohl(reinterpret_cast<const sockaddr_in*>(mask)->sin_addr.s_addr);
  int n = 0;
  while (bits & 0x80000000u) {
    ++n;
    bits <<= 1;
  }
  return n;
}

std::string FirstLine(const std::string& path) {
  std::string text;
  if (!ReadWholeFile(path, text)) return {};
  size_t end = text.find_first_of("\r\n");
  return end == std::string::npos ? text : text.substr(0, end);
}

}  // namespace

std::optional<InterfaceDetails> InterfaceOfAddress(const std::string& ipv4) {
  in_addr wanted{};
  if (::inet_pton(AF_INET, ipv4.c_str(), &wanted) != 1) return std::nullopt;
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return std::nullopt;
  std::unique_ptr<ifaddrs, void (*)(ifaddrs*)> owned(list, ::freeifaddrs);
  for (ifaddrs* it = list; it; it = it->ifa_next) {
    if (!it->ifa_name || !it->ifa_addr || it->ifa_addr->sa_family != AF_INET) continue;
    if (reinterpret_cast<const sockaddr_in*>(it->ifa_addr)->sin_addr.s_addr != wanted.s_addr) continue;
    InterfaceDetails details;
    details.name = it->ifa_name;
    details.prefix_length = PrefixLength(it->ifa_netmask);
    const std::string sys = "/sys/class/net/" + details.name;
    details.mac = FirstLine(sys + "/address");
    details.mtu = std::atoi(FirstLine(sys + "/mtu").c_str());
    return details;
  }
  return std::nullopt;
}

std::vector<std::string> AllInterfaceAddresses() {
  std::vector<std::string> out;
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return out;
  std::unique_ptr<ifaddrs, void (*)(ifaddrs*)> owned(list, ::freeifaddrs);
  for (ifaddrs* it = list; it; it = it->ifa_next) {
    if (!it->ifa_addr) continue;
    char text[INET6_ADDRSTRLEN] = {};
    if (it->ifa_addr->sa_family == AF_INET) {
      ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(it->ifa_addr)->sin_addr, text, sizeof text);
    } else if (it->ifa_addr->sa_family == AF_INET6) {
      ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(it->ifa_addr)->sin6_addr, text, sizeof text);
    } else {
      continue;
    }
    out.emplace_back(text);
  }
  return out;
}

std::string HostName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return {};
  return name;
}

ResolverConfig ParseResolvConf(std::string_view text) {
  ResolverConfig out;
  std::istringstream lines{std::string(text)};
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream words(line);
    std::string key, value;
    if (!(words >> key) || key[0] == '#' || key[0] == ';') continue;
    if (key == "nameserver") {
      if (words >> value && IsDottedIpv4(value)) out.nameservers.push_back(value);
    } else if (key == "search" || key == "domain") {
      // The last of them wins, as in the resolver.
      out.search_domains.clear();
      while (words >> value) out.search_domains.push_back(value);
    }
  }
  return out;
}

ResolverConfig ReadResolverConfig() {
  std::string text;
  if (!ReadWholeFile("/etc/resolv.conf", text)) return {};
  return ParseResolvConf(text);
}

std::string ParseDefaultGateway(std::string_view route_table, std::string_view interface_name) {
  // Iface Destination Gateway Flags ...; hexadecimal in the host's order. A
  // default route has destination 0 and the RTF_GATEWAY flag (0x2).
  std::istringstream lines{std::string(route_table)};
  std::string line, found;
  std::getline(lines, line);  // header
  while (std::getline(lines, line)) {
    std::istringstream words(line);
    std::string iface, dest, gateway, flags;
    if (!(words >> iface >> dest >> gateway >> flags)) continue;
    const unsigned long bits = std::strtoul(flags.c_str(), nullptr, 16);
    if (dest != "00000000" || !(bits & 0x2)) continue;
    in_addr addr{};
    addr.s_addr = static_cast<uint32_t>(std::strtoul(gateway.c_str(), nullptr, 16));
    char text[INET_ADDRSTRLEN] = {};
    if (addr.s_addr == 0 || !::inet_ntop(AF_INET, &addr, text, sizeof text)) continue;
    if (iface == interface_name) return text;
    if (found.empty()) found = text;
  }
  return found;
}

std::string DefaultGateway(std::string_view interface_name) {
  std::string table;
  if (!ReadWholeFile("/proc/net/route", table)) return {};
  return ParseDefaultGateway(table, interface_name);
}

}  // namespace lcx
