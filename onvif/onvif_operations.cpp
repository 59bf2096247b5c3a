#include "core/version.h"
#include "onvif/onvif_operations.h"

#include <cstdio>
#include <string>

#include "core/log.h"
#include "onvif/onvif_service.h"
#include "onvif/soap_envelope.h"

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
    "<tt:RTPMulticast>false</tt:RTPMulticast><tt:RTP_TCP>true</tt:RTP_TCP>"
    "<tt:RTP_RTSP_TCP>true</tt:RTP_RTSP_TCP></tt:StreamingCapabilities></tt:Media>"
    "</tds:Capabilities></tds:GetCapabilitiesResponse>";

std::string ServiceEntry(const char* ns, const char* path) {
  return std::string("<tds:Service><tds:Namespace>") + ns + "</tds:Namespace><tds:XAddr>http://{IP}:{ONVIFPORT}" +
         path + "</tds:XAddr><tds:Version><tt:Major>2</tt:Major><tt:Minor>5</tt:Minor></tds:Version></tds:Service>";
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
  return MediaUri("GetStreamUriResponse", sub ? "rtsp://{IP}:{RTSPPORT}/{SUBSTREAM}" : "rtsp://{IP}:{RTSPPORT}/{STREAM}");
}

std::string ProfilesAnswer(const OnvifService& service) {
  if (service.substream_enabled) {
    LogLine("ONVIF: GetProfiles (advertising %d profile%s)\n", 2, "s: prof0 main + prof1 sub");
  } else {
    LogLine("ONVIF: GetProfiles (advertising %d profile%s)\n", 1, ": prof0 main");
  }
  std::string fps = std::to_string(service.fps);
  std::string out = "<trt:GetProfilesResponse>";
  out += BuildProfileXml("prof0", "MainProfile", "vsrccfg0", "venccfg0", std::to_string(service.width),
                         std::to_string(service.height), fps, "2000");
  if (service.substream_enabled) {
    out += BuildProfileXml("prof1", "SubProfile", "vsrccfg1", "venccfg1", std::to_string(service.sub_width),
                           std::to_string(service.sub_height), fps, "512");
  }
  return out + "</trt:GetProfilesResponse>";
}

std::string AnswerElement(const OnvifService& service, std::string_view body, const std::tm& utc) {
  if (Has(body, "GetSystemDateAndTime")) return DateTimeAnswer(utc);
  if (Has(body, "GetDeviceInformation")) return DeviceInformationAnswer(service);
  if (Has(body, "GetCapabilities")) return kCapabilitiesAnswer;
  if (Has(body, "GetServices")) {
    return "<tds:GetServicesResponse>" + ServiceEntry(kOnvifDeviceNs, "/onvif/device_service") +
           ServiceEntry(kOnvifMediaNs, "/onvif/media_service") + "</tds:GetServicesResponse>";
  }
  if (Has(body, "GetScopes")) return ScopesAnswer(service);
  if (Has(body, "GetVideoSources")) return kVideoSourcesAnswer;
  if (Has(body, "GetStreamUri")) return StreamUriAnswer(service, body);
  if (Has(body, "GetProfile")) return ProfilesAnswer(service);  // GetProfiles too
  if (Has(body, "GetSnapshotUri")) {
    LogLine("ONVIF: GetSnapshotUri -> http snapshot\n");
    return MediaUri("GetSnapshotUriResponse", "http://{IP}:{ONVIFPORT}/onvif/snapshot");
  }
  return "<tds:GetSystemDateAndTimeResponse/>";
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

std::string BuildProfileXml(std::string_view token, std::string_view name, std::string_view source_config_token,
                            std::string_view encoder_config_token, std::string_view width, std::string_view height,
                            std::string_view fps, std::string_view bitrate) {
  std::string out;
  out.reserve(1400);
  out.append("<trt:Profiles token=\"").append(token).append("\" fixed=\"true\"><tt:Name>").append(name);
  out.append("</tt:Name><tt:VideoSourceConfiguration token=\"").append(source_config_token);
  out.append("\"><tt:Name>vsrc</tt:Name><tt:UseCount>1</tt:UseCount><tt:SourceToken>vsrc0</tt:SourceToken>"
             "<tt:Bounds x=\"0\" y=\"0\" width=\"")
      .append(width)
      .append("\" height=\"")
      .append(height);
  out.append("\"/></tt:VideoSourceConfiguration><tt:VideoEncoderConfiguration token=\"").append(encoder_config_token);
  out.append("\"><tt:Name>venc</tt:Name><tt:UseCount>1</tt:UseCount><tt:Encoding>H264</tt:Encoding>"
             "<tt:Resolution><tt:Width>")
      .append(width)
      .append("</tt:Width><tt:Height>")
      .append(height);
  out.append("</tt:Height></tt:Resolution><tt:Quality>5</tt:Quality><tt:RateControl><tt:FrameRateLimit>")
      .append(fps)
      .append("</tt:FrameRateLimit><tt:EncodingInterval>1</tt:EncodingInterval><tt:BitrateLimit>")
      .append(bitrate);
  out.append("</tt:BitrateLimit></tt:RateControl><tt:H264><tt:GovLength>").append(fps);
  out.append("</tt:GovLength><tt:H264Profile>Baseline</tt:H264Profile></tt:H264><tt:Multicast><tt:Address>"
             "<tt:Type>IPv4</tt:Type><tt:IPv4Address>0.0.0.0</tt:IPv4Address></tt:Address><tt:Port>0</tt:Port>"
             "<tt:TTL>1</tt:TTL><tt:AutoStart>false</tt:AutoStart></tt:Multicast><tt:SessionTimeout>PT0S"
             "</tt:SessionTimeout></tt:VideoEncoderConfiguration></trt:Profiles>");
  return out;
}

std::string DispatchOnvifOperationAt(const OnvifService& service, std::string_view body, const std::tm& utc) {
  return WrapSoapEnvelope(AnswerElement(service, body, utc));
}

std::string DispatchOnvifOperation(const OnvifService& service, std::string_view body) {
  std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  return DispatchOnvifOperationAt(service, body, utc);
}

}  // namespace lcx
