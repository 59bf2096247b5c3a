#include "core/version.h"
#include "onvif/onvif_operations.h"

#include <cstdio>
#include <string>
#include <system_error>
#include <thread>

#include "core/log.h"
#include "onvif/device_configuration.h"
#include "onvif/event_service.h"
#include "onvif/onvif_auth.h"
#include "onvif/onvif_service.h"
#include "platform/system.h"

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
    "<tt:XAddr>http://{IP}:{ONVIFPORT}/onvif/device_service</tt:XAddr></tt:Device><tt:Events>"
    "<tt:XAddr>http://{IP}:{ONVIFPORT}/onvif/event_service</tt:XAddr>"
    "<tt:WSSubscriptionPolicySupport>false</tt:WSSubscriptionPolicySupport>"
    "<tt:WSPullPointSupport>true</tt:WSPullPointSupport>"
    "<tt:WSPausableSubscriptionManagerInterfaceSupport>false</tt:WSPausableSubscriptionManagerInterfaceSupport>"
    "</tt:Events><tt:Media>"
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
         ServiceEntry(kOnvifEventsNs, "/onvif/event_service",
                      with ? EventServiceCapabilitiesXml(EventLimits{}.max_subscriptions) : "") +
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

// Trimmed text of the first element named exactly `name` (any prefix), ""
// when absent: ExtractElementText would take "Stream" for "StreamSetup".
std::string ExactElementText(std::string_view body, std::string_view name) {
  for (size_t at = body.find(name); at != std::string_view::npos; at = body.find(name, at + 1)) {
    const size_t after = at + name.size();
    if (at == 0 || (body[at - 1] != ':' && body[at - 1] != '<') || after >= body.size()) continue;
    if (body[after] != '>' && body[after] != ' ' && body[after] != '\t' && body[after] != '\r' && body[after] != '\n')
      continue;
    if (body[at - 1] == ':') {
      size_t lt = body.rfind('<', at);
      if (lt == std::string_view::npos || body.substr(lt + 1, at - lt - 1).find_first_of(" \t\r\n/>") !=
                                              std::string_view::npos)
        continue;
    }
    const size_t gt = body.find('>', after);
    if (gt == std::string_view::npos || body[gt - 1] == '/') return {};
    const size_t end = body.find('<', gt);
    if (end == std::string_view::npos) return {};
    std::string_view text = body.substr(gt + 1, end - gt - 1);
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return {};
    return std::string(text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1));
  }
  return {};
}

// The stream setup a client asks for: unicast over any transport, or the
// shared multicast sender.
std::optional<SoapFault> StreamSetupFault(std::string_view body) {
  const std::string stream = ExactElementText(body, "Stream");
  const std::string protocol = ExactElementText(body, "Protocol");
  if (!stream.empty() && stream != "RTP-Unicast" && stream != "RTP-Multicast") return kStreamSetupFault;
  if (!protocol.empty() && protocol != "UDP" && protocol != "TCP" && protocol != "RTSP" && protocol != "HTTP")
    return kStreamSetupFault;
  return std::nullopt;
}

OperationAnswer StreamUriAnswer(const OnvifService& service, std::string_view body) {
  if (std::optional<SoapFault> fault = StreamSetupFault(body)) {
    LogLine("ONVIF: GetStreamUri refused: %s\n", fault->reason);
    return {std::string(), *fault};
  }
  bool sub = service.substream_enabled && Has(body, "prof1");
  LogLine("ONVIF: GetStreamUri -> %s\n", sub ? "SUB (prof1/screensub)" : "MAIN (prof0/screenlive)");
  // The group's own description, for recorders that join it from the SDP.
  const bool multicast = ExactElementText(body, "Stream") == "RTP-Multicast";
  return {MediaUri("GetStreamUriResponse", std::string(sub ? "rtsp://{IP}:{RTSPPORT}/{SUBSTREAM}"
                                                           : "rtsp://{IP}:{RTSPPORT}/{STREAM}") +
                                               (multicast ? "/multicast" : "")),
          {}};
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

// The restart runs a moment later on its own thread, so the connection
// thread can send the answer first.
void ScheduleRestart(const OnvifService& service) {
  LogLine("ONVIF: SystemReboot: restarting the program in %d ms\n", service.restart_delay_ms);
  try {
    std::thread([restart = service.restart, delay = service.restart_delay_ms] {
      SleepMs(delay);
      restart();
    }).detach();
  } catch (const std::system_error& e) {
    LogLine("ONVIF: SystemReboot: no thread for the restart: %s\n", e.what());
  }
}

// The ten described names first, in their order, whatever else the body
// holds; then the Body's first element.
OperationAnswer AnswerElement(const OnvifService& service, std::string_view body, const std::tm& utc,
                              std::string_view target) {
  if (Has(body, "GetSystemDateAndTime")) return Answer(DateTimeAnswer(utc));
  if (Has(body, "GetDeviceInformation")) return Answer(DeviceInformationAnswer(service));
  if (Has(body, "GetCapabilities")) return Answer(kCapabilitiesAnswer);
  if (Has(body, "GetServices")) return Answer(ServicesAnswer(service, body));
  if (Has(body, "GetScopes")) return Answer(ScopesAnswer(service));
  if (Has(body, "GetVideoSources")) return Answer(kVideoSourcesAnswer);
  if (Has(body, "GetStreamUri")) return StreamUriAnswer(service, body);
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
  if (any || operation.ns == kOnvifDeviceNs) {
    answer = AnswerDeviceOperation(service, operation.name);
    if (answer && !answer->fault && operation.name == "SystemReboot") ScheduleRestart(service);
  }
  if (!answer && (any || operation.ns == kOnvifMediaNs)) answer = AnswerMediaOperation(service, operation.name, body);
  if (!answer && (any || operation.ns == kOnvifEventsNs || operation.ns == kWsNotificationNs))
    answer = (service.events ? *service.events : GetEventService()).Answer(operation.name, body, target);
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

SoapAnswer AnswerOnvifOperationAt(const OnvifService& service, std::string_view body, const std::tm& utc,
                                  std::string_view target) {
  SoapAnswer out;
  out.version = SoapVersionOf(body);
  OperationAnswer answer = AnswerElement(service, body, utc, target);
  if (answer.fault) {
    out.status = SoapFaultStatus(*answer.fault, out.version);
    out.envelope = WrapSoapEnvelope(BuildSoapFault(*answer.fault, out.version), out.version);
  } else {
    out.envelope = WrapSoapEnvelope(answer.element, out.version);
  }
  return out;
}

SoapAnswer AnswerOnvifOperation(const OnvifService& service, std::string_view body, std::string_view target) {
  std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  return AnswerOnvifOperationAt(service, body, utc, target);
}

std::string DispatchOnvifOperationAt(const OnvifService& service, std::string_view body, const std::tm& utc) {
  return AnswerOnvifOperationAt(service, body, utc).envelope;
}

std::string DispatchOnvifOperation(const OnvifService& service, std::string_view body) {
  return AnswerOnvifOperation(service, body).envelope;
}

}  // namespace lcx
