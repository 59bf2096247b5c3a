#include "web/web_guard.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstring>

namespace lcx {
namespace {

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

void AddName(std::vector<std::string>& names, std::string_view name) {
  std::string lower = Lower(Trim(name));
  while (!lower.empty() && lower.back() == '.') lower.pop_back();
  if (!lower.empty()) names.push_back(std::move(lower));
}

// An address literal in its binary form, so "::1" and "0:0::1" are one.
struct Address {
  int family = 0;
  unsigned char bytes[16] = {};
  bool operator==(const Address& other) const {
    return family == other.family && std::memcmp(bytes, other.bytes, sizeof bytes) == 0;
  }
};

std::optional<Address> ParseAddress(const std::string& text) {
  Address a;
  if (::inet_pton(AF_INET, text.c_str(), a.bytes) == 1) {
    a.family = AF_INET;
    return a;
  }
  if (::inet_pton(AF_INET6, text.c_str(), a.bytes) == 1) {
    a.family = AF_INET6;
    return a;
  }
  return std::nullopt;
}

bool IsMappedIpv4(const Address& a) {
  static const unsigned char kPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
  return a.family == AF_INET6 && std::memcmp(a.bytes, kPrefix, sizeof kPrefix) == 0;
}

bool IsLoopback(const Address& a) {
  if (a.family == AF_INET) return a.bytes[0] == 127;
  static const unsigned char kOne[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
  if (IsMappedIpv4(a)) return a.bytes[12] == 127;
  return std::memcmp(a.bytes, kOne, sizeof kOne) == 0;
}

bool PortText(std::string_view port) {
  if (port.empty() || port.size() > 5) return false;
  for (char c : port) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// "scheme://authority" of a URL, or "" when it has no such prefix.
std::string_view OriginOfUrl(std::string_view url) {
  const size_t scheme_end = url.find("://");
  if (scheme_end == std::string_view::npos) return {};
  const size_t end = url.find_first_of("/?#", scheme_end + 3);
  return url.substr(0, end);
}

bool OwnOrigin(std::string_view origin, std::string_view host) {
  for (std::string_view scheme : {"http://", "https://"}) {
    if (origin.size() == scheme.size() + host.size() && EqualsIgnoreCase(origin.substr(0, scheme.size()), scheme) &&
        EqualsIgnoreCase(origin.substr(scheme.size()), host))
      return true;
  }
  return false;
}

}  // namespace

HostPolicy MakeHostPolicy(std::string_view host_name, std::string_view web_hosts,
                          std::vector<std::string> addresses) {
  HostPolicy policy;
  policy.addresses = std::move(addresses);
  AddName(policy.names, "localhost");
  if (!Trim(host_name).empty()) {
    AddName(policy.names, host_name);
    AddName(policy.names, std::string(Trim(host_name)) + ".local");
  }
  while (!web_hosts.empty()) {
    const size_t comma = web_hosts.find(',');
    AddName(policy.names, web_hosts.substr(0, comma));
    if (comma == std::string_view::npos) break;
    web_hosts.remove_prefix(comma + 1);
  }
  return policy;
}

std::optional<std::string> HostOfAuthority(std::string_view authority) {
  for (char c : authority) {
    if (static_cast<unsigned char>(c) <= 32 || c == 127 || c == '/' || c == '@' || c == '\\') return std::nullopt;
  }
  std::string_view host = authority;
  std::string_view rest;
  if (!host.empty() && host.front() == '[') {
    const size_t close = host.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    rest = host.substr(close + 1);
    host = host.substr(1, close - 1);
    if (!ParseAddress(std::string(host)) || ParseAddress(std::string(host))->family != AF_INET6) return std::nullopt;
  } else {
    const size_t colon = host.find(':');
    if (colon != std::string_view::npos) {
      rest = host.substr(colon);
      host = host.substr(0, colon);
    }
  }
  if (!rest.empty() && (rest.front() != ':' || !PortText(rest.substr(1)))) return std::nullopt;
  std::string lower = Lower(host);
  if (!lower.empty() && lower.back() == '.' && lower.front() != '[') lower.pop_back();
  if (lower.empty()) return std::nullopt;
  return lower;
}

bool HostAllowed(const HostPolicy& policy, const RequestHead& head, std::string_view local_address) {
  const std::vector<std::string_view> fields = head.FindAll("Host");
  if (fields.size() != 1) return false;
  const std::optional<std::string> host = HostOfAuthority(fields.front());
  if (!host) return false;
  if (const std::optional<Address> address = ParseAddress(*host)) {
    if (IsLoopback(*address)) return true;
    auto same = [&](std::string_view text) {
      const std::optional<Address> other = ParseAddress(std::string(text));
      return other && *other == *address;
    };
    if (same(local_address)) return true;
    for (const std::string& own : policy.addresses) {
      if (same(own)) return true;
    }
    return false;
  }
  for (const std::string& name : policy.names) {
    if (name == *host) return true;
  }
  return false;
}

bool SameOriginRequest(const RequestHead& head) {
  if (const auto site = head.Find("Sec-Fetch-Site"); site && EqualsIgnoreCase(*site, "cross-site")) return false;
  const std::vector<std::string_view> hosts = head.FindAll("Host");
  const std::string_view host = hosts.size() == 1 ? hosts.front() : std::string_view();
  const std::vector<std::string_view> origins = head.FindAll("Origin");
  if (origins.size() > 1) return false;
  if (origins.size() == 1) return OwnOrigin(origins.front(), host);
  const std::vector<std::string_view> referers = head.FindAll("Referer");
  if (referers.size() > 1) return false;
  if (referers.size() == 1) return OwnOrigin(OriginOfUrl(referers.front()), host);
  return true;
}

std::string PeerKey(std::string_view peer_address) {
  const std::optional<Address> address = ParseAddress(std::string(peer_address));
  if (!address) return std::string(peer_address);
  char text[INET6_ADDRSTRLEN] = {};
  if (address->family == AF_INET) {
    ::inet_ntop(AF_INET, address->bytes, text, sizeof text);
    return text;
  }
  if (IsMappedIpv4(*address)) {
    ::inet_ntop(AF_INET, address->bytes + 12, text, sizeof text);
    return text;
  }
  unsigned char prefix[16] = {};
  std::memcpy(prefix, address->bytes, 8);
  ::inet_ntop(AF_INET6, prefix, text, sizeof text);
  return std::string(text) + "/64";
}

}  // namespace lcx
