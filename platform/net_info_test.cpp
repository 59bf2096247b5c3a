#include "platform/net_info.h"

#include <gtest/gtest.h>

namespace lcx {
namespace {

TEST(ParseResolvConf, ServersAndSearchDomains) {
  ResolverConfig c = ParseResolvConf(
      "# written by a DHCP client\n"
      "domain home.lan\n"
      "search office.example home.lan\n"
      "nameserver 192.168.1.1\n"
      "nameserver fe80::1%eth0\n"
      "; nameserver 10.0.0.1\n"
      "nameserver  9.9.9.9 \n"
      "options edns0\n");
  EXPECT_EQ(c.nameservers, (std::vector<std::string>{"192.168.1.1", "9.9.9.9"}));
  EXPECT_EQ(c.search_domains, (std::vector<std::string>{"office.example", "home.lan"}));
  EXPECT_TRUE(ParseResolvConf("").nameservers.empty());
}

TEST(ParseDefaultGateway, PrefersTheAdvertisedInterface) {
  const char* table =
      "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n"
      "wlan0\t00000000\t0101A8C0\t0003\t0\t0\t600\t00000000\t0\t0\t0\n"
      "eth0\t0001A8C0\t00000000\t0001\t0\t0\t100\t00FFFFFF\t0\t0\t0\n"
      "eth0\t00000000\t0100A8C0\t0003\t0\t0\t100\t00000000\t0\t0\t0\n";
  EXPECT_EQ(ParseDefaultGateway(table, "eth0"), "192.168.0.1");
  EXPECT_EQ(ParseDefaultGateway(table, "lo"), "192.168.1.1") << "another interface's when ours has none";
  EXPECT_EQ(ParseDefaultGateway("Iface\tDestination\tGateway\tFlags\n", "eth0"), "");
}

TEST(InterfaceOfAddress, LoopbackAndAnAddressNobodyHolds) {
  std::optional<InterfaceDetails> lo = InterfaceOfAddress("127.0.0.1");
  ASSERT_TRUE(lo.has_value());
  EXPECT_EQ(lo->name, "lo");
  EXPECT_EQ(lo->mac, "00:00:00:00:00:00");
  EXPECT_EQ(lo->prefix_length, 8);
  EXPECT_GT(lo->mtu, 0);
  EXPECT_FALSE(InterfaceOfAddress("203.0.113.77").has_value());
  EXPECT_FALSE(InterfaceOfAddress("not an address").has_value());
}

}  // namespace
}  // namespace lcx
