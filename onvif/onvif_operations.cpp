#include "core/version.h"
#include "onvif/onvif_operations.h"

#include <cstdio>
#include <string>

#include "core/log.h"
#include "onvif/device_configuration.h"
#include "onvif/onvif_auth.h"
#include "onvif/onvif_service.h"

namespace lcx {
namespace {

bool Has(std::string_view body, std::string_view name) { return body.find(name) != std::string_view::npos; }

std::string DateTimeAnswer(const std::tm& utc) {
  char buf[1024];
  std::snprintf(buf, sizeof buf,
                "<tds:GetSystemDateAndTimeResponse><tds:SystemDateAndTime>"
                "<tt:DateTimeType>Manual</tt:DateTimeType><tt:DaylightSavings>false</tt:DaylightSavings>"
                "<tt:TimeZone><tt:TZ>UTC</tt:TZ></tt:TimeZone><tt:UTCDateTime><tt:Time>"
                "<tt:Hour>%d</tt:Hour><tt:Minute>%d</tt:Minute><tt:Second>%d</tt:Second></tt:Time>"
                "<tt:Date><tt:Year>%d</tt:Year><tt:Month>%d</tt:Month><tt:Day>%d</tt:Day></tt:Date>"
                "</tt:UTCDateTime></tds:SystemDateAndTime></tds:GetSystemDateAndTimeResponse>",
                utc.tm_hour, utc.tm_min, utc.tm_sec, utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday);
  return buf;
}

std::string DeviceInformationAnswer(const OnvifService& service) {
  return "<tds:GetDeviceInformationResponse><tds:Manufacturer>Halvorix</tds:Manufacturer>"
         "<tds:Model>Lumicast</tds:Model><tds:FirmwareVersion>" + std::string(kVersionText) +
         "</tds:FirmwareVersion><tds:SerialNumber>" + service.serial_number + "</tds:SerialNumber>"
         "<tds:HardwareId>" + service.serial_number + "</tds:HardwareId>"
         "</tds:GetDeviceInformationResponse>";
}

constexpr const char* kCapabilitiesAnswer =
    "<tds:GetCapabilitiesResponse><tds:Capabilities><tt:Device>"
    "<tt:XAddr>http://{IP}:{ONVIFPORT}/onvif/device_service</tt:XAddr></tt:Device><tt:Media>"
    "<tt:XAddr>http://{IP}:{ONVIFPORT}/onvif/media_service</tt:XAddr><tt:StreamingCapabilities>"
    "<tt:RTPMulticast>true</tt:RTPMulticast><tt:RTP_TCP>true</tt:RTP_TCP>"
    "<tt:RTP_RTSP_TCP>true</tt:RTP_RTSP_TCP></tt:StreamingCapabilities></tt:Media>"
    "</tds:Capabilities></tds:GetCapabilitiesResponse>";

// `capabilities` is empty unless the client asked for them.
std::string ServiceEntry(const char* ns, const char* path, const std::string& capabilities) {
  return std::string("<tds:Service><tds:Namespace>") + ns + "</tds:Namespace><tds:XAddr>http://{IP}:{ONVIFPORT}" +
         path + "</tds:XAddr>" + (capabilities.empty() ? "" : "<tds:Capabilities>" + capabilities + "</tds:Capabilities>") +
         "<tds:Version><tt:Major>2</tt:Major><tt:Minor>5</tt:Minor></tds:Version></tds:Service>";
}

std::string ServicesAnswer(const OnvifService& service, std::string_view body) {
  const std::string include = ExtractElementText(body, "IncludeCapability");
  const bool with = include == "true" || include == "1";
  return "<tds:GetServicesResponse>" +
         ServiceEntry(kOnvifDeviceNs, "/onvif/device_service", with ? DeviceServiceCapabilitiesXml() : "") +
         ServiceEntry(kOnvifMediaNs, "/onvif/media_service", with ? MediaServiceCapabilitiesXml(service) : "") +
         "</tds:GetServicesResponse>";
}

std::string ScopesAnswer(const OnvifService& service) {
  std::string out = "<tds:GetScopesResponse>";
  for (int i = 0; i < 4; ++i) {
    out += "<tds:Scopes><tt:ScopeDef>Fixed</tt:ScopeDef><tt:ScopeItem>" + ScopeUri(i, service) +
           "</tt:ScopeItem></tds:Scopes>";
  }
  return out + "</tds:GetScopesResponse>";
}

constexpr const char* kVideoSourcesAnswer =
    "<trt:GetVideoSourcesResponse><trt:VideoSources token=\"vsrc0\"><tt:Framerate>{FPS}</tt:Framerate>"
    "<tt:Resolution><tt:Width>{W}</tt:Width><tt:Height>{H}</tt:Height></tt:Resolution></trt:VideoSources>"
    "</trt:GetVideoSourcesResponse>";

std::string MediaUri(const char* response, const std::string& uri) {
  return std::string("<trt:") + response + "><trt:MediaUri><tt:Uri>" + uri +
         "</tt:Uri><tt:InvalidAfterConnect>false</tt:InvalidAfterConnect>"
         "<tt:InvalidAfterReboot>false</tt:InvalidAfterReboot><tt:Timeout>PT0S</tt:Timeout></trt:MediaUri></trt:" +
         response + ">";
}

std::string StreamUriAnswer(const OnvifService& service, std::string_view body) {
  bool sub = service.substream_enabled && Has(body, "prof1");
  LogLine("ONVIF: GetStreamUri -> %s\n", sub ? "SUB (prof1/screensub)" : "MAIN (prof0/screenlive)");
  // The group's own description, for recorders that join it from the SDP.
  const bool multicast = Has(body, "RTP-Multicast");
  return MediaUri("GetStreamUriResponse", std::string(sub ? "rtsp://{IP}:{RTSPPORT}/{SUBSTREAM}"
                                                          : "rtsp://{IP}:{RTSPPORT}/{STREAM}") +
                                              (multicast ? "/multicast" : ""));
}

void LogProfiles(const OnvifService& service) {
  if (service.substream_enabled) {
    LogLine("ONVIF: GetProfiles (advertising %d profile%s)\n", 2, "s: prof0 main + prof1 sub");
  } else {
    LogLine("ONVIF: GetProfiles (advertising %d profile%s)\n", 1, ": prof0 main");
  }
}

std::string ProfilesAnswer(const OnvifService& service) {
  LogProfiles(service);
  std::string out = "<trt:GetProfilesResponse>";
  for (const ProfileRow& row : ProfileRows(service)) out += ProfileXml("trt:Profiles", service, row);
  return out + "</trt:GetProfilesResponse>";
}

OperationAnswer Answer(std::string element) { return {std::move(element), {}}; }

// The ten described names first, in their order, whatever else the body
// holds; then the Body's first element.
OperationAnswer AnswerElement(const OnvifService& service, std::string_view body, const std::tm& utc) {
  if (Has(body, "GetSystemDateAndTime")) return Answer(DateTimeAnswer(utc));
  if (Has(body, "GetDeviceInformation")) return Answer(DeviceInformationAnswer(service));
  if (Has(body, "GetCapabilities")) return Answer(kCapabilitiesAnswer);
  if (Has(body, "GetServices")) return Answer(ServicesAnswer(service, body));
  if (Has(body, "GetScopes")) return Answer(ScopesAnswer(service));
  if (Has(body, "GetVideoSources")) return Answer(kVideoSourcesAnswer);
  if (Has(body, "GetStreamUri")) return Answer(StreamUriAnswer(service, body));
  if (Has(body, "GetProfiles")) return Answer(ProfilesAnswer(service));
  if (Has(body, "GetProfile")) {
    LogProfiles(service);
    return AnswerGetProfile(service, body);
  }
  if (Has(body, "GetSnapshotUri")) {
    LogLine("ONVIF: GetSnapshotUri -> http snapshot\n");
    return Answer(MediaUri("GetSnapshotUriResponse", "http://{IP}:{ONVIFPORT}/onvif/snapshot"));
  }

  SoapOperation operation;
  switch (FindSoapOperation(body, &operation)) {
    case BodyShape::kNoBody: return {std::string(), kNotWellFormedFault};
    case BodyShape::kEmptyBody: return {std::string(), kNoOperationFault};
    case BodyShape::kOperation: break;
  }
  // A client that leaves the namespace out still means one of ours.
  const bool any = operation.ns.empty();
  std::optional<OperationAnswer> answer;
  if (any || operation.ns == kOnvifDeviceNs) answer = AnswerDeviceOperation(service, operation.name);
  if (!answer && (any || operation.ns == kOnvifMediaNs)) answer = AnswerMediaOperation(service, operation.name, body);
  return answer ? std::move(*answer) : OperationAnswer{std::string(), kActionNotSupportedFault};
}

}  // namespace

std::string ScopeUri(int index, const OnvifService& service) {
  static constexpr const char* kFixed[] = {"type/video_encoder", "Profile/Streaming"};
  std::string uri = kOnvifScopePrefix;
  switch (index) {
    case 0:
    case 1: return uri + kFixed[index];
    case 2: return uri + "name/" + service.device_name;
    default: return uri + "hardware/" + service.serial_number;
  }
}

SoapAnswer AnswerOnvifOperationAt(const OnvifService& service, std::string_view body, const std::tm& utc) {
  SoapAnswer out;
  out.version = SoapVersionOf(body);
  OperationAnswer answer = AnswerElement(service, body, utc);
  if (answer.fault) {
    out.status = SoapFaultStatus(*answer.fault, out.version);
    out.envelope = WrapSoapEnvelope(BuildSoapFault(*answer.fault, out.version), out.version);
  } else {
    out.envelope = WrapSoapEnvelope(answer.element, out.version);
  }
  return out;
}

SoapAnswer AnswerOnvifOperation(const OnvifService& service, std::string_view body) {
  std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  return AnswerOnvifOperationAt(service, body, utc);
}

std::string DispatchOnvifOperationAt(const OnvifService& service, std::string_view body, const std::tm& utc) {
  return AnswerOnvifOperationAt(service, body, utc).envelope;
}

std::string DispatchOnvifOperation(const OnvifService& service, std::string_view body) {
  return AnswerOnvifOperation(service, body).envelope;
}

}  // namespace lcx
