#include "onvif/discovery.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <string>

#include "onvif/onvif_service.h"
#include "platform/net.h"

namespace lcx {
namespace {

OnvifService Service() {
  OnvifService s;
  s.ip = "192.168.7.3";
  s.onvif_port = 8000;
  s.endpoint_uuid = "urn:uuid:01234567-89ab-cdef-0123-456789abcdef";
  s.message_uuid = "urn:uuid:fedcba98-7654-3210-fedc-ba9876543210";
  s.device_name = "Lumicast-0123";
  s.serial_number = "LCX-0123456789ab";
  return s;
}

std::string Probe(const std::string& message_id, const std::string& types = "dn:NetworkVideoTransmitter") {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><s:Envelope xmlns:s=\"http://www.w3.org/2003/05/soap-envelope\" "
         "xmlns:a=\"http://schemas.xmlsoap.org/ws/2004/08/addressing\"><s:Header><a:Action s:mustUnderstand=\"1\">"
         "http://schemas.xmlsoap.org/ws/2005/04/discovery/Probe</a:Action><a:MessageID>" + message_id +
         "</a:MessageID><a:To s:mustUnderstand=\"1\">urn:schemas-xmlsoap-org:ws:2005:04:discovery</a:To></s:Header>"
         "<s:Body><Probe xmlns=\"http://schemas.xmlsoap.org/ws/2005/04/discovery\"><d:Types "
         "xmlns:d=\"http://schemas.xmlsoap.org/ws/2005/04/discovery\" xmlns:dn=\"http://www.onvif.org/ver10/"
         "network/wsdl\">" + types + "</d:Types></Probe></s:Body></s:Envelope>";
}

TEST(BuildProbeMatches, WholeMessage) {
  EXPECT_EQ(BuildProbeMatches(Service(), "uuid:probe-1"),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?><env:Envelope"
            " xmlns:env=\"http://www.w3.org/2003/05/soap-envelope\""
            " xmlns:a=\"http://schemas.xmlsoap.org/ws/2004/08/addressing\""
            " xmlns:d=\"http://schemas.xmlsoap.org/ws/2005/04/discovery\""
            " xmlns:dn=\"http://www.onvif.org/ver10/network/wsdl\""
            " xmlns:tds=\"http://www.onvif.org/ver10/device/wsdl\">"
            "<env:Header><a:MessageID>urn:uuid:fedcba98-7654-3210-fedc-ba9876543210</a:MessageID>"
            "<a:RelatesTo>uuid:probe-1</a:RelatesTo>"
            "<a:To>http://schemas.xmlsoap.org/ws/2004/08/addressing/role/anonymous</a:To>"
            "<a:Action>http://schemas.xmlsoap.org/ws/2005/04/discovery/ProbeMatches</a:Action></env:Header>"
            "<env:Body><d:ProbeMatches><d:ProbeMatch><a:EndpointReference>"
            "<a:Address>urn:uuid:01234567-89ab-cdef-0123-456789abcdef</a:Address></a:EndpointReference>"
            "<d:Types>dn:NetworkVideoTransmitter tds:Device</d:Types><d:Scopes>"
            "onvif://www.onvif.org/type/video_encoder onvif://www.onvif.org/Profile/Streaming "
            "onvif://www.onvif.org/name/Lumicast-0123 onvif://www.onvif.org/hardware/LCX-0123456789ab</d:Scopes>"
            "<d:XAddrs>http://192.168.7.3:8000/onvif/device_service</d:XAddrs>"
            "<d:MetadataVersion>1</d:MetadataVersion></d:ProbeMatch></d:ProbeMatches></env:Body></env:Envelope>");
}

TEST(AnswerDiscoveryDatagram, WhatGetsAnAnswer) {
  struct Case {
    const char* name;
    std::string datagram;
    bool answered;
    const char* relates_to;
  } cases[] = {
      {"standard probe", Probe("uuid:1111"), true, "uuid:1111"},
      {"probe for another type", Probe("uuid:2222", "dp0:Display"), true, "uuid:2222"},
      {"MessageID taken untrimmed", Probe(" uuid:3 "), true, " uuid:3 "},
      {"probe without MessageID", "<s:Body><d:Probe/></s:Body>", true, ""},
      {"hello", "<a:MessageID>uuid:9</a:MessageID><s:Body><d:Hello/></s:Body>", false, ""},
      {"bye", "<a:MessageID>uuid:9</a:MessageID><s:Body><d:Bye/></s:Body>", false, ""},
      {"anything else", "hello world", false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto answer = AnswerDiscoveryDatagram(Service(), c.datagram);
    ASSERT_EQ(answer.has_value(), c.answered);
    if (answer) {
      EXPECT_EQ(*answer, BuildProbeMatches(Service(), c.relates_to));
    }
  }
}

TEST(ServeDiscoveryDatagram, AnswersTheSenderOnce) {
  int joined = -1, error = 0;
  UniqueFd server = OpenDiscoverySocket(0, &joined, &error);
  ASSERT_TRUE(server.valid()) << error;
  EXPECT_GE(joined, 0);
  SetReceiveTimeoutMs(server.get(), 1000);
  sockaddr_in addr{};
  socklen_t len = sizeof addr;
  ASSERT_EQ(::getsockname(server.get(), reinterpret_cast<sockaddr*>(&addr), &len), 0);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);

  UniqueFd client(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  SetReceiveTimeoutMs(client.get(), 300);
  auto send = [&](const std::string& d) {
    return ::sendto(client.get(), d.data(), d.size(), 0, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  };
  auto receive = [&]() {
    char buf[9000];
    ssize_t n = ::recv(client.get(), buf, sizeof buf, 0);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
  };
  OnvifService service = Service();

  for (const char* id : {"uuid:a", "uuid:b"}) {
    send(Probe(id));
    EXPECT_TRUE(ServeDiscoveryDatagram(service, server.get()));
    EXPECT_EQ(receive(), BuildProbeMatches(service, id));
    EXPECT_EQ(receive(), "") << "exactly one answer";
  }
  send("<d:Hello>uuid:c</d:Hello>");
  EXPECT_TRUE(ServeDiscoveryDatagram(service, server.get()));
  EXPECT_EQ(receive(), "");
  // Too long for the receive buffer: dropped, not answered from its start.
  send(Probe("uuid:d") + std::string(9000, ' '));
  EXPECT_TRUE(ServeDiscoveryDatagram(service, server.get()));
  EXPECT_EQ(receive(), "");
}

}  // namespace
}  // namespace lcx
