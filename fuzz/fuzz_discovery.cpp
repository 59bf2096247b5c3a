// WS-Discovery datagrams: only a Probe is answered, the answer is exactly
// the ProbeMatches for its MessageID, and it is well-formed XML whatever the
// datagram held (a MessageID is echoed into RelatesTo).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "onvif/discovery.h"
#include "onvif/onvif_service.h"

namespace {

bool NameChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == ':' || c == '_' ||
         c == '-' || c == '.';
}

// Entity references are "&name;" or "&#digits;"; text may not hold "<", and
// "]]>" only closes a CDATA section.
bool TextWellFormed(std::string_view text) {
  if (text.find("]]>") != std::string_view::npos) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '<') return false;
    if (text[i] != '&') continue;
    size_t end = text.find(';', i);
    if (end == std::string_view::npos || end == i + 1) return false;
    for (size_t j = i + 1; j < end; ++j)
      if (!NameChar(text[j]) && text[j] != '#') return false;
    i = end;
  }
  return true;
}

// Just enough of XML for what BuildProbeMatches writes: a declaration,
// elements with quoted attributes, text, balanced tags and one root.
bool WellFormed(std::string_view xml) {
  std::vector<std::string_view> open;
  size_t i = 0;
  if (xml.rfind("<?xml", 0) == 0) {
    i = xml.find("?>");
    if (i == std::string_view::npos) return false;
    i += 2;
  }
  bool root_seen = false;
  while (i < xml.size()) {
    size_t lt = xml.find('<', i);
    std::string_view text = xml.substr(i, lt == std::string_view::npos ? std::string_view::npos : lt - i);
    if (!TextWellFormed(text)) return false;
    if (open.empty() && text.find_first_not_of(" \t\r\n") != std::string_view::npos) return false;
    if (lt == std::string_view::npos) break;
    size_t j = lt + 1;
    const bool closing = j < xml.size() && xml[j] == '/';
    if (closing) ++j;
    size_t name_start = j;
    while (j < xml.size() && NameChar(xml[j])) ++j;
    std::string_view name = xml.substr(name_start, j - name_start);
    if (name.empty()) return false;
    for (;;) {  // attributes
      while (j < xml.size() && (xml[j] == ' ' || xml[j] == '\t' || xml[j] == '\r' || xml[j] == '\n')) ++j;
      if (j >= xml.size()) return false;
      if (xml[j] == '>' || (xml[j] == '/' && !closing)) break;
      if (closing) return false;
      size_t attr = j;
      while (j < xml.size() && NameChar(xml[j])) ++j;
      if (j == attr || j + 1 >= xml.size() || xml[j] != '=' || (xml[j + 1] != '"' && xml[j + 1] != '\'')) return false;
      size_t close = xml.find(xml[j + 1], j + 2);
      if (close == std::string_view::npos || !TextWellFormed(xml.substr(j + 2, close - j - 2))) return false;
      j = close + 1;
    }
    if (closing) {
      if (open.empty() || open.back() != name) return false;
      open.pop_back();
      i = j + 1;
      continue;
    }
    if (open.empty()) {
      if (root_seen) return false;
      root_seen = true;
    }
    if (xml[j] == '/') {
      if (j + 1 >= xml.size() || xml[j + 1] != '>') return false;
      i = j + 2;
    } else {
      open.push_back(name);
      i = j + 1;
    }
  }
  return root_seen && open.empty();
}

// A fixed answer id keeps the answer comparable from run to run.
constexpr std::string_view kAnswerId = "urn:uuid:00000000-0000-4000-8000-000000000001";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace lcx;
  static const OnvifService service = [] {
    OnvifService s;
    s.ip = "192.168.7.3";
    s.device_name = "Lumicast-0123";
    s.serial_number = "LCX-0123456789ab";
    return s;
  }();
  static const bool probe_matches_well_formed = WellFormed(BuildProbeMatches(service, "uuid:1", kAnswerId));
  LCX_FUZZ_CHECK(probe_matches_well_formed);

  const std::string_view datagram(reinterpret_cast<const char*>(data), size);
  const std::optional<std::string> message_id = ParseProbe(datagram);
  const std::optional<std::string> answer = AnswerDiscoveryDatagram(service, datagram, kAnswerId);
  LCX_FUZZ_CHECK(answer.has_value() == message_id.has_value());
  if (answer) {
    LCX_FUZZ_CHECK(*answer == BuildProbeMatches(service, *message_id, kAnswerId));
    LCX_FUZZ_CHECK(WellFormed(*answer));
    // Never an answer to an answer.
    LCX_FUZZ_CHECK(!ParseProbe(*answer));
  }
  // Any text echoed must leave the answer well formed.
  LCX_FUZZ_CHECK(WellFormed(BuildProbeMatches(service, datagram, kAnswerId)));
  return 0;
}
