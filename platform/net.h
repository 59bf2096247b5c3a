// Sockets and network adapters. Descriptors are created close-on-exec so a
// relaunched copy of the program can bind the same ports.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/unique_fd.h"

namespace lcx {

// One network adapter as address selection sees it.
struct AdapterRecord {
  std::string name;           // interface name, e.g. "eth0"
  std::string description;    // on Linux the interface name as well
  std::string friendly_name;  // on Linux the interface name as well
  bool up = false;
  bool loopback = false;
  bool virtual_device = false;  // no backing device (/sys/devices/virtual/net)
  bool has_gateway = false;
  std::vector<std::string> ipv4;  // unicast addresses, dotted decimal, in order
};

// Adapters in the order the kernel lists them; empty on failure.
std::vector<AdapterRecord> ListAdapters();

// IPv4 addresses of interfaces that are up and not loopback, at most 32.
std::vector<std::string> ListUpNonLoopbackIpv4();

// Listening IPv4 TCP socket on all addresses with SO_REUSEADDR. On failure
// returns an invalid fd and stores errno in *error.
UniqueFd ListenTcp(uint16_t port, int backlog, int* error);
// Port a bound socket listens on (useful after binding port 0).
int LocalPort(int fd);
// accept() that is retried on EINTR; fills the peer's dotted address.
UniqueFd AcceptClient(int listen_fd, std::string* peer_ip);

// Writes all bytes; a length below 1 succeeds at once; fails when a write
// returns 0 or less. Never raises SIGPIPE.
bool SendAll(int fd, const void* data, size_t length);
inline bool SendAll(int fd, std::string_view bytes) { return SendAll(fd, bytes.data(), bytes.size()); }

// Bytes waiting to be read (FIONREAD), or -1 when the query fails.
int BytesAvailable(int fd);
// Receive time-out on a socket; 0 disables it.
bool SetReceiveTimeoutMs(int fd, int timeout_ms);
bool SetSendTimeoutMs(int fd, int timeout_ms);

// Text of the last socket error number, for log lines.
int LastSocketError();

}  // namespace lcx
