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
// returns an invalid fd, stores errno in *error and the name of the call
// that failed ("socket", "bind", "listen") in *failed_call.
UniqueFd ListenTcp(uint16_t port, int backlog, int* error, const char** failed_call = nullptr);
// Port a bound socket listens on (useful after binding port 0).
int LocalPort(int fd);
// The two ends of a connected socket as address literals (IPv4 dotted, IPv6
// without brackets); "" when the call fails.
std::string PeerAddress(int fd);
std::string SocketAddress(int fd);
// accept() that is retried on EINTR; fills the peer's dotted address.
UniqueFd AcceptClient(int listen_fd, std::string* peer_ip);
// After a failed AcceptClient: true when errno says the listener itself is
// gone (closed or shut down), which is how tests end an accept loop.
bool ListenerGone(int error);

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

// One recv(), retried on EINTR; 0 when the peer closed, < 0 on failure or
// time-out.
long ReceiveSome(int fd, void* buffer, size_t capacity);
// True when the peer has closed or reset the connection; consumes nothing
// and never blocks.
bool PeerHasClosed(int fd);
bool SetSendBufferBytes(int fd, int bytes);
bool SetNoDelay(int fd);
void ShutdownRead(int fd);
void ShutdownWrite(int fd);

// Sender of a datagram (IPv4, network byte order), to answer it.
struct DatagramPeer {
  uint32_t address = 0;
  uint16_t port = 0;
};
// IPv4 UDP socket bound to all addresses at `port`, SO_REUSEADDR set.
UniqueFd OpenUdpSocket(uint16_t port, int* error);
// Joins `group` on the interface with address `interface_ip` ("0.0.0.0":
// the default interface).
bool JoinMulticastGroup(int fd, const char* group, const char* interface_ip);
// Receives one datagram; returns its full length even when it was longer
// than `capacity` (then only `capacity` bytes are stored), < 1 on failure.
long ReceiveDatagram(int fd, void* buffer, size_t capacity, DatagramPeer* from);
bool SendDatagram(int fd, std::string_view bytes, const DatagramPeer& to);

}  // namespace lcx
