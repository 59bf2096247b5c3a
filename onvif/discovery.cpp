#include "onvif/discovery.h"


#include <atomic>
#include <cstring>
#include <vector>

#include "core/address.h"
#include "core/log.h"
#include "onvif/device_identity.h"
#include "onvif/onvif_operations.h"
#include "onvif/soap_envelope.h"
#include "onvif/onvif_service.h"
#include "platform/net.h"
#include "platform/system.h"
#include "security/digest.h"

namespace lcx {
namespace {

constexpr size_t kMaxDatagram = 8191;
constexpr std::string_view kDiscoveryNamespace = "http://schemas.xmlsoap.org/ws/2005/04/discovery";
constexpr std::string_view kProbeAction = "http://schemas.xmlsoap.org/ws/2005/04/discovery/Probe";

// Just enough XML for a probe: elements with their namespace declarations,
// character data with entities, CDATA, comments and processing
// instructions. Anything else (a DOCTYPE, a bad entity, a stray "<",
// mismatched tags) makes the datagram no probe.
class ProbeReader {
 public:
  explicit ProbeReader(std::string_view xml) : xml_(xml) {}
  std::optional<std::string> Read();

 private:
  struct Element {
    std::string_view name;
    std::vector<std::pair<std::string_view, std::string_view>> namespaces;  // prefix ("" = default), URI
  };
  bool Text(std::string_view raw, std::string* out);
  bool StartTag(Element* element, bool* empty);
  std::string_view Namespace(std::string_view prefix) const;
  std::string_view LocalName(std::string_view name) const {
    size_t colon = name.find(':');
    return colon == std::string_view::npos ? name : name.substr(colon + 1);
  }
  std::string_view Prefix(std::string_view name) const {
    size_t colon = name.find(':');
    return colon == std::string_view::npos ? std::string_view() : name.substr(0, colon);
  }

  std::string_view xml_;
  size_t at_ = 0;
  std::vector<Element> open_;
};

bool ProbeReader::Text(std::string_view raw, std::string* out) {
  for (size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] != '&') {
      out->push_back(raw[i]);
      continue;
    }
    size_t semi = raw.find(';', i);
    if (semi == std::string_view::npos) return false;
    std::string_view name = raw.substr(i + 1, semi - i - 1);
    static constexpr std::pair<std::string_view, char> kNamed[] = {
        {"lt", '<'}, {"gt", '>'}, {"amp", '&'}, {"quot", '"'}, {"apos", '\''}};
    bool known = false;
    for (const auto& [entity, c] : kNamed) {
      if (name == entity) {
        out->push_back(c);
        known = true;
      }
    }
    if (!known && name.size() >= 2 && name[0] == '#') {
      // Character references: only plain ASCII is of use in a MessageID.
      bool hex = name[1] == 'x';
      long value = 0;
      std::string_view digits = name.substr(hex ? 2 : 1);
      for (char c : digits) {
        int d = c >= '0' && c <= '9' ? c - '0' : hex && c >= 'a' && c <= 'f' ? c - 'a' + 10
                : hex && c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        if (d < 0 || value > 0x10FFFF) return false;
        value = value * (hex ? 16 : 10) + d;
      }
      if (digits.empty() || value < 1 || value > 0x7E) return false;
      out->push_back(static_cast<char>(value));
      known = true;
    }
    if (!known) return false;
    i = semi;
  }
  return true;
}

std::string_view ProbeReader::Namespace(std::string_view prefix) const {
  for (auto element = open_.rbegin(); element != open_.rend(); ++element) {
    for (const auto& [declared, uri] : element->namespaces) {
      if (declared == prefix) return uri;
    }
  }
  return {};
}

// At the "<" of a start tag: reads the name and attributes up to ">".
bool ProbeReader::StartTag(Element* element, bool* empty) {
  size_t i = at_ + 1;
  auto name_end = [&](size_t from) { return xml_.find_first_of(" \t\r\n/>=", from); };
  size_t end = name_end(i);
  if (end == std::string_view::npos || end == i) return false;
  element->name = xml_.substr(i, end - i);
  i = end;
  for (;;) {
    i = xml_.find_first_not_of(" \t\r\n", i);
    if (i == std::string_view::npos) return false;
    if (xml_[i] == '>' || xml_.substr(i, 2) == "/>") {
      *empty = xml_[i] == '/';
      at_ = i + (*empty ? 2 : 1);
      return true;
    }
    end = name_end(i);
    if (end == std::string_view::npos || end == i) return false;
    std::string_view attribute = xml_.substr(i, end - i);
    i = xml_.find_first_not_of(" \t\r\n", end);
    if (i == std::string_view::npos || xml_[i] != '=') return false;
    i = xml_.find_first_not_of(" \t\r\n", i + 1);
    if (i == std::string_view::npos || (xml_[i] != '"' && xml_[i] != '\'')) return false;
    size_t close = xml_.find(xml_[i], i + 1);
    if (close == std::string_view::npos) return false;
    std::string_view value = xml_.substr(i + 1, close - i - 1);
    if (value.find('<') != std::string_view::npos) return false;
    if (attribute == "xmlns") element->namespaces.emplace_back(std::string_view(), value);
    if (attribute.substr(0, 6) == "xmlns:") element->namespaces.emplace_back(attribute.substr(6), value);
    i = close + 1;
  }
}

