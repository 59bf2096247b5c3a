#include "rtsp/rtp_h264.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "rtsp/test_interleaved.h"

namespace lcx {
namespace {

using rtsp_test::ParseInterleaved;
using rtsp_test::ParsedPacket;

std::vector<uint8_t> Nal(uint8_t header, size_t length) {
  std::vector<uint8_t> nal(length);
  nal[0] = header;
  for (size_t i = 1; i < length; ++i) nal[i] = static_cast<uint8_t>(i * 7);
  return nal;
}

struct Capture {
  std::string bytes;
  int writes = 0;
  RtpOut out{[this](std::string_view b) {
    bytes.append(b);
    ++writes;
    return true;
  }};
};

std::vector<ParsedPacket> Packets(Capture& c) {
  EXPECT_TRUE(c.out.Flush());
  bool ok = false;
  auto packets = ParseInterleaved(c.bytes, &ok);
  EXPECT_TRUE(ok);
  return packets;
}

TEST(SendRtpNal, FragmentsOnlyAbove1400Bytes) {
  struct Case {
    const char* name;
    uint8_t header;
    size_t length;
    std::vector<size_t> payload_lengths;
    std::vector<std::string> prefixes;  // first payload bytes of each packet
  } cases[] = {
      {"exactly 1400 travels whole", 0x65, 1400, {1400}, {"\x65"}},
      {"1401 gives two fragments", 0x65, 1401, {1400, 4}, {"\x7C\x85", "\x7C\x45"}},
      {"idr in three fragments", 0x65, 1 + 1398 * 2 + 10, {1400, 1400, 12},
       {"\x7C\x85", "\x7C\x05", "\x7C\x45"}},
      {"non-idr slice keeps its nri", 0x41, 3000, {1400, 1400, 205}, {"\x5C\x81", "\x5C\x01", "\x5C\x41"}},
      {"small sps", 0x67, 4, {4}, {"\x67"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Capture cap;
    auto nal = Nal(c.header, c.length);
    uint16_t seq = 7;
    ASSERT_TRUE(SendRtpNal(cap.out, nal.data(), nal.size(), seq, 123456, kRtpSsrc, true));
    auto packets = Packets(cap);
    ASSERT_EQ(packets.size(), c.payload_lengths.size());
    EXPECT_EQ(seq, 7 + packets.size());
    std::string reassembled;
    for (size_t i = 0; i < packets.size(); ++i) {
      const ParsedPacket& p = packets[i];
      EXPECT_EQ(p.payload.size(), c.payload_lengths[i]);
      EXPECT_EQ(p.frame_length, 12 + c.payload_lengths[i]);
      EXPECT_EQ(p.payload.substr(0, c.prefixes[i].size()), c.prefixes[i]) << "packet " << i;
      EXPECT_EQ(p.channel, 0);
      EXPECT_EQ(p.payload_type, 96);
      EXPECT_EQ(p.sequence, 7 + i);
      EXPECT_EQ(p.timestamp, 123456u);
      EXPECT_EQ(p.ssrc, kRtpSsrc);
      EXPECT_EQ(p.marker, i + 1 == packets.size());
      reassembled += packets.size() == 1 ? p.payload : p.payload.substr(2);
    }
    // The fragments carry every byte after the NAL header, in order.
    std::string expected(nal.begin() + (packets.size() == 1 ? 0 : 1), nal.end());
    EXPECT_EQ(reassembled, expected);
  }
}

TEST(SendRtpNal, MarkerOnlyWhenCallerAsksAndSequenceWraps) {
  Capture cap;
  auto big = Nal(0x65, 3000);
  auto sps = Nal(0x67, 10);
  uint16_t seq = 65534;
  ASSERT_TRUE(SendRtpNal(cap.out, sps.data(), sps.size(), seq, 9000, kRtpSsrc, false));
  ASSERT_TRUE(SendRtpNal(cap.out, big.data(), big.size(), seq, 9000, kRtpSsrc, false));
  ASSERT_TRUE(SendRtpNal(cap.out, sps.data(), 0, seq, 9000, kRtpSsrc, true));  // nothing sent
  auto packets = Packets(cap);
  ASSERT_EQ(packets.size(), 4u);
  const uint16_t expected_seq[] = {65534, 65535, 0, 1};
  for (size_t i = 0; i < packets.size(); ++i) {
    EXPECT_EQ(packets[i].sequence, expected_seq[i]);
    EXPECT_FALSE(packets[i].marker);
  }
  EXPECT_EQ(seq, 2);
}

TEST(RtpOut, WritesInLargeChunksAndReportsAFailedWrite) {
  Capture cap;
  auto nal = Nal(0x41, 200 * 1024);
  uint16_t seq = 0;
  ASSERT_TRUE(SendRtpNal(cap.out, nal.data(), nal.size(), seq, 0, kRtpSsrc, true));
  ASSERT_TRUE(cap.out.Flush());
  // 200 KiB in 64 KiB chunks: a handful of writes, not one per packet.
  EXPECT_GE(cap.writes, 3);
  EXPECT_LE(cap.writes, 5);
  EXPECT_EQ(cap.out.buffered(), 0u);

  int calls = 0;
  RtpOut failing([&](std::string_view) { return ++calls > 1 ? false : true; });
  seq = 0;
  EXPECT_FALSE(SendRtpNal(failing, nal.data(), nal.size(), seq, 0, kRtpSsrc, true));
  EXPECT_EQ(calls, 2);  // stopped at the failed write
}

}  // namespace
}  // namespace lcx
