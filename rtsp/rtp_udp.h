// RTP over UDP to one viewer, the pure part: the client ports a SETUP asks
// for, cutting the interleaved packet buffer into datagrams, pacing a large
// access unit, and the RTCP that ends a session. No I/O.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

#include "core/request_head.h"

namespace lcx {

// A UDP viewer that sends neither RTCP nor a keep-alive request for this long
// has gone (the Session header's timeout=).
inline constexpr int kUdpSessionTimeoutS = 60;

struct UdpClientPorts {
  uint16_t rtp = 0;
  uint16_t rtcp = 0;
};

// The first alternative of the Transport field that asks for unicast RTP over
// UDP ("RTP/AVP" or "RTP/AVP/UDP", not multicast) with client_port=a[-b]; b
// is a+1 when left out. Nothing when no alternative does, or its ports are
// not numbers in 1..65535. A destination= is not looked at: packets go only
// to the RTSP connection's own peer.
std::optional<UdpClientPorts> WantsUdpUnicast(const RequestHead& head);

// Calls `packet` for each "$" frame of interleaved bytes (as RtpOut buffers
// them) with its channel and its RTP or RTCP packet; stops at a truncated
// frame or a byte that starts none.
void ForEachInterleavedPacket(std::string_view bytes,
                              const std::function<void(uint8_t channel, std::string_view packet)>& packet);

// True when a compound RTCP packet holds a BYE (packet type 203).
bool RtcpHasBye(std::string_view compound);

// Spreads datagrams over time: after `burst_bytes` the next send waits until
// `interval` has passed since the burst began. A key frame sent at once can
// be larger than a receiver's socket buffer (about 200 KB by default on
// Linux), which the receiver then drops whole; paced, it drains as it comes.
// Frames smaller than a burst go out at once.
class DatagramPacer {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;
  using Sleep = std::function<void(std::chrono::steady_clock::duration)>;
  DatagramPacer(size_t burst_bytes, std::chrono::steady_clock::duration interval, Clock clock, Sleep sleep);
  // Accounts for `bytes` about to be sent, waiting first when the burst is
  // full; `flush` runs just before the wait (to send what was gathered).
  void BeforeSend(size_t bytes, const std::function<void()>& flush);

 private:
  size_t burst_bytes_;
  std::chrono::steady_clock::duration interval_;
  Clock clock_;
  Sleep sleep_;
  size_t in_burst_ = 0;
  std::chrono::steady_clock::time_point burst_start_{};
};

// Sends interleaved bytes (as RtpOut buffers them) as one datagram per
// packet: consecutive packets of one channel go to `send_batch` together, a
// batch cut where the pacer waits. False when a batch failed.
using DatagramBatchSend = std::function<bool(uint8_t channel, const std::string_view* datagrams, size_t count)>;
bool SendAsDatagrams(std::string_view bytes, DatagramPacer& pacer, const DatagramBatchSend& send_batch);

}  // namespace lcx
