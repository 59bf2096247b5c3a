// UDP sockets of one RTP viewer: a bound pair of neighbouring ports (RTP on
// the even one, RTCP above it), batched sends and reads that never block.
// Each pair belongs to one connection thread; no locks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/net.h"
#include "platform/unique_fd.h"

namespace lcx {

struct UdpPortPair {
  UniqueFd rtp;   // bound to `port`
  UniqueFd rtcp;  // bound to `port` + 1
  uint16_t port = 0;
};

// Binds two IPv4 UDP sockets on all addresses at an even port chosen by the
// kernel and the odd port above it. False, with errno in *error, when no
// pair could be had after a few tries.
bool OpenUdpPortPair(UdpPortPair* pair, int* error);

// The IPv4 address of a connected socket's peer (network byte order); 0
// when it has none or is not IPv4.
uint32_t PeerIpv4(int fd);

// Fixes the socket's destination (address in network byte order, port in
// host order), so that send() needs no address and errors come back.
bool ConnectDatagram(int fd, uint32_t address, uint16_t port);

// Sends each datagram in `datagrams` (a connected socket) with as few system
// calls as possible; false when the kernel refused one for a reason other
// than the peer's port being closed (which a viewer that is leaving causes).
bool SendDatagrams(int fd, const std::string_view* datagrams, size_t count);

// The IPv4 multicast group `text` names (dotted, 224.0.0.0/4) in network
// byte order; false for anything else.
bool ParseMulticastGroup(const std::string& text, uint32_t* address);
// How many routers the socket's multicast datagrams may cross (1: this link).
bool SetMulticastTtl(int fd, int ttl);

// One waiting datagram into `buffer`: its length (at most `capacity`), 0 when
// none waits, below 0 on failure. Never blocks.
long ReceiveDatagramNow(int fd, void* buffer, size_t capacity, DatagramPeer* from);

}  // namespace lcx
