#include "onvif/discovery.h"

#include "core/address.h"
#include "core/log.h"
#include "onvif/onvif_operations.h"
#include "onvif/onvif_service.h"
#include "platform/net.h"
#include "platform/system.h"

namespace lcx {
namespace {

constexpr size_t kMaxDatagram = 8191;

}  // namespace

std::string ProbeMessageId(std::string_view datagram) {
  size_t at = datagram.find("MessageID");
  if (at == std::string_view::npos) return {};
  size_t open = datagram.find('>', at);
  if (open == std::string_view::npos) return {};
  size_t close = datagram.find('<', open + 1);
  if (close == std::string_view::npos) return {};
  return std::string(datagram.substr(open + 1, close - open - 1));
}

std::string BuildProbeMatches(const OnvifService& service, std::string_view relates_to) {
  std::string scopes;
  for (int i = 0; i < 4; ++i) {
    if (i) scopes += ' ';
    scopes += ScopeUri(i, service);
  }
  std::string out;
  out.reserve(1500);
  out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?><env:Envelope"
         " xmlns:env=\"http://www.w3.org/2003/05/soap-envelope\""
         " xmlns:a=\"http://schemas.xmlsoap.org/ws/2004/08/addressing\""
         " xmlns:d=\"http://schemas.xmlsoap.org/ws/2005/04/discovery\""
         " xmlns:dn=\"http://www.onvif.org/ver10/network/wsdl\""
         " xmlns:tds=\"http://www.onvif.org/ver10/device/wsdl\">";
  out += "<env:Header><a:MessageID>" + service.message_uuid + "</a:MessageID><a:RelatesTo>";
  out.append(relates_to);
  out += "</a:RelatesTo><a:To>http://schemas.xmlsoap.org/ws/2004/08/addressing/role/anonymous</a:To>"
         "<a:Action>http://schemas.xmlsoap.org/ws/2005/04/discovery/ProbeMatches</a:Action></env:Header>";
  out += "<env:Body><d:ProbeMatches><d:ProbeMatch><a:EndpointReference><a:Address>" + service.endpoint_uuid +
         "</a:Address></a:EndpointReference><d:Types>dn:NetworkVideoTransmitter tds:Device</d:Types><d:Scopes>" +
         scopes + "</d:Scopes><d:XAddrs>http://" + service.ip + ":" + std::to_string(service.onvif_port) +
         "/onvif/device_service</d:XAddrs><d:MetadataVersion>1</d:MetadataVersion></d:ProbeMatch>"
         "</d:ProbeMatches></env:Body></env:Envelope>";
  return out;
}

std::optional<std::string> AnswerDiscoveryDatagram(const OnvifService& service, std::string_view datagram) {
  if (datagram.find("Probe") == std::string_view::npos) return std::nullopt;
  return BuildProbeMatches(service, ProbeMessageId(datagram));
}

UniqueFd OpenDiscoverySocket(int port, int* joined, int* error) {
  *joined = 0;
  UniqueFd fd = OpenUdpSocket(static_cast<uint16_t>(port), error);
  if (!fd) return {};
  JoinMulticastGroup(fd.get(), kDiscoveryGroup, "0.0.0.0");
  // Counted whether or not the join works: repeating the default interface's
  // join fails and still counts.
  for (const std::string& ip : ListMulticastInterfaces()) {
    JoinMulticastGroup(fd.get(), kDiscoveryGroup, ip.c_str());
    ++*joined;
  }
  return fd;
}

bool ServeDiscoveryDatagram(const OnvifService& service, int fd) {
  char buf[kMaxDatagram + 1];
  DatagramPeer from;
  // The real size is reported, so an oversized datagram is dropped rather
  // than answered from its first part.
  long n = ReceiveDatagram(fd, buf, kMaxDatagram, &from);
  if (n <= 0) return false;
  if (static_cast<size_t>(n) > kMaxDatagram) return true;
  buf[n] = '\0';
  std::optional<std::string> answer = AnswerDiscoveryDatagram(service, std::string_view(buf, static_cast<size_t>(n)));
  if (answer) SendDatagram(fd, *answer, from);
  return true;
}

void RunDiscovery(OnvifService& service) {
  int joined = 0, error = 0;
  UniqueFd fd = OpenDiscoverySocket(kDiscoveryPort, &joined, &error);
  if (!fd) {
    LogLine("WS-Discovery bind failed: %d\n", error);
    return;
  }
  LogLine("WS-Discovery ready (UDP 3702, joined %d interface(s))\n", joined);
  for (;;) {
    if (!ServeDiscoveryDatagram(service, fd.get())) SleepMs(5);
  }
}

}  // namespace lcx
