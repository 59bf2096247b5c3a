// What the host's network looks like to a recorder that asks the camera:
// the interface behind an address (name, MAC, prefix, MTU), the host name,
// the resolver's servers and the default gateway. Read from getifaddrs,
// /sys/class/net, /etc/resolv.conf and /proc/net/route; the parsers of the
// two text files are pure so tests give them their own texts.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lcx {

struct InterfaceDetails {
  std::string name;
  std::string mac;  // lower-case "aa:bb:cc:dd:ee:ff"; zeros for loopback
  int prefix_length = 0;
  int mtu = 0;
};
// The interface that holds the IPv4 address `ipv4`; nothing when none does.
std::optional<InterfaceDetails> InterfaceOfAddress(const std::string& ipv4);

// Every address of every interface (IPv4 dotted, IPv6 without brackets or
// zone), loopback included; empty when getifaddrs fails.
std::vector<std::string> AllInterfaceAddresses();

// gethostname(); empty on failure.
std::string HostName();

struct ResolverConfig {
  std::vector<std::string> nameservers;  // IPv4 only, in file order
  std::vector<std::string> search_domains;
};
ResolverConfig ParseResolvConf(std::string_view text);
ResolverConfig ReadResolverConfig();  // /etc/resolv.conf; empty when unreadable

// The IPv4 default gateway in /proc/net/route form, preferring the one on
// `interface_name`; empty when there is none.
std::string ParseDefaultGateway(std::string_view route_table, std::string_view interface_name);
std::string DefaultGateway(std::string_view interface_name);

}  // namespace lcx
