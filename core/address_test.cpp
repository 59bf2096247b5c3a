#include "core/address.h"

#include <gtest/gtest.h>

namespace lcx {
namespace {

AdapterRecord Nic(std::string name, std::vector<std::string> ips, bool gateway, bool up = true) {
  AdapterRecord a;
  a.name = a.description = a.friendly_name = std::move(name);
  a.ipv4 = std::move(ips);
  a.has_gateway = gateway;
  a.up = up;
  return a;
}

TEST(AddressSelection, Table) {
  AdapterRecord vbox = Nic("vboxnet0", {"192.168.56.1"}, true);
  AdapterRecord renamed = Nic("eth1", {"10.9.0.2"}, true);
  renamed.friendly_name = "My BlueTOOTH link";
  AdapterRecord tunnel = Nic("eth2", {"10.8.0.2"}, true);
  tunnel.description = "OpenSomething TUNNEL adapter";
  AdapterRecord bridge = Nic("br-1a2b", {"172.18.0.1"}, true);
  bridge.virtual_device = true;
  AdapterRecord loop = Nic("lo", {"127.0.0.1"}, false);
  loop.loopback = true;

  struct Case {
    const char* name;
    std::vector<AdapterRecord> adapters;
    const char* want;
  } cases[] = {
      {"wired with gateway after a VirtualBox host-only adapter",
       {vbox, Nic("eth0", {"192.168.1.20"}, true)}, "192.168.1.20"},
      {"only adapter has no gateway", {Nic("eth0", {"10.0.0.5"}, false)}, "10.0.0.5"},
      {"two with gateways: first listed wins",
       {Nic("eth0", {"10.0.0.5"}, true), Nic("wlan0", {"10.0.1.5"}, true)}, "10.0.0.5"},
      {"gateway beats an earlier fallback",
       {Nic("eth0", {"10.0.0.5"}, false), Nic("wlan0", {"10.0.1.5"}, true)}, "10.0.1.5"},
      {"first fallback is kept",
       {Nic("eth0", {"10.0.0.5"}, false), Nic("wlan0", {"10.0.1.5"}, false)}, "10.0.0.5"},
      {"link-local only is passed over", {Nic("eth0", {"169.254.3.4"}, true)}, "127.0.0.1"},
      {"link-local first, then a real address", {Nic("eth0", {"169.254.3.4", "10.0.0.7"}, true)}, "10.0.0.7"},
      {"down adapter", {Nic("eth0", {"10.0.0.5"}, true, false)}, "127.0.0.1"},
      {"renamed to Bluetooth, tunnel description, bridge",
       {renamed, tunnel, bridge, Nic("eth3", {"10.7.0.1"}, false)}, "10.7.0.1"},
      {"loopback only", {loop}, "127.0.0.1"},
      {"no network at all", {}, "127.0.0.1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(SelectAdvertisedAddress(c.adapters), c.want);
  }
}

TEST(AddressSelection, VirtualKeywordsAndUsableAddresses) {
  for (const char* name : {"VMware Network Adapter", "Hyper-V switch", "TAP-Windows", "pseudo-if",
                           "Software Loopback", "VBoxNet", "virtual wifi"}) {
    EXPECT_TRUE(IsVirtualAdapter(Nic(name, {}, false))) << name;
  }
  EXPECT_FALSE(IsVirtualAdapter(Nic("eth0", {}, false)));
  EXPECT_EQ(FirstUsableIpv4(Nic("x", {"127.0.0.1", "169.254.0.9", "10.1.1.1"}, false)), "10.1.1.1");
  EXPECT_EQ(FirstUsableIpv4(Nic("x", {}, false)), "");
}

TEST(AddressSelection, LiveSystemGivesAnAddress) {
  std::string ip = SelectAdvertisedAddress();
  EXPECT_FALSE(ip.empty());
  for (const auto& m : ListMulticastInterfaces()) EXPECT_NE(m, "127.0.0.1");
}

}  // namespace
}  // namespace lcx
