// H.264 over RTP (single NAL unit packets and FU-A fragments), framed for
// interleaving on the RTSP connection: "$", channel 0, 16-bit length (and
// RTCP on channel 1 beside it).
//
// Packets are gathered in the connection's RtpOut and handed to the wire in
// large writes: one write per packet would cost several system calls per
// 1.4 KB, which dominates the cost of each extra viewer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace lcx {

inline constexpr uint32_t kRtpSsrc = 0x13572468;
inline constexpr uint8_t kRtpPayloadType = 96;
inline constexpr size_t kMaxRtpPayload = 1400;   // a larger NAL unit is fragmented
inline constexpr size_t kFuFragmentBytes = 1398;  // plus indicator and FU header = 1400
inline constexpr size_t kInterleavedHeaderBytes = 4 + 12;

// One connection's outgoing packet buffer. `send` writes bytes to the wire
// and returns false when the connection is gone.
class RtpOut {
 public:
  explicit RtpOut(std::function<bool(std::string_view)> send, size_t flush_bytes = 64 * 1024);
  RtpOut(const RtpOut&) = delete;
  RtpOut& operator=(const RtpOut&) = delete;

  // Appends one interleaved packet; `prefix` (0..2 bytes, the FU-A
  // indicator and header) comes before `body` in the payload. Writes the
  // buffer out once it holds `flush_bytes`.
  bool Append(uint16_t sequence, uint32_t timestamp, uint32_t ssrc, bool marker, const uint8_t* prefix,
              size_t prefix_length, const uint8_t* body, size_t body_length);
  // Appends one interleaved RTCP packet on `channel` (not counted below).
  void AppendControl(uint8_t channel, std::string_view packet);
  // Writes whatever is buffered.
  bool Flush();
  size_t buffered() const { return buffer_.size(); }
  // RTP packets and payload bytes appended so far, as sender reports count them.
  uint32_t packets() const { return packets_; }
  uint32_t payload_octets() const { return payload_octets_; }

 private:
  std::function<bool(std::string_view)> send_;
  size_t flush_bytes_;
  std::string buffer_;
  uint32_t packets_ = 0;
  uint32_t payload_octets_ = 0;
};

// Queues one RTP packet carrying `payload` whole.
bool SendRtpPacket(RtpOut& out, const uint8_t* payload, size_t length, uint16_t sequence,
                   uint32_t timestamp, uint32_t ssrc, bool marker);

// Queues one NAL unit (no start code): whole when it fits, else as FU-A
// fragments. `sequence` advances by one per packet; the marker goes on the
// last packet only, and only when `marker` is set. A NAL unit of length 0
// sends nothing.
bool SendRtpNal(RtpOut& out, const uint8_t* nal, size_t length, uint16_t& sequence, uint32_t timestamp,
                uint32_t ssrc, bool marker);

// Queues one access unit (Annex-B) NAL unit by NAL unit with the marker on
// the last, then writes everything out.
bool SendRtpFrame(RtpOut& out, const uint8_t* access_unit, size_t length, uint16_t& sequence,
                  uint32_t timestamp, uint32_t ssrc);

}  // namespace lcx
