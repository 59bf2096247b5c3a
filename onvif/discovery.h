// WS-Discovery responder: every datagram on UDP 3702 that mentions "Probe"
// gets one ProbeMatches back, unicast to its sender. Passive: no Hello, no
// Bye, no filtering by type or scope. One thread owns the socket.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/unique_fd.h"

namespace lcx {

struct OnvifService;

inline constexpr int kDiscoveryPort = 3702;
inline constexpr const char* kDiscoveryGroup = "239.255.255.250";

// Text between the first ">" after "MessageID" and the next "<"; "" when
// any of the three is missing.
std::string ProbeMessageId(std::string_view datagram);
std::string BuildProbeMatches(const OnvifService& service, std::string_view relates_to);
// The answer to one datagram, or nothing when it is not a probe.
std::optional<std::string> AnswerDiscoveryDatagram(const OnvifService& service, std::string_view datagram);

// UDP socket bound to `port` on all addresses, member of the group on the
// default interface and on each multicast interface; *joined counts the
// latter. Invalid on bind failure (errno in *error).
UniqueFd OpenDiscoverySocket(int port, int* joined, int* error);
// Receives one datagram (waiting at most as long as the socket's receive
// time-out allows) and answers it; false when nothing was received.
bool ServeDiscoveryDatagram(const OnvifService& service, int fd);

// Thread body: returns only when UDP 3702 cannot be bound.
void RunDiscovery(OnvifService& service);

}  // namespace lcx
