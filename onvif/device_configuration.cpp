#include "onvif/device_configuration.h"

#include "onvif/onvif_service.h"

namespace lcx {
namespace {

std::string Element(const char* name, std::string_view text) {
  return std::string("<") + name + ">" + std::string(text) + "</" + name + ">";
}

std::string NetworkInterfacesAnswer(const OnvifService& service) {
  const OnvifNetwork& net = service.network;
  const std::string token = net.interface_name.empty() ? "eth0" : EscapeXmlText(net.interface_name);
  std::string out = "<tds:GetNetworkInterfacesResponse><tds:NetworkInterfaces token=\"" + token +
                    "\"><tt:Enabled>true</tt:Enabled>";
  // The hardware address is what recorders key cameras by: without it the
  // Info element would be invalid, so it is left out rather than made up.
  if (!net.mac.empty()) {
    out += "<tt:Info>" + Element("tt:Name", token) + Element("tt:HwAddress", EscapeXmlText(net.mac));
    if (net.mtu > 0) out += Element("tt:MTU", std::to_string(net.mtu));
    out += "</tt:Info>";
  }
  out += "<tt:IPv4><tt:Enabled>true</tt:Enabled><tt:Config><tt:Manual>" + Element("tt:Address", service.ip) +
         Element("tt:PrefixLength", std::to_string(net.prefix_length > 0 ? net.prefix_length : 24)) +
         "</tt:Manual><tt:DHCP>false</tt:DHCP></tt:Config></tt:IPv4></tds:NetworkInterfaces>"
         "</tds:GetNetworkInterfacesResponse>";
  return out;
}

std::string DnsAnswer(const OnvifService& service) {
  std::string out = "<tds:GetDNSResponse><tds:DNSInformation><tt:FromDHCP>false</tt:FromDHCP>";
  for (const std::string& domain : service.network.search_domains)
    out += Element("tt:SearchDomain", EscapeXmlText(domain));
  for (const std::string& server : service.network.dns_servers)
    out += "<tt:DNSManual><tt:Type>IPv4</tt:Type>" + Element("tt:IPv4Address", server) + "</tt:DNSManual>";
  return out + "</tds:DNSInformation></tds:GetDNSResponse>";
}

std::string NetworkProtocolsAnswer(const OnvifService& service) {
  auto protocol = [](const char* name, int port) {
    return std::string("<tds:NetworkProtocols><tt:Name>") + name + "</tt:Name><tt:Enabled>true</tt:Enabled>" +
           Element("tt:Port", std::to_string(port)) + "</tds:NetworkProtocols>";
  };
  return "<tds:GetNetworkProtocolsResponse>" + protocol("HTTP", service.onvif_port) +
         protocol("RTSP", service.rtsp_port) + "</tds:GetNetworkProtocolsResponse>";
}

}  // namespace

std::string DeviceServiceCapabilitiesXml() {
  return "<tds:Capabilities><tds:Network IPFilter=\"false\" ZeroConfiguration=\"false\" IPVersion6=\"false\" "
         "DynDNS=\"false\" Dot11Configuration=\"false\" HostnameFromDHCP=\"false\" NTP=\"0\"/>"
         "<tds:Security TLS1.0=\"false\" TLS1.1=\"false\" TLS1.2=\"false\" UsernameToken=\"true\" "
         "HttpDigest=\"true\"/><tds:System DiscoveryResolve=\"false\" DiscoveryBye=\"false\" "
         "RemoteDiscovery=\"false\" SystemBackup=\"false\" SystemLogging=\"false\" FirmwareUpgrade=\"false\"/>"
         "</tds:Capabilities>";
}

std::optional<OperationAnswer> AnswerDeviceOperation(const OnvifService& service, std::string_view name) {
  const OnvifNetwork& net = service.network;
  std::string out;
  if (name == "GetNetworkInterfaces") {
    out = NetworkInterfacesAnswer(service);
  } else if (name == "GetHostname") {
    out = "<tds:GetHostnameResponse><tds:HostnameInformation><tt:FromDHCP>false</tt:FromDHCP>" +
          (net.hostname.empty() ? std::string() : Element("tt:Name", EscapeXmlText(net.hostname))) +
          "</tds:HostnameInformation></tds:GetHostnameResponse>";
  } else if (name == "GetDNS") {
    out = DnsAnswer(service);
  } else if (name == "GetNTP") {
    // The host keeps its own time; the camera has no NTP client to report.
    out = "<tds:GetNTPResponse><tds:NTPInformation><tt:FromDHCP>false</tt:FromDHCP></tds:NTPInformation>"
          "</tds:GetNTPResponse>";
  } else if (name == "GetNetworkDefaultGateway") {
    out = "<tds:GetNetworkDefaultGatewayResponse><tds:NetworkGateway>" +
          (net.gateway.empty() ? std::string() : Element("tt:IPv4Address", net.gateway)) +
          "</tds:NetworkGateway></tds:GetNetworkDefaultGatewayResponse>";
  } else if (name == "GetNetworkProtocols") {
    out = NetworkProtocolsAnswer(service);
  } else if (name == "GetServiceCapabilities") {
    out = "<tds:GetServiceCapabilitiesResponse>" + DeviceServiceCapabilitiesXml() +
          "</tds:GetServiceCapabilitiesResponse>";
  } else if (name == "GetUsers") {
    out = "<tds:GetUsersResponse><tds:User>" + Element("tt:Username", EscapeXmlText(service.user)) +
          "<tt:UserLevel>Administrator</tt:UserLevel></tds:User></tds:GetUsersResponse>";
  } else if (name == "SetSystemDateAndTime") {
    return OperationAnswer{std::string(), kClockNotSetFault};
  } else if (name == "SystemReboot") {
    if (!service.restart) return OperationAnswer{std::string(), kActionNotSupportedFault};
    out = "<tds:SystemRebootResponse><tds:Message>Restarting the program</tds:Message></tds:SystemRebootResponse>";
  } else {
    return std::nullopt;
  }
  return OperationAnswer{out, {}};
}

}  // namespace lcx