std::optional<std::string> ProbeReader::Read() {
  std::string action, message_id, text;
  bool in_header = false, in_body = false, is_probe = false, body_seen_child = false;
  std::string* collect = nullptr;  // the header element whose text is wanted
  while (at_ < xml_.size()) {
    size_t lt = xml_.find('<', at_);
    std::string_view raw = xml_.substr(at_, lt == std::string_view::npos ? std::string_view::npos : lt - at_);
    if (!Text(raw, &text)) return std::nullopt;
    if (lt == std::string_view::npos) break;
    at_ = lt;
    std::string_view rest = xml_.substr(at_);
    if (rest.substr(0, 4) == "<!--" || rest.substr(0, 2) == "<?") {
      size_t end = rest.substr(0, 2) == "<?" ? rest.find("?>") : rest.find("-->");
      if (end == std::string_view::npos) return std::nullopt;
      at_ += end + (rest[1] == '?' ? 2 : 3);
      continue;
    }
    if (rest.substr(0, 9) == "<![CDATA[") {
      size_t end = rest.find("]]>");
      if (end == std::string_view::npos) return std::nullopt;
      text.append(rest.substr(9, end - 9));
      at_ += end + 3;
      continue;
    }
    if (rest.substr(0, 2) == "<!") return std::nullopt;
    if (rest.substr(0, 2) == "</") {
      size_t gt = rest.find('>');
      if (gt == std::string_view::npos || open_.empty()) return std::nullopt;
      std::string_view name = rest.substr(2, gt - 2);
      while (!name.empty() && (name.back() == ' ' || name.back() == '\t' || name.back() == '\r' || name.back() == '\n'))
        name.remove_suffix(1);
      if (name != open_.back().name) return std::nullopt;
      if (collect && open_.size() == 3) {
        *collect = text;
        collect = nullptr;
      }
      if (open_.size() == 2) in_header = in_body = false;
      open_.pop_back();
      at_ += gt + 1;
      continue;
    }
    Element element;
    bool empty = false;
    if (!StartTag(&element, &empty)) return std::nullopt;
    open_.push_back(element);
    text.clear();
    const std::string_view local = LocalName(element.name);
    const size_t depth = open_.size();  // 1: Envelope, 2: Header or Body
    if (depth == 1 && local != "Envelope") return std::nullopt;
    if (depth == 2) {
      in_header = local == "Header";
      in_body = local == "Body";
    }
    if (depth == 3 && in_header && (local == "Action" || local == "MessageID")) {
      collect = local == "Action" ? &action : &message_id;
    }
    if (depth == 3 && in_body && !body_seen_child) {
      body_seen_child = true;
      is_probe = local == "Probe" && Namespace(Prefix(element.name)) == kDiscoveryNamespace;
    }
    if (empty) {
      if (collect && depth == 3) {
        collect->clear();
        collect = nullptr;
      }
      if (depth == 2) in_header = in_body = false;
      open_.pop_back();
    }
  }
  if (!open_.empty() || !is_probe) return std::nullopt;
  constexpr std::string_view kBlank = " \t\r\n";
  size_t first = action.find_first_not_of(kBlank);
  size_t last = action.find_last_not_of(kBlank);
  if (first == std::string::npos || std::string_view(action).substr(first, last - first + 1) != kProbeAction) {
    return std::nullopt;
  }
  // Echoed back: printable ASCII only, so the answer stays well-formed.
  for (char c : message_id) {
    if ((c < 0x20 && c != '\t') || c > 0x7E) return std::nullopt;
  }
  return message_id;
}

}  // namespace

std::optional<std::string> ParseProbe(std::string_view datagram) { return ProbeReader(datagram).Read(); }

std::string NewMessageId() {
  // Version 4 (random) in the variant of RFC 4122.
  std::string hex = RandomHex(16);
  if (hex.size() != 32) {
    // No random source: still a different identifier for every answer.
    static std::atomic<uint64_t> counter{0};
    hex = Md5Hex(std::to_string(BootTickMs()) + "/" + std::to_string(counter.fetch_add(1)));
  }
  hex[12] = '4';
  hex[16] = "89ab"[std::stoi(hex.substr(16, 1), nullptr, 16) & 3];
  return UrnUuidFromHex(hex);
}

