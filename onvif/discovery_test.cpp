#include "onvif/discovery.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <string>
#include <vector>

#include "onvif/onvif_service.h"
#include "platform/net.h"

namespace lcx {
namespace {

constexpr const char* kAnswerId = "urn:uuid:fedcba98-7654-3210-fedc-ba9876543210";

OnvifService Service() {
  OnvifService s;
  s.ip = "192.168.7.3";
  s.onvif_port = 8000;
  s.endpoint_uuid = "urn:uuid:01234567-89ab-cdef-0123-456789abcdef";
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
  EXPECT_EQ(BuildProbeMatches(Service(), "uuid:probe-1", kAnswerId),
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

// Envelope around a header and a body, as the Node.js onvif client writes
// it: no prefixes, namespaces declared where they are used.
std::string Envelope(const std::string& action, const std::string& header_rest, const std::string& body) {
  return "<Envelope xmlns=\"http://www.w3.org/2003/05/soap-envelope\"><Header>"
         "<wsa:MessageID xmlns:wsa=\"http://schemas.xmlsoap.org/ws/2004/08/addressing\">" + header_rest +
         "</wsa:MessageID><wsa:Action xmlns:wsa=\"http://schemas.xmlsoap.org/ws/2004/08/addressing\">" + action +
         "</wsa:Action></Header><Body>" + body + "</Body></Envelope>";
}
const std::string kProbeAction = "http://schemas.xmlsoap.org/ws/2005/04/discovery/Probe";
const std::string kProbeBody =
    "<Probe xmlns=\"http://schemas.xmlsoap.org/ws/2005/04/discovery\"><Types>dn:NetworkVideoTransmitter</Types>"
    "<Scopes /></Probe>";

TEST(AnswerDiscoveryDatagram, WhatGetsAnAnswer) {
  OnvifService service = Service();
  const std::string matches = BuildProbeMatches(service, "uuid:1111", kAnswerId);
  struct Case {
    const char* name;
    std::string datagram;
    bool answered;
    const char* relates_to;
  } cases[] = {
      {"standard probe", Probe("uuid:1111"), true, "uuid:1111"},
      {"probe for another type", Probe("uuid:2222", "dp0:Display"), true, "uuid:2222"},
      {"MessageID taken untrimmed", Probe(" uuid:3 "), true, " uuid:3 "},
      {"Node.js onvif client", Envelope(kProbeAction, "urn:uuid:4", kProbeBody), true, "urn:uuid:4"},
      {"prefixed probe, comment and declaration",
       "<?xml version=\"1.0\"?><!-- hi --><s:Envelope xmlns:s=\"http://www.w3.org/2003/05/soap-envelope\" "
       "xmlns:a=\"http://schemas.xmlsoap.org/ws/2004/08/addressing\" "
       "xmlns:d=\"http://schemas.xmlsoap.org/ws/2005/04/discovery\"><s:Header><a:Action>\n " + kProbeAction +
           " </a:Action></s:Header><s:Body><d:Probe/></s:Body></s:Envelope>",
       true, ""},
      {"entities decoded, then escaped again", Probe("uuid:a&amp;b&#60;c&#x3e;"), true, "uuid:a&b<c>"},
      {"MessageID in CDATA", Probe("<![CDATA[uuid:c&d]]>"), true, "uuid:c&d"},
      // Never our own answer: it once named "Probe" and was answered without end.
      {"our own ProbeMatches", matches, false, ""},
      {"ProbeMatches body under the Probe action",
       Envelope(kProbeAction, "uuid:5", "<d:ProbeMatches xmlns:d=\"http://schemas.xmlsoap.org/ws/2005/04/discovery\"/>"),
       false, ""},
      {"Probe body under another action",
       Envelope("http://schemas.xmlsoap.org/ws/2005/04/discovery/Hello", "uuid:6", kProbeBody), false, ""},
      {"Probe of another namespace",
       Envelope(kProbeAction, "uuid:7", "<Probe xmlns=\"urn:other\"/>"), false, ""},
      {"Probe action, no body element", Envelope(kProbeAction, "uuid:8", ""), false, ""},
      {"hello", "<a:MessageID>uuid:9</a:MessageID><s:Body><d:Hello/></s:Body>", false, ""},
      {"bye", "<a:MessageID>uuid:9</a:MessageID><s:Body><d:Bye/></s:Body>", false, ""},
      {"the bare word", "Probe", false, ""},
      {"anything else", "hello world", false, ""},
      {"MessageID not well-formed", Probe("uuid:1&x\" ]]>"), false, ""},
      {"MessageID with a control character", Probe("uuid:1&#7;"), false, ""},
      {"MessageID not ASCII", Probe("uuid:\xc3\xa9"), false, ""},
      {"tags that do not match", Envelope(kProbeAction, "uuid:10", kProbeBody + "</Extra>"), false, ""},
      {"document cut short", Probe("uuid:11").substr(0, 400), false, ""},
      {"DOCTYPE", "<!DOCTYPE x [<!ENTITY e \"Probe\">]>" + Probe("uuid:12"), false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto answer = AnswerDiscoveryDatagram(service, c.datagram, kAnswerId);
    ASSERT_EQ(answer.has_value(), c.answered);
    if (answer) {
      EXPECT_EQ(*answer, BuildProbeMatches(service, c.relates_to, kAnswerId));
    }
  }
}

TEST(BuildProbeMatches, EscapesWhatItEchoes) {
  std::string answer = BuildProbeMatches(Service(), "uuid:1&x\" ]]><y>", kAnswerId);
  EXPECT_NE(answer.find("<a:RelatesTo>uuid:1&amp;x\" ]]&gt;&lt;y&gt;</a:RelatesTo>"), std::string::npos) << answer;
}

TEST(NewMessageId, RandomVersion4Uuids) {
  std::string a = NewMessageId(), b = NewMessageId();
  EXPECT_NE(a, b);
  for (const std::string& id : {a, b}) {
    ASSERT_EQ(id.size(), 45u) << id;
    EXPECT_EQ(id.substr(0, 9), "urn:uuid:");
    EXPECT_EQ(id[9 + 14], '4') << id;
    EXPECT_NE(std::string("89ab").find(id[9 + 19]), std::string::npos) << id;
  }
}

TEST(AllowDiscoveryAnswer, PerSenderPerSecond) {
  DiscoveryRateLimit limit;
  limit.per_second = 2;
  limit.max_senders = 2;
  EXPECT_TRUE(AllowDiscoveryAnswer(limit, 1, 1000));
  EXPECT_TRUE(AllowDiscoveryAnswer(limit, 1, 1500));
  EXPECT_FALSE(AllowDiscoveryAnswer(limit, 1, 1999));
  EXPECT_TRUE(AllowDiscoveryAnswer(limit, 2, 1999)) << "another sender has its own budget";
  EXPECT_FALSE(AllowDiscoveryAnswer(limit, 3, 1999)) << "no room for a third sender";
  EXPECT_TRUE(AllowDiscoveryAnswer(limit, 1, 2000)) << "a new second";
  EXPECT_TRUE(AllowDiscoveryAnswer(limit, 3, 3000)) << "room once an old window has passed";
}

TEST(IsOwnAnswer, RemembersTheLastAnswersOnly) {
  DiscoveryGuard guard;
  EXPECT_FALSE(IsOwnAnswer(guard, ""));
  for (size_t i = 0; i <= kRememberedAnswers; ++i) RememberAnswer(guard, "answer " + std::to_string(i));
  EXPECT_FALSE(IsOwnAnswer(guard, "answer 0")) << "pushed out by the newer ones";
  EXPECT_TRUE(IsOwnAnswer(guard, "answer 1"));
  EXPECT_TRUE(IsOwnAnswer(guard, "answer " + std::to_string(kRememberedAnswers)));
  EXPECT_FALSE(IsOwnAnswer(guard, "answer 1 ")) << "byte for byte only";
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
  DiscoveryGuard guard;
  guard.limit.per_second = 3;
  auto serve = [&] { return ServeDiscoveryDatagram(service, server.get(), guard, 1000); };

  // Each answer carries its own MessageID: discovery clients drop a message
  // whose identifier they have seen, and so missed the camera on their
  // second search.
  auto answer_id = [](const std::string& answer) {
    size_t at = answer.find("<a:MessageID>") + 13;
    return answer.substr(at, answer.find("</a:MessageID>") - at);
  };
  std::vector<std::string> ids;
  for (const char* id : {"uuid:a", "uuid:b"}) {
    send(Probe(id));
    EXPECT_TRUE(serve());
    std::string answer = receive();
    ids.push_back(answer_id(answer));
    EXPECT_EQ(answer, BuildProbeMatches(service, id, ids.back()));
    EXPECT_EQ(receive(), "") << "exactly one answer";
  }
  EXPECT_NE(ids[0], ids[1]);
  send("<d:Hello>uuid:c</d:Hello>");
  EXPECT_TRUE(serve());
  EXPECT_EQ(receive(), "");
  // Too long for the receive buffer: dropped, not answered from its start.
  send(Probe("uuid:d") + std::string(9000, ' '));
  EXPECT_TRUE(serve());
  EXPECT_EQ(receive(), "");
  // The third probe in the same second is the last one answered.
  send(Probe("uuid:e"));
  EXPECT_TRUE(serve());
  EXPECT_NE(receive().find("<a:RelatesTo>uuid:e</a:RelatesTo>"), std::string::npos);
  send(Probe("uuid:f"));
  EXPECT_TRUE(serve());
  EXPECT_EQ(receive(), "");

  // A recorder on this machine probes from port 3702, shared with the
  // responder: its probe is answered, and our answer sent back to us is not.
  UniqueFd own(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  int on = 1;
  ::setsockopt(own.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  ASSERT_EQ(::bind(own.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  SetReceiveTimeoutMs(own.get(), 300);
  guard.limit.senders.clear();
  std::string probe = Probe("uuid:g");
  sockaddr_in other_loopback = addr;  // not the address `own` is bound to, or it would hear itself
  other_loopback.sin_addr.s_addr = htonl(0x7F000002);
  auto send_own = [&](const std::string& d) {
    ::sendto(own.get(), d.data(), d.size(), 0, reinterpret_cast<sockaddr*>(&other_loopback), sizeof other_loopback);
  };
  send_own(probe);
  EXPECT_TRUE(serve());
  char buf[9000];
  ssize_t n = ::recv(own.get(), buf, sizeof buf, 0);
  ASSERT_GT(n, 0) << "a probe from the port of the responder is answered";
  const std::string own_answer(buf, static_cast<size_t>(n));
  EXPECT_NE(own_answer.find("<a:RelatesTo>uuid:g</a:RelatesTo>"), std::string::npos);
  send_own(own_answer);
  EXPECT_TRUE(serve());
  EXPECT_LT(::recv(own.get(), buf, sizeof buf, 0), 1);
  EXPECT_TRUE(IsOwnAnswer(guard, own_answer));
}

}  // namespace
}  // namespace lcx
