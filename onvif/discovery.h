// WS-Discovery responder: a Probe on UDP 3702 gets one ProbeMatches back,
// unicast to its sender, whatever its source port (a recorder on this
// machine probes from 3702 too). Passive: it never sends a Probe, no Hello,
// no Bye, no filtering by type or scope; so only a ProbeMatches, Hello, Bye
// or a copy of an answer it sent can be its own echo, and none of those is
// answered. Each sender gets only a few answers a second, so no datagram can
// start a loop between responders or make this one an amplifier. One thread
// owns the socket and the guard.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/net.h"
#include "platform/unique_fd.h"

namespace lcx {

struct OnvifService;

inline constexpr int kDiscoveryPort = 3702;
inline constexpr const char* kDiscoveryGroup = "239.255.255.250";

// The MessageID of a Probe (entities decoded; "" when it has none), or
// nothing when the datagram is not an envelope whose header's Action is the
// Probe action and whose body holds a Probe of the discovery namespace, or
// is not well-formed as far as it is read, or its MessageID could not be
// written back as plain text.
std::optional<std::string> ParseProbe(std::string_view datagram);
// A fresh "urn:uuid:" MessageID: clients drop a message whose identifier
// they have already seen, so every answer needs its own.
std::string NewMessageId();
// `relates_to` is escaped, so the answer is well-formed whatever it holds.
std::string BuildProbeMatches(const OnvifService& service, std::string_view relates_to,
                              std::string_view message_id);
// The answer to one datagram (with MessageID `answer_id`), or nothing when
// it is not a probe.
std::optional<std::string> AnswerDiscoveryDatagram(const OnvifService& service, std::string_view datagram,
                                                   std::string_view answer_id);

// At most `per_second` answers to one sender address in a second, and at
// most `max_senders` addresses at once (spoofed sources cannot grow it).
struct DiscoveryRateLimit {
  struct Window {
    int64_t start_ms = 0;
    int count = 0;
  };
  int per_second = 5;
  size_t max_senders = 256;
  std::unordered_map<uint32_t, Window> senders;
};
// True when one more answer to `address` is allowed at `now_ms`, and counts it.
bool AllowDiscoveryAnswer(DiscoveryRateLimit& limit, uint32_t address, int64_t now_ms);

// What the loop keeps between datagrams: the budget, and digests of the
// last answers sent, so an answer that comes back is known as ours.
struct DiscoveryGuard {
  DiscoveryRateLimit limit;
  std::vector<std::string> sent;  // MD5 of the last kRememberedAnswers answers
  size_t next_sent = 0;
};
inline constexpr size_t kRememberedAnswers = 16;
void RememberAnswer(DiscoveryGuard& guard, std::string_view answer);
// True when `datagram` is byte for byte one of the remembered answers.
bool IsOwnAnswer(const DiscoveryGuard& guard, std::string_view datagram);

// UDP socket bound to `port` on all addresses, member of the group on the
// default interface and on each multicast interface; *joined counts the
// latter. Invalid on bind failure (errno in *error).
UniqueFd OpenDiscoverySocket(int port, int* joined, int* error);
// Receives one datagram (waiting at most as long as the socket's receive
// time-out allows) and answers it when it is a probe the guard lets through
// at `now_ms`; false when nothing was received.
bool ServeDiscoveryDatagram(const OnvifService& service, int fd, DiscoveryGuard& guard, int64_t now_ms);

// Thread body: returns only when UDP 3702 cannot be bound.
void RunDiscovery(OnvifService& service);

}  // namespace lcx
