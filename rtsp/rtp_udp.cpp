// RTP over UDP: transport choice, datagram cutting, pacing, BYE.
#include "rtsp/rtp_udp.h"

#include <utility>
#include <vector>

#include "core/config.h"  // ParseLeadingInt

namespace lcx {
namespace {

bool ParsePort(std::string_view text, uint16_t* port) {
  if (text.empty() || text.size() > 5) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  const int value = ParseLeadingInt(text);
  if (value < 1 || value > 65535) return false;
  *port = static_cast<uint16_t>(value);
  return true;
}

bool IsUdpProfile(std::string_view protocol) {
  return EqualsIgnoreCase(protocol, "RTP/AVP") || EqualsIgnoreCase(protocol, "RTP/AVP/UDP");
}

std::optional<UdpClientPorts> UnicastPorts(const TransportChoice& choice) {
  if (!IsUdpProfile(choice.protocol)) return std::nullopt;
  std::optional<UdpClientPorts> ports;
  for (const auto& [name, value] : choice.parameters) {
    if (EqualsIgnoreCase(name, "multicast")) return std::nullopt;
    if (!EqualsIgnoreCase(name, "client_port")) continue;
    const size_t dash = value.find('-');
    UdpClientPorts found;
    if (!ParsePort(std::string_view(value).substr(0, dash), &found.rtp)) return std::nullopt;
    if (dash == std::string::npos) {
      if (found.rtp == 65535) return std::nullopt;
      found.rtcp = static_cast<uint16_t>(found.rtp + 1);
    } else if (!ParsePort(std::string_view(value).substr(dash + 1), &found.rtcp)) {
      return std::nullopt;
    }
    ports = found;
  }
  return ports;
}

}  // namespace

std::optional<UdpClientPorts> WantsUdpUnicast(const RequestHead& head) {
  for (std::string_view value : head.FindAll("Transport")) {
    for (const TransportChoice& choice : ParseTransport(value)) {
      if (std::optional<UdpClientPorts> ports = UnicastPorts(choice)) return ports;
    }
  }
  return std::nullopt;
}

void ForEachInterleavedPacket(std::string_view bytes,
                              const std::function<void(uint8_t channel, std::string_view packet)>& packet) {
  while (bytes.size() >= 4 && bytes[0] == '$') {
    const size_t length = (static_cast<uint8_t>(bytes[2]) << 8) | static_cast<uint8_t>(bytes[3]);
    if (bytes.size() < 4 + length) return;
    packet(static_cast<uint8_t>(bytes[1]), bytes.substr(4, length));
    bytes.remove_prefix(4 + length);
  }
}

bool RtcpHasBye(std::string_view compound) {
  // Each packet: V=2, type, length in 32-bit words minus one.
  while (compound.size() >= 4) {
    const auto first = static_cast<uint8_t>(compound[0]);
    if ((first >> 6) != 2) return false;
    if (static_cast<uint8_t>(compound[1]) == 203) return true;
    const size_t words = (static_cast<uint8_t>(compound[2]) << 8) | static_cast<uint8_t>(compound[3]);
    const size_t length = (words + 1) * 4;
    if (length > compound.size()) return false;
    compound.remove_prefix(length);
  }
  return false;
}

DatagramPacer::DatagramPacer(size_t burst_bytes, std::chrono::steady_clock::duration interval, Clock clock,
                             Sleep sleep)
    : burst_bytes_(burst_bytes), interval_(interval), clock_(std::move(clock)), sleep_(std::move(sleep)) {}

void DatagramPacer::BeforeSend(size_t bytes, const std::function<void()>& flush) {
  const auto now = clock_();
  if (now - burst_start_ >= interval_) {
    in_burst_ = 0;
    burst_start_ = now;
  } else if (in_burst_ > 0 && in_burst_ + bytes > burst_bytes_) {
    flush();
    sleep_(burst_start_ + interval_ - now);
    // From when it was due, so an oversleep on a busy machine is made up.
    burst_start_ += interval_;
    in_burst_ = 0;
  }
  in_burst_ += bytes;
}

bool SendAsDatagrams(std::string_view bytes, DatagramPacer& pacer, const DatagramBatchSend& send_batch) {
  std::vector<std::string_view> batch;
  batch.reserve(64);
  uint8_t batch_channel = 0;
  bool ok = true;
  auto flush = [&] {
    if (!batch.empty() && !send_batch(batch_channel, batch.data(), batch.size())) ok = false;
    batch.clear();
  };
  ForEachInterleavedPacket(bytes, [&](uint8_t channel, std::string_view packet) {
    if (channel != batch_channel) {
      flush();
      batch_channel = channel;
    }
    pacer.BeforeSend(packet.size(), flush);
    batch.push_back(packet);
  });
  flush();
  return ok;
}

}  // namespace lcx
