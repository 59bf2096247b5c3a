#include "onvif/device_configuration.h"

#include <gtest/gtest.h>

#include <string>

#include "onvif/onvif_service.h"

namespace lcx {
namespace {

OnvifService Service() {
  OnvifService s;
  s.ip = "192.168.1.40";
  s.onvif_port = 8000;
  s.rtsp_port = 554;
  s.user = "admin";
  s.password = "never-shown";
  s.network.hostname = "front-desk";
  s.network.interface_name = "enp3s0";
  s.network.mac = "3c:7c:3f:1a:2b:4c";
  s.network.prefix_length = 24;
  s.network.mtu = 1500;
  s.network.dns_servers = {"192.168.1.1", "9.9.9.9"};
  s.network.search_domains = {"home.lan"};
  s.network.gateway = "192.168.1.1";
  return s;
}

std::string Element(const OnvifService& s, const char* operation) {
  std::optional<OperationAnswer> answer = AnswerDeviceOperation(s, operation);
  EXPECT_TRUE(answer.has_value()) << operation;
  return answer ? answer->element : std::string();
}

TEST(AnswerDeviceOperation, TheHostsNetworkAsRecordersReadIt) {
  const OnvifService s = Service();
  struct Case {
    const char* operation;
    const char* element;
  } cases[] = {
      {"GetNetworkInterfaces",
       "<tds:GetNetworkInterfacesResponse><tds:NetworkInterfaces token=\"enp3s0\"><tt:Enabled>true</tt:Enabled>"
       "<tt:Info><tt:Name>enp3s0</tt:Name><tt:HwAddress>3c:7c:3f:1a:2b:4c</tt:HwAddress><tt:MTU>1500</tt:MTU>"
       "</tt:Info><tt:IPv4><tt:Enabled>true</tt:Enabled><tt:Config><tt:Manual><tt:Address>192.168.1.40</tt:Address>"
       "<tt:PrefixLength>24</tt:PrefixLength></tt:Manual><tt:DHCP>false</tt:DHCP></tt:Config></tt:IPv4>"
       "</tds:NetworkInterfaces></tds:GetNetworkInterfacesResponse>"},
      {"GetHostname",
       "<tds:GetHostnameResponse><tds:HostnameInformation><tt:FromDHCP>false</tt:FromDHCP><tt:Name>front-desk"
       "</tt:Name></tds:HostnameInformation></tds:GetHostnameResponse>"},
      {"GetDNS",
       "<tds:GetDNSResponse><tds:DNSInformation><tt:FromDHCP>false</tt:FromDHCP><tt:SearchDomain>home.lan"
       "</tt:SearchDomain><tt:DNSManual><tt:Type>IPv4</tt:Type><tt:IPv4Address>192.168.1.1</tt:IPv4Address>"
       "</tt:DNSManual><tt:DNSManual><tt:Type>IPv4</tt:Type><tt:IPv4Address>9.9.9.9</tt:IPv4Address></tt:DNSManual>"
       "</tds:DNSInformation></tds:GetDNSResponse>"},
      {"GetNTP",
       "<tds:GetNTPResponse><tds:NTPInformation><tt:FromDHCP>false</tt:FromDHCP></tds:NTPInformation>"
       "</tds:GetNTPResponse>"},
      {"GetNetworkDefaultGateway",
       "<tds:GetNetworkDefaultGatewayResponse><tds:NetworkGateway><tt:IPv4Address>192.168.1.1</tt:IPv4Address>"
       "</tds:NetworkGateway></tds:GetNetworkDefaultGatewayResponse>"},
      {"GetNetworkProtocols",
       "<tds:GetNetworkProtocolsResponse><tds:NetworkProtocols><tt:Name>HTTP</tt:Name><tt:Enabled>true</tt:Enabled>"
       "<tt:Port>8000</tt:Port></tds:NetworkProtocols><tds:NetworkProtocols><tt:Name>RTSP</tt:Name>"
       "<tt:Enabled>true</tt:Enabled><tt:Port>554</tt:Port></tds:NetworkProtocols></tds:GetNetworkProtocolsResponse>"},
      // The password never leaves the program.
      {"GetUsers",
       "<tds:GetUsersResponse><tds:User><tt:Username>admin</tt:Username><tt:UserLevel>Administrator</tt:UserLevel>"
       "</tds:User></tds:GetUsersResponse>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.operation);
    EXPECT_EQ(Element(s, c.operation), c.element);
  }
  EXPECT_FALSE(AnswerDeviceOperation(s, "SetHostname").has_value());
  EXPECT_FALSE(AnswerDeviceOperation(s, "Reboot").has_value());
}

TEST(AnswerDeviceOperation, WhatTheHostDidNotTellIsLeftOut) {
  OnvifService s = Service();
  s.user = "a<b";
  s.network = {};
  s.network.hostname = "x&y";
  EXPECT_EQ(Element(s, "GetNetworkInterfaces"),
            "<tds:GetNetworkInterfacesResponse><tds:NetworkInterfaces token=\"eth0\"><tt:Enabled>true</tt:Enabled>"
            "<tt:IPv4><tt:Enabled>true</tt:Enabled><tt:Config><tt:Manual><tt:Address>192.168.1.40</tt:Address>"
            "<tt:PrefixLength>24</tt:PrefixLength></tt:Manual><tt:DHCP>false</tt:DHCP></tt:Config></tt:IPv4>"
            "</tds:NetworkInterfaces></tds:GetNetworkInterfacesResponse>");
  EXPECT_EQ(Element(s, "GetNetworkDefaultGateway"),
            "<tds:GetNetworkDefaultGatewayResponse><tds:NetworkGateway></tds:NetworkGateway>"
            "</tds:GetNetworkDefaultGatewayResponse>");
  EXPECT_NE(Element(s, "GetHostname").find("<tt:Name>x&amp;y</tt:Name>"), std::string::npos);
  EXPECT_NE(Element(s, "GetUsers").find("<tt:Username>a&lt;b</tt:Username>"), std::string::npos);
}

}  // namespace
}  // namespace lcx
