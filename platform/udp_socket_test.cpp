// A viewer's port pair over loopback: neighbouring ports, datagrams in
// batches to a connected peer, reads that never block.
#include "platform/udp_socket.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace lcx {
namespace {

TEST(UdpSocket, PairSendsBatchesToItsPeerAndReadsWithoutBlocking) {
  UdpPortPair pair;
  int error = 0;
  ASSERT_TRUE(OpenUdpPortPair(&pair, &error)) << error;
  EXPECT_EQ(pair.port % 2, 0);
  EXPECT_EQ(LocalPort(pair.rtp.get()), pair.port);
  EXPECT_EQ(LocalPort(pair.rtcp.get()), pair.port + 1);

  UdpPortPair viewer;
  ASSERT_TRUE(OpenUdpPortPair(&viewer, &error));
  const uint32_t loopback = htonl(INADDR_LOOPBACK);
  ASSERT_TRUE(ConnectDatagram(pair.rtp.get(), loopback, viewer.port));
  ASSERT_TRUE(ConnectDatagram(pair.rtcp.get(), loopback, static_cast<uint16_t>(viewer.port + 1)));

  char buffer[2048];
  EXPECT_EQ(ReceiveDatagramNow(viewer.rtp.get(), buffer, sizeof buffer, nullptr), 0) << "nothing waits";
  // More than one sendmmsg batch, each datagram whole and in order (fewer
  // than a default receive buffer holds unread).
  std::vector<std::string> texts;
  for (int i = 0; i < 70; ++i) texts.push_back(std::string(1000 + i, static_cast<char>('a' + i % 26)));
  std::vector<std::string_view> views(texts.begin(), texts.end());
  ASSERT_TRUE(SendDatagrams(pair.rtp.get(), views.data(), views.size()));
  for (int i = 0; i < 70; ++i) {
    DatagramPeer from;
    ASSERT_EQ(ReceiveDatagramNow(viewer.rtp.get(), buffer, sizeof buffer, &from), 1000 + i);
    EXPECT_EQ(std::string(buffer, 1000 + i), texts[i]);
    EXPECT_EQ(ntohs(from.port), pair.port);
  }
  // A run of equal packets and a shorter last (a NAL unit's fragments),
  // which may leave as one segmented send, arrives as separate datagrams.
  std::vector<std::string> run(10, std::string(1400, 'f'));
  run.push_back(std::string(700, 'l'));
  run[3][0] = '3';
  std::vector<std::string_view> run_views(run.begin(), run.end());
  ASSERT_TRUE(SendDatagrams(pair.rtp.get(), run_views.data(), run_views.size()));
  for (const std::string& expected : run) {
    ASSERT_EQ(ReceiveDatagramNow(viewer.rtp.get(), buffer, sizeof buffer, nullptr), static_cast<long>(expected.size()));
    EXPECT_EQ(std::string(buffer, expected.size()), expected);
  }
  EXPECT_EQ(ReceiveDatagramNow(viewer.rtp.get(), buffer, sizeof buffer, nullptr), 0);

  // The connected RTCP socket hears its peer's RTCP port only.
  const std::string_view report = "rr";
  ASSERT_TRUE(ConnectDatagram(viewer.rtcp.get(), loopback, static_cast<uint16_t>(pair.port + 1)));
  ASSERT_TRUE(ConnectDatagram(viewer.rtp.get(), loopback, static_cast<uint16_t>(pair.port + 1)));
  ASSERT_TRUE(SendDatagrams(viewer.rtp.get(), &report, 1));
  ASSERT_TRUE(SendDatagrams(viewer.rtcp.get(), &report, 1));
  EXPECT_EQ(ReceiveDatagramNow(pair.rtcp.get(), buffer, sizeof buffer, nullptr), 2);
  EXPECT_EQ(ReceiveDatagramNow(pair.rtcp.get(), buffer, sizeof buffer, nullptr), 0);

  // A viewer whose port has closed is no failure of the sender.
  viewer.rtp.reset();
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(SendDatagrams(pair.rtp.get(), views.data(), 2));
}

TEST(UdpSocket, PeerOfAConnectedSocket) {
  UdpPortPair pair;
  int error = 0;
  ASSERT_TRUE(OpenUdpPortPair(&pair, &error));
  EXPECT_EQ(PeerIpv4(pair.rtp.get()), 0u) << "not connected";
  ASSERT_TRUE(ConnectDatagram(pair.rtp.get(), htonl(INADDR_LOOPBACK), 9));
  EXPECT_EQ(PeerIpv4(pair.rtp.get()), htonl(INADDR_LOOPBACK));
}

}  // namespace
}  // namespace lcx
