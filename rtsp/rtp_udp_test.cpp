// RTP over UDP's pure part: which SETUPs ask for it, datagrams cut from the
// interleaved buffer and paced, and the RTCP BYE that ends a viewer.
#include "rtsp/rtp_udp.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "rtsp/rtp_h264.h"
#include "rtsp/rtsp_messages.h"

namespace lcx {
namespace {

std::optional<UdpClientPorts> PortsOf(const std::string& transport) {
  const std::string request = "SETUP rtsp://h/screenlive RTSP/1.0\r\nCSeq: 3\r\n" + transport + "\r\n";
  RequestHead head;
  EXPECT_TRUE(ParseRtspHead(request, head));
  return WantsUdpUnicast(head);
}

TEST(WantsUdpUnicast, ClientPortsOfTheFirstUnicastUdpAlternative) {
  struct Case {
    const char* name;
    std::string transport;
    int rtp, rtcp;  // 0: not UDP unicast
  } cases[] = {
      {"ffmpeg", "Transport: RTP/AVP/UDP;unicast;client_port=20000-20001", 20000, 20001},
      {"GStreamer", "Transport: RTP/AVP;unicast;client_port=51234-51235", 51234, 51235},
      {"one port: RTCP above it", "Transport: RTP/AVP;unicast;client_port=6000", 6000, 6001},
      {"destination of another host is not looked at",
       "Transport: RTP/AVP;unicast;destination=198.51.100.7;client_port=7000-7001", 7000, 7001},
      {"after an alternative we do not serve", "Transport: RTP/SAVP;unicast;client_port=1-2,RTP/AVP;client_port=8-9",
       8, 9},
      {"multicast", "Transport: RTP/AVP;multicast;client_port=5000-5001", 0, 0},
      {"no ports", "Transport: RTP/AVP;unicast", 0, 0},
      {"port out of range", "Transport: RTP/AVP;unicast;client_port=70000-70001", 0, 0},
      {"port zero", "Transport: RTP/AVP;unicast;client_port=0-1", 0, 0},
      {"not a number", "Transport: RTP/AVP;unicast;client_port=50x0-5001", 0, 0},
      {"one port at the top has no neighbour", "Transport: RTP/AVP;unicast;client_port=65535", 0, 0},
      {"interleaved only", "Transport: RTP/AVP/TCP;unicast;interleaved=0-1", 0, 0},
      {"no Transport field", "", 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::optional<UdpClientPorts> ports = PortsOf(c.transport.empty() ? "" : c.transport + "\r\n");
    if (c.rtp == 0) {
      EXPECT_FALSE(ports);
      continue;
    }
    ASSERT_TRUE(ports);
    EXPECT_EQ(ports->rtp, c.rtp);
    EXPECT_EQ(ports->rtcp, c.rtcp);
  }
}

TEST(RtcpHasBye, FindsByeInACompoundPacketOnly) {
  const std::string rr = std::string("\x81\xC9\x00\x07", 4) + std::string(28, '\0');  // receiver report, one block
  const std::string sdes("\x81\xCA\x00\x01\x00\x00\x00\x01", 8);
  const std::string bye("\x81\xCB\x00\x01\x12\x34\x56\x78", 8);
  EXPECT_TRUE(RtcpHasBye(rr + sdes + bye));
  EXPECT_TRUE(RtcpHasBye(bye));
  EXPECT_FALSE(RtcpHasBye(rr + sdes));
  EXPECT_FALSE(RtcpHasBye(""));
  // A length that runs past the datagram ends the walk; so does version 0.
  EXPECT_FALSE(RtcpHasBye(std::string("\x81\xC9\x00\x40", 4) + bye));
  EXPECT_FALSE(RtcpHasBye(std::string("\x01\xCB\x00\x01\x12\x34\x56\x78", 8)));
}

// A fake clock that moves only when the pacer sleeps.
struct FakeTime {
  std::chrono::steady_clock::time_point now{std::chrono::seconds(100)};
  std::vector<std::chrono::steady_clock::duration> sleeps;
  DatagramPacer Pacer(size_t burst) {
    return DatagramPacer(
        burst, std::chrono::milliseconds(2), [this] { return now; },
        [this](std::chrono::steady_clock::duration d) {
          sleeps.push_back(d);
          now += d;
        });
  }
};

TEST(SendAsDatagrams, OneDatagramPerPacketByChannelPacedInBursts) {
  // A sender report, then an access unit of ten full packets, as RtpOut
  // buffers them for a connection.
  std::string buffered;
  RtpOut out([&](std::string_view b) {
    buffered.append(b);
    return true;
  });
  out.AppendControl(1, std::string("\x80\xC8\x00\x06", 4) + std::string(24, 'r'));
  std::vector<uint8_t> au = {0, 0, 0, 1, 0x65};
  au.resize(5 + 10 * kFuFragmentBytes - 1, 0x11);
  uint16_t seq = 0;
  ASSERT_TRUE(SendRtpFrame(out, au.data(), au.size(), seq, 9000, kRtpSsrc));
  ASSERT_EQ(seq, 10);

  FakeTime time;
  DatagramPacer pacer = time.Pacer(4 * 1412);
  std::vector<std::pair<int, std::vector<size_t>>> batches;  // channel, datagram sizes
  ASSERT_TRUE(SendAsDatagrams(buffered, pacer, [&](uint8_t channel, const std::string_view* d, size_t n) {
    std::vector<size_t> sizes;
    for (size_t i = 0; i < n; ++i) {
      sizes.push_back(d[i].size());
      if (channel == 0) {
        EXPECT_EQ(static_cast<uint8_t>(d[i][0]), 0x80) << "RTP version, no interleaved head";
      }
    }
    batches.emplace_back(channel, sizes);
    return true;
  }));
  // The report alone, then RTP in bursts of at most four full packets (the
  // report began the first): each burst after the first waits out the
  // interval from the one before it.
  using Batch = std::pair<int, std::vector<size_t>>;
  EXPECT_EQ(batches, (std::vector<Batch>{{1, {28}},
                                         {0, {1412, 1412, 1412}},
                                         {0, {1412, 1412, 1412, 1412}},
                                         {0, {1412, 1412, 1411}}}));
  EXPECT_EQ(time.sleeps, (std::vector<std::chrono::steady_clock::duration>{std::chrono::milliseconds(2),
                                                                            std::chrono::milliseconds(2)}));
  // The next frame a frame interval later goes out at once.
  time.now += std::chrono::milliseconds(40);
  batches.clear();
  ASSERT_TRUE(SendAsDatagrams(buffered, pacer, [&](uint8_t channel, const std::string_view*, size_t n) {
    batches.emplace_back(channel, std::vector<size_t>(n));
    return true;
  }));
  EXPECT_EQ(time.sleeps.size(), 4u) << "a whole frame again: two waits, none for the gap before it";
  // A failed batch is reported.
  EXPECT_FALSE(SendAsDatagrams(buffered, pacer, [](uint8_t, const std::string_view*, size_t) { return false; }));
}

}  // namespace
}  // namespace lcx
