#include "onvif/soap_envelope.h"

#include "onvif/onvif_service.h"

namespace lcx {
namespace {

constexpr const char* kSoap12Ns = "http://www.w3.org/2003/05/soap-envelope";
constexpr const char* kSoap11Ns = "http://schemas.xmlsoap.org/soap/envelope/";

constexpr const char* kEnvelopeNamespaces =
    " xmlns:tds=\"http://www.onvif.org/ver10/device/wsdl\""
    " xmlns:trt=\"http://www.onvif.org/ver10/media/wsdl\""
    " xmlns:ter=\"http://www.onvif.org/ver10/error\""
    " xmlns:tt=\"http://www.onvif.org/ver10/schema\"><env:Body>";

bool Has(std::string_view text, std::string_view part) { return text.find(part) != std::string_view::npos; }

// One tag of the request as far as the operation search needs it.
struct Tag {
  std::string_view qname;
  std::string_view attributes;  // between the name and the closing ">" or "/>"
  bool closing = false;
  bool self_closing = false;
};

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// The next element tag from `pos` on, past declarations, comments and
// CDATA; nothing when the text ends first.
std::optional<Tag> NextTag(std::string_view xml, size_t& pos) {
  for (;;) {
    size_t open = xml.find('<', pos);
    if (open == std::string_view::npos) return std::nullopt;
    std::string_view rest = xml.substr(open);
    std::string_view until;
    if (rest.substr(0, 4) == "<!--") until = "-->";
    else if (rest.substr(0, 9) == "<![CDATA[") until = "]]>";
    else if (rest.substr(0, 2) == "<?") until = "?>";
    else if (rest.substr(0, 2) == "<!") until = ">";
    if (!until.empty()) {
      size_t end = xml.find(until, open);
      if (end == std::string_view::npos) return std::nullopt;
      pos = end + until.size();
      continue;
    }
    size_t close = xml.find('>', open);
    if (close == std::string_view::npos) return std::nullopt;
    pos = close + 1;
    Tag tag;
    size_t at = open + 1;
    if (at < close && xml[at] == '/') {
      tag.closing = true;
      ++at;
    }
    size_t name_end = at;
    while (name_end < close && !IsBlank(xml[name_end]) && xml[name_end] != '/') ++name_end;
    tag.qname = xml.substr(at, name_end - at);
    size_t attr_end = close;
    if (attr_end > name_end && xml[attr_end - 1] == '/') {
      tag.self_closing = true;
      --attr_end;
    }
    tag.attributes = xml.substr(name_end, attr_end - name_end);
    if (tag.qname.empty()) continue;
    return tag;
  }
}

std::string_view LocalName(std::string_view qname) {
  size_t colon = qname.find(':');
  return colon == std::string_view::npos ? qname : qname.substr(colon + 1);
}

// Value of the attribute `name` (quoted either way); nothing when absent.
std::optional<std::string_view> AttributeValue(std::string_view attributes, std::string_view name) {
  size_t at = 0;
  while (at < attributes.size()) {
    while (at < attributes.size() && IsBlank(attributes[at])) ++at;
    size_t eq = attributes.find('=', at);
    if (eq == std::string_view::npos) return std::nullopt;
    std::string_view key = attributes.substr(at, eq - at);
    while (!key.empty() && IsBlank(key.back())) key.remove_suffix(1);
    size_t quote = eq + 1;
    while (quote < attributes.size() && IsBlank(attributes[quote])) ++quote;
    if (quote >= attributes.size() || (attributes[quote] != '"' && attributes[quote] != '\'')) return std::nullopt;
    size_t end = attributes.find(attributes[quote], quote + 1);
    if (end == std::string_view::npos) return std::nullopt;
    if (key == name) return attributes.substr(quote + 1, end - quote - 1);
    at = end + 1;
  }
  return std::nullopt;
}

}  // namespace

SoapVersion SoapVersionOf(std::string_view body) {
  return Has(body, kSoap11Ns) && !Has(body, kSoap12Ns) ? SoapVersion::k11 : SoapVersion::k12;
}

const char* SoapContentType(SoapVersion version) {
  return version == SoapVersion::k11 ? "text/xml; charset=utf-8" : "application/soap+xml; charset=utf-8";
}

std::string WrapSoapEnvelope(std::string_view body) { return WrapSoapEnvelope(body, SoapVersion::k12); }

std::string WrapSoapEnvelope(std::string_view body, SoapVersion version) {
  std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><env:Envelope xmlns:env=\"";
  out += version == SoapVersion::k11 ? kSoap11Ns : kSoap12Ns;
  out += "\"";
  out += kEnvelopeNamespaces;
  out.append(body);
  out.append("</env:Body></env:Envelope>");
  return out;
}

std::string BuildSoapFault(const SoapFault& fault, SoapVersion version) {
  if (version == SoapVersion::k11) {
    return std::string("<env:Fault><faultcode>") + (fault.sender ? "env:Client" : "env:Server") +
           "</faultcode><faultstring>" + fault.reason + "</faultstring></env:Fault>";
  }
  std::string out = "<env:Fault><env:Code><env:Value>";
  out += fault.sender ? "env:Sender" : "env:Receiver";
  out += "</env:Value>";
  out += std::string("<env:Subcode><env:Value>") + fault.subcode + "</env:Value>";
  if (fault.inner_subcode) out += std::string("<env:Subcode><env:Value>") + fault.inner_subcode + "</env:Value></env:Subcode>";
  out += "</env:Subcode>";
  out += "</env:Code><env:Reason><env:Text xml:lang=\"en\">";
  out += fault.reason;
  out += "</env:Text></env:Reason></env:Fault>";
  return out;
}

const char* SoapFaultStatus(const SoapFault& fault, SoapVersion version) {
  return version == SoapVersion::k12 && fault.sender ? "400 Bad Request" : "500 Internal Server Error";
}

BodyShape FindSoapOperation(std::string_view body, SoapOperation* operation) {
  size_t pos = 0;
  std::optional<Tag> envelope, soap_body;
  while (std::optional<Tag> tag = NextTag(body, pos)) {
    if (tag->closing) continue;
    std::string_view name = LocalName(tag->qname);
    if (!envelope) {
      if (name != "Envelope") return BodyShape::kNoBody;
      if (tag->self_closing) return BodyShape::kNoBody;
      envelope = tag;
    } else if (name == "Body") {
      soap_body = tag;
      break;
    }
  }
  if (!soap_body) return BodyShape::kNoBody;
  if (soap_body->self_closing) return BodyShape::kEmptyBody;
  std::optional<Tag> first = NextTag(body, pos);
  if (!first) return BodyShape::kNoBody;
  if (first->closing) return BodyShape::kEmptyBody;

  // The operation's own declarations first, then those of Body and Envelope
  // (where real clients put them).
  const std::string_view qname = first->qname;
  const size_t colon = qname.find(':');
  const std::string declaration =
      colon == std::string_view::npos ? "xmlns" : "xmlns:" + std::string(qname.substr(0, colon));
  std::optional<std::string_view> ns;
  for (const Tag* scope : {&*first, &*soap_body, &*envelope}) {
    if ((ns = AttributeValue(scope->attributes, declaration))) break;
  }
  operation->name = std::string(LocalName(qname));
  operation->ns = ns ? std::string(*ns) : std::string();
  return BodyShape::kOperation;
}

std::string EscapeXmlText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      default: out.push_back(c);
    }
  }
  return out;
}

void ReplaceAll(std::string& text, std::string_view placeholder, std::string_view value) {
  if (placeholder.empty()) return;
  size_t pos = 0;
  while ((pos = text.find(placeholder, pos)) != std::string::npos) {
    text.replace(pos, placeholder.size(), value);
    pos += value.size();
  }
}

void SubstitutePlaceholders(const OnvifService& service, std::string& envelope) {
  ReplaceAll(envelope, "{IP}", service.ip);
  ReplaceAll(envelope, "{ONVIFPORT}", std::to_string(service.onvif_port));
  ReplaceAll(envelope, "{RTSPPORT}", std::to_string(service.rtsp_port));
  ReplaceAll(envelope, "{SUBSTREAM}", service.sub_stream_name);
  ReplaceAll(envelope, "{STREAM}", service.stream_name);
  ReplaceAll(envelope, "{W}", std::to_string(service.width));
  ReplaceAll(envelope, "{H}", std::to_string(service.height));
  ReplaceAll(envelope, "{FPS}", std::to_string(service.fps));
}

}  // namespace lcx