std::string BuildProbeMatches(const OnvifService& service, std::string_view relates_to, std::string_view message_id) {
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
  out += "<env:Header><a:MessageID>";
  out += message_id;
  out += "</a:MessageID><a:RelatesTo>";
  out += EscapeXmlText(relates_to);
  out += "</a:RelatesTo><a:To>http://schemas.xmlsoap.org/ws/2004/08/addressing/role/anonymous</a:To>"
         "<a:Action>http://schemas.xmlsoap.org/ws/2005/04/discovery/ProbeMatches</a:Action></env:Header>";
  out += "<env:Body><d:ProbeMatches><d:ProbeMatch><a:EndpointReference><a:Address>" + service.endpoint_uuid +
         "</a:Address></a:EndpointReference><d:Types>dn:NetworkVideoTransmitter tds:Device</d:Types><d:Scopes>" +
         scopes + "</d:Scopes><d:XAddrs>http://" + service.ip + ":" + std::to_string(service.onvif_port) +
         "/onvif/device_service</d:XAddrs><d:MetadataVersion>1</d:MetadataVersion></d:ProbeMatch>"
         "</d:ProbeMatches></env:Body></env:Envelope>";
  return out;
}

std::optional<std::string> AnswerDiscoveryDatagram(const OnvifService& service, std::string_view datagram,
                                                   std::string_view answer_id) {
  std::optional<std::string> message_id = ParseProbe(datagram);
  if (!message_id) return std::nullopt;
  return BuildProbeMatches(service, *message_id, answer_id);
}

bool AllowDiscoveryAnswer(DiscoveryRateLimit& limit, uint32_t address, int64_t now_ms) {
  constexpr int64_t kWindowMs = 1000;
  auto sender = limit.senders.find(address);
  if (sender == limit.senders.end()) {
    if (limit.senders.size() >= limit.max_senders) {
      std::erase_if(limit.senders, [&](const auto& entry) { return now_ms - entry.second.start_ms >= kWindowMs; });
      if (limit.senders.size() >= limit.max_senders) return false;
    }
    sender = limit.senders.emplace(address, DiscoveryRateLimit::Window{now_ms, 0}).first;
  }
  DiscoveryRateLimit::Window& window = sender->second;
  if (now_ms - window.start_ms >= kWindowMs) window = {now_ms, 0};
  if (window.count >= limit.per_second) return false;
  ++window.count;
  return true;
}

void RememberAnswer(DiscoveryGuard& guard, std::string_view answer) {
  std::string digest = Md5Hex(answer);
  if (guard.sent.size() < kRememberedAnswers) {
    guard.sent.push_back(std::move(digest));
  } else {
    guard.sent[guard.next_sent] = std::move(digest);
  }
  guard.next_sent = (guard.next_sent + 1) % kRememberedAnswers;
}

bool IsOwnAnswer(const DiscoveryGuard& guard, std::string_view datagram) {
  if (guard.sent.empty()) return false;
  const std::string digest = Md5Hex(datagram);
  for (const std::string& sent : guard.sent) {
    if (sent == digest) return true;
  }
  return false;
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

bool ServeDiscoveryDatagram(const OnvifService& service, int fd, DiscoveryGuard& guard, int64_t now_ms) {
  char buf[kMaxDatagram];
  DatagramPeer from;
  // The real size is reported, so an oversized datagram is dropped rather
  // than answered from its first part.
  long n = ReceiveDatagram(fd, buf, kMaxDatagram, &from);
  if (n <= 0) return false;
  if (static_cast<size_t>(n) > kMaxDatagram) return true;
  const std::string_view datagram(buf, static_cast<size_t>(n));
  if (IsOwnAnswer(guard, datagram)) return true;
  std::optional<std::string> answer = AnswerDiscoveryDatagram(service, datagram, NewMessageId());
  if (answer && AllowDiscoveryAnswer(guard.limit, from.address, now_ms)) {
    RememberAnswer(guard, *answer);
    SendDatagram(fd, *answer, from);
  }
  return true;
}

void RunDiscovery(OnvifService& service) {
  int joined = 0, error = 0;
  UniqueFd fd = OpenDiscoverySocket(kDiscoveryPort, &joined, &error);
  if (!fd) {
    LogLine("WS-Discovery: bind failed: %d (%s), UDP port %d\n", error, std::strerror(error), kDiscoveryPort);
    return;
  }
  LogLine("WS-Discovery ready (UDP 3702, joined %d interface(s))\n", joined);
  DiscoveryGuard guard;
  for (;;) {
    if (!ServeDiscoveryDatagram(service, fd.get(), guard, static_cast<int64_t>(BootTickMs()))) SleepMs(5);
  }
}

}  // namespace lcx
