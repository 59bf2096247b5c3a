// Interleaved RTP packetiser for H.264.
#include "rtsp/rtp_h264.h"

#include <algorithm>
#include <utility>

#include "video/h264_encoder.h"

namespace lcx {

RtpOut::RtpOut(std::function<bool(std::string_view)> send, size_t flush_bytes)
    : send_(std::move(send)), flush_bytes_(flush_bytes) {
  buffer_.reserve(flush_bytes_ + kInterleavedHeaderBytes + kMaxRtpPayload);
}

bool RtpOut::Append(uint16_t sequence, uint32_t timestamp, uint32_t ssrc, bool marker, const uint8_t* prefix,
                    size_t prefix_length, const uint8_t* body, size_t body_length) {
  const size_t rtp_length = 12 + prefix_length + body_length;
  const uint8_t head[kInterleavedHeaderBytes] = {
      0x24,
      0,
      static_cast<uint8_t>(rtp_length >> 8),
      static_cast<uint8_t>(rtp_length),
      0x80,
      static_cast<uint8_t>((marker ? 0x80 : 0) | kRtpPayloadType),
      static_cast<uint8_t>(sequence >> 8),
      static_cast<uint8_t>(sequence),
      static_cast<uint8_t>(timestamp >> 24),
      static_cast<uint8_t>(timestamp >> 16),
      static_cast<uint8_t>(timestamp >> 8),
      static_cast<uint8_t>(timestamp),
      static_cast<uint8_t>(ssrc >> 24),
      static_cast<uint8_t>(ssrc >> 16),
      static_cast<uint8_t>(ssrc >> 8),
      static_cast<uint8_t>(ssrc),
  };
  buffer_.append(reinterpret_cast<const char*>(head), sizeof head);
  if (prefix_length) buffer_.append(reinterpret_cast<const char*>(prefix), prefix_length);
  if (body_length) buffer_.append(reinterpret_cast<const char*>(body), body_length);
  ++packets_;
  payload_octets_ += static_cast<uint32_t>(prefix_length + body_length);
  return buffer_.size() < flush_bytes_ || Flush();
}

void RtpOut::AppendControl(uint8_t channel, std::string_view packet) {
  const char head[4] = {0x24, static_cast<char>(channel), static_cast<char>(packet.size() >> 8),
                        static_cast<char>(packet.size())};
  buffer_.append(head, sizeof head);
  buffer_.append(packet);
}

bool RtpOut::Flush() {
  if (buffer_.empty()) return true;
  bool ok = send_(buffer_);
  buffer_.clear();
  return ok;
}

bool SendRtpPacket(RtpOut& out, const uint8_t* payload, size_t length, uint16_t sequence,
                   uint32_t timestamp, uint32_t ssrc, bool marker) {
  return out.Append(sequence, timestamp, ssrc, marker, nullptr, 0, payload, length);
}

bool SendRtpNal(RtpOut& out, const uint8_t* nal, size_t length, uint16_t& sequence, uint32_t timestamp,
                uint32_t ssrc, bool marker) {
  if (length == 0) return true;
  if (length <= kMaxRtpPayload) return SendRtpPacket(out, nal, length, sequence++, timestamp, ssrc, marker);

  const uint8_t header = nal[0];
  uint8_t fu[2] = {static_cast<uint8_t>((header & 0x60) | 28), 0};
  for (size_t offset = 1; offset < length;) {
    const size_t chunk = std::min(kFuFragmentBytes, length - offset);
    const bool start = offset == 1;
    const bool end = offset + chunk == length;
    fu[1] = static_cast<uint8_t>((start ? 0x80 : 0) | (end ? 0x40 : 0) | (header & 0x1F));
    if (!out.Append(sequence++, timestamp, ssrc, marker && end, fu, 2, nal + offset, chunk)) return false;
    offset += chunk;
  }
  return true;
}

bool SendRtpFrame(RtpOut& out, const uint8_t* access_unit, size_t length, uint16_t& sequence,
                  uint32_t timestamp, uint32_t ssrc) {
  // The marker belongs to the last NAL unit, known only once the next start
  // code is missing: send each unit one step late.
  NalUnit pending{nullptr, 0};
  bool ok = true;
  ForEachNalUnit(access_unit, length, [&](NalUnit nal) {
    if (ok && pending.data) ok = SendRtpNal(out, pending.data, pending.size, sequence, timestamp, ssrc, false);
    pending = nal;
  });
  if (ok && pending.data) ok = SendRtpNal(out, pending.data, pending.size, sequence, timestamp, ssrc, true);
  return ok && out.Flush();
}

}  // namespace lcx
