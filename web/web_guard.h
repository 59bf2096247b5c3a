// The panel's checks of who a request claims to come from, before any route
// runs: the Host it was sent to (a page that rebinds its own name to this
// machine's address still sends its name), the Origin or Referer of a state
// change, and the key a client's failed logins are counted under. Pure:
// strings in, verdicts out; the machine's addresses are handed in.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/request_head.h"

namespace lcx {

// The names and addresses the panel answers to. Loopback literals
// (127.0.0.0/8, ::1) always count: nobody off this machine reaches them.
struct HostPolicy {
  std::vector<std::string> names;      // lower case, no trailing dot
  std::vector<std::string> addresses;  // literals of this machine's interfaces
};
// "localhost", the host name, "<host name>.local" and the comma-separated
// names of web_hosts (blanks around each ignored).
HostPolicy MakeHostPolicy(std::string_view host_name, std::string_view web_hosts,
                          std::vector<std::string> addresses);

// The host of a Host value ("name", "name:port", "1.2.3.4:80", "[::1]:80"),
// lower-cased, without brackets or a trailing dot; nothing when the value
// is malformed (an empty host, a port that is not 1..5 digits, a bare IPv6
// literal, blanks or control bytes).
std::optional<std::string> HostOfAuthority(std::string_view authority);

// The request has exactly one Host field naming this machine: a policy
// name or address, a loopback literal, or `local_address` (the address the
// connection arrived on).
bool HostAllowed(const HostPolicy& policy, const RequestHead& head, std::string_view local_address);

// A state change may go on: no Sec-Fetch-Site of "cross-site", and the
// Origin (or, without one, the Referer's origin) is either absent or
// "http://" / "https://" followed by the request's own Host value. An
// Origin of "null" (sandboxed frames, data: pages) is foreign.
bool SameOriginRequest(const RequestHead& head);

// What failed logins are counted under: an IPv4 address as it is (also one
// mapped into IPv6), an IPv6 address by its /64 ("2001:db8:1:2::/64"), since
// one host commonly holds a whole /64; anything else as given.
std::string PeerKey(std::string_view peer_address);

}  // namespace lcx
