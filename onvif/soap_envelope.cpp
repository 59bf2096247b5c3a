#include "onvif/soap_envelope.h"

#include "onvif/onvif_service.h"

namespace lcx {
namespace {

constexpr const char* kEnvelopePrologue =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?><env:Envelope"
    " xmlns:env=\"http://www.w3.org/2003/05/soap-envelope\""
    " xmlns:tds=\"http://www.onvif.org/ver10/device/wsdl\""
    " xmlns:trt=\"http://www.onvif.org/ver10/media/wsdl\""
    " xmlns:ter=\"http://www.onvif.org/ver10/error\""
    " xmlns:tt=\"http://www.onvif.org/ver10/schema\"><env:Body>";

}  // namespace

std::string WrapSoapEnvelope(std::string_view body) {
  std::string out = kEnvelopePrologue;
  out.append(body);
  out.append("</env:Body></env:Envelope>");
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
