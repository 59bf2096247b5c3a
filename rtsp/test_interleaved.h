// Test helper: splits captured interleaved bytes back into RTP packets.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace lcx::rtsp_test {

struct ParsedPacket {
  uint8_t channel = 0;
  size_t frame_length = 0;  // the interleaved length field
  bool marker = false;
  uint8_t payload_type = 0;
  uint16_t sequence = 0;
  uint32_t timestamp = 0;
  uint32_t ssrc = 0;
  std::string payload;
};

// Parses "$"-framed packets until the bytes run out; `ok` is false when the
// framing is broken (bad magic, truncated packet, wrong RTP version).
inline std::vector<ParsedPacket> ParseInterleaved(std::string_view bytes, bool* ok) {
  std::vector<ParsedPacket> out;
  *ok = true;
  auto u8 = [&](size_t i) { return static_cast<uint8_t>(bytes[i]); };
  size_t at = 0;
  while (at < bytes.size()) {
    if (bytes.size() - at < 4 || u8(at) != 0x24) {
      *ok = false;
      break;
    }
    size_t length = (u8(at + 2) << 8) | u8(at + 3);
    if (length < 12 || bytes.size() - at - 4 < length || u8(at + 4) != 0x80) {
      *ok = false;
      break;
    }
    const size_t r = at + 4;
    ParsedPacket p;
    p.channel = u8(at + 1);
    p.frame_length = length;
    p.marker = (u8(r + 1) & 0x80) != 0;
    p.payload_type = u8(r + 1) & 0x7F;
    p.sequence = static_cast<uint16_t>((u8(r + 2) << 8) | u8(r + 3));
    p.timestamp = (uint32_t(u8(r + 4)) << 24) | (u8(r + 5) << 16) | (u8(r + 6) << 8) | u8(r + 7);
    p.ssrc = (uint32_t(u8(r + 8)) << 24) | (u8(r + 9) << 16) | (u8(r + 10) << 8) | u8(r + 11);
    p.payload.assign(bytes.substr(r + 12, length - 12));
    out.push_back(std::move(p));
    at += 4 + length;
  }
  return out;
}

}  // namespace lcx::rtsp_test
