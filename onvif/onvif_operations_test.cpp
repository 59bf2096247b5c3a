#include "onvif/onvif_operations.h"

#include <gtest/gtest.h>

#include <string>

#include "core/log.h"
#include "onvif/onvif_service.h"
#include "onvif/soap_envelope.h"

namespace lcx {
namespace {

OnvifService Service(bool with_sub) {
  OnvifService s;
  s.ip = "10.0.0.5";
  s.stream_name = "screenlive";
  s.sub_stream_name = with_sub ? "screensub" : "";
  s.serial_number = "LCX-0123456789ab";
  s.device_name = "Front-Desk";
  s.width = 1920;
  s.height = 1080;
  s.fps = 12;
  s.sub_width = with_sub ? 640 : 0;
  s.sub_height = with_sub ? 360 : 0;
  s.substream_enabled = with_sub;
  return s;
}

std::tm At(int year, int month, int day, int hour, int minute, int second) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  return t;
}

std::string LastLogLine() {
  std::string log = ReadLog();
  if (log.empty()) return {};
  size_t start = log.rfind('\n', log.size() - 2);
  return log.substr(start == std::string::npos ? 0 : start + 1);
}

// Body text of the answer, without the envelope around it.
std::string Inner(const std::string& envelope) {
  std::string empty = WrapSoapEnvelope("");
  size_t prologue = empty.size() - std::string("</env:Body></env:Envelope>").size();
  EXPECT_EQ(envelope.substr(0, prologue), empty.substr(0, prologue));
  return envelope.substr(prologue, envelope.size() - empty.size());
}

TEST(DispatchOnvifOperation, RecognitionOrder) {
  OnvifService service = Service(true);
  struct Case {
    const char* name;
    const char* body;
    const char* answer_starts;
  } cases[] = {
      {"date and time", "<tds:GetSystemDateAndTime/>", "<tds:GetSystemDateAndTimeResponse><tds:SystemDateAndTime>"},
      {"device information", "<tds:GetDeviceInformation/>", "<tds:GetDeviceInformationResponse>"},
      {"capabilities", "<tds:GetCapabilities><tds:Category>All</tds:Category></tds:GetCapabilities>",
       "<tds:GetCapabilitiesResponse>"},
      {"services", "<tds:GetServices><tds:IncludeCapability>true</tds:IncludeCapability></tds:GetServices>",
       "<tds:GetServicesResponse>"},
      {"scopes", "<tds:GetScopes/>", "<tds:GetScopesResponse>"},
      {"video sources", "<trt:GetVideoSources/>", "<trt:GetVideoSourcesResponse>"},
      {"stream uri", "<trt:GetStreamUri><trt:ProfileToken>prof0</trt:ProfileToken></trt:GetStreamUri>",
       "<trt:GetStreamUriResponse>"},
      {"profiles", "<trt:GetProfiles/>", "<trt:GetProfilesResponse>"},
      {"one profile gets the list", "<trt:GetProfile><trt:ProfileToken>prof1</trt:ProfileToken></trt:GetProfile>",
       "<trt:GetProfilesResponse>"},
      {"snapshot uri", "<trt:GetSnapshotUri/>", "<trt:GetSnapshotUriResponse>"},
      {"service capabilities is neither services nor capabilities", "<trt:GetServiceCapabilities/>",
       "<tds:GetSystemDateAndTimeResponse/>"},
      {"video source configurations is not video sources", "<trt:GetVideoSourceConfigurations/>",
       "<tds:GetSystemDateAndTimeResponse/>"},
      {"encoder configuration", "<trt:GetVideoEncoderConfiguration/>", "<tds:GetSystemDateAndTimeResponse/>"},
      {"empty body", "", "<tds:GetSystemDateAndTimeResponse/>"},
      {"earlier name wins wherever it stands", "<trt:GetProfiles/><x>GetDeviceInformation</x>",
       "<tds:GetDeviceInformationResponse>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string inner = Inner(DispatchOnvifOperationAt(service, c.body, At(2026, 2, 3, 9, 5, 7)));
    EXPECT_EQ(inner.substr(0, std::string(c.answer_starts).size()), c.answer_starts) << inner;
  }
}

TEST(DispatchOnvifOperation, FixedAnswers) {
  OnvifService service = Service(false);
  std::tm t = At(2026, 2, 3, 9, 5, 7);
  EXPECT_EQ(Inner(DispatchOnvifOperationAt(service, "GetSystemDateAndTime", t)),
            "<tds:GetSystemDateAndTimeResponse><tds:SystemDateAndTime><tt:DateTimeType>Manual</tt:DateTimeType>"
            "<tt:DaylightSavings>false</tt:DaylightSavings><tt:TimeZone><tt:TZ>UTC</tt:TZ></tt:TimeZone>"
            "<tt:UTCDateTime><tt:Time><tt:Hour>9</tt:Hour><tt:Minute>5</tt:Minute><tt:Second>7</tt:Second></tt:Time>"
            "<tt:Date><tt:Year>2026</tt:Year><tt:Month>2</tt:Month><tt:Day>3</tt:Day></tt:Date></tt:UTCDateTime>"
            "</tds:SystemDateAndTime></tds:GetSystemDateAndTimeResponse>");
  EXPECT_EQ(Inner(DispatchOnvifOperationAt(service, "GetDeviceInformation", t)),
            "<tds:GetDeviceInformationResponse><tds:Manufacturer>Halvorix</tds:Manufacturer>"
            "<tds:Model>Lumicast</tds:Model><tds:FirmwareVersion>1.1</tds:FirmwareVersion>"
            "<tds:SerialNumber>LCX-0123456789ab</tds:SerialNumber><tds:HardwareId>LCX-0123456789ab</tds:HardwareId>"
            "</tds:GetDeviceInformationResponse>");
  EXPECT_EQ(Inner(DispatchOnvifOperationAt(service, "GetServices", t)),
            "<tds:GetServicesResponse><tds:Service><tds:Namespace>http://www.onvif.org/ver10/device/wsdl"
            "</tds:Namespace><tds:XAddr>http://{IP}:{ONVIFPORT}/onvif/device_service</tds:XAddr><tds:Version>"
            "<tt:Major>2</tt:Major><tt:Minor>5</tt:Minor></tds:Version></tds:Service><tds:Service><tds:Namespace>"
            "http://www.onvif.org/ver10/media/wsdl</tds:Namespace><tds:XAddr>http://{IP}:{ONVIFPORT}/onvif/"
            "media_service</tds:XAddr><tds:Version><tt:Major>2</tt:Major><tt:Minor>5</tt:Minor></tds:Version>"
            "</tds:Service></tds:GetServicesResponse>");
  EXPECT_EQ(Inner(DispatchOnvifOperationAt(service, "GetScopes", t)),
            "<tds:GetScopesResponse>"
            "<tds:Scopes><tt:ScopeDef>Fixed</tt:ScopeDef><tt:ScopeItem>onvif://www.onvif.org/type/video_encoder"
            "</tt:ScopeItem></tds:Scopes>"
            "<tds:Scopes><tt:ScopeDef>Fixed</tt:ScopeDef><tt:ScopeItem>onvif://www.onvif.org/Profile/Streaming"
            "</tt:ScopeItem></tds:Scopes>"
            "<tds:Scopes><tt:ScopeDef>Fixed</tt:ScopeDef><tt:ScopeItem>onvif://www.onvif.org/name/Front-Desk"
            "</tt:ScopeItem></tds:Scopes>"
            "<tds:Scopes><tt:ScopeDef>Fixed</tt:ScopeDef><tt:ScopeItem>onvif://www.onvif.org/hardware/"
            "LCX-0123456789ab</tt:ScopeItem></tds:Scopes>"
            "</tds:GetScopesResponse>");
  EXPECT_EQ(Inner(DispatchOnvifOperationAt(service, "GetSnapshotUri", t)),
            "<trt:GetSnapshotUriResponse><trt:MediaUri><tt:Uri>http://{IP}:{ONVIFPORT}/onvif/snapshot</tt:Uri>"
            "<tt:InvalidAfterConnect>false</tt:InvalidAfterConnect><tt:InvalidAfterReboot>false"
            "</tt:InvalidAfterReboot><tt:Timeout>PT0S</tt:Timeout></trt:MediaUri></trt:GetSnapshotUriResponse>");
  EXPECT_EQ(LastLogLine(), "ONVIF: GetSnapshotUri -> http snapshot\n");
}

TEST(DispatchOnvifOperation, StreamUriChoosesSubOnlyWhenEnabled) {
  struct Case {
    const char* name;
    bool with_sub;
    const char* body;
    const char* uri;
    const char* log;
  } cases[] = {
      {"main", true, "GetStreamUri prof0", "rtsp://{IP}:{RTSPPORT}/{STREAM}", "MAIN (prof0/screenlive)"},
      {"sub", true, "GetStreamUri <ProfileToken>prof1</ProfileToken>", "rtsp://{IP}:{RTSPPORT}/{SUBSTREAM}",
       "SUB (prof1/screensub)"},
      {"sub asked but disabled", false, "GetStreamUri prof1", "rtsp://{IP}:{RTSPPORT}/{STREAM}",
       "MAIN (prof0/screenlive)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    OnvifService service = Service(c.with_sub);
    EXPECT_EQ(Inner(DispatchOnvifOperationAt(service, c.body, At(2026, 1, 1, 0, 0, 0))),
              std::string("<trt:GetStreamUriResponse><trt:MediaUri><tt:Uri>") + c.uri +
                  "</tt:Uri><tt:InvalidAfterConnect>false</tt:InvalidAfterConnect><tt:InvalidAfterReboot>false"
                  "</tt:InvalidAfterReboot><tt:Timeout>PT0S</tt:Timeout></trt:MediaUri></trt:GetStreamUriResponse>");
    EXPECT_EQ(LastLogLine(), std::string("ONVIF: GetStreamUri -> ") + c.log + "\n");
  }
}

TEST(DispatchOnvifOperation, ProfileList) {
  const std::string main_profile =
      "<trt:Profiles token=\"prof0\" fixed=\"true\"><tt:Name>MainProfile</tt:Name>"
      "<tt:VideoSourceConfiguration token=\"vsrccfg0\"><tt:Name>vsrc</tt:Name><tt:UseCount>1</tt:UseCount>"
      "<tt:SourceToken>vsrc0</tt:SourceToken><tt:Bounds x=\"0\" y=\"0\" width=\"1920\" height=\"1080\"/>"
      "</tt:VideoSourceConfiguration><tt:VideoEncoderConfiguration token=\"venccfg0\"><tt:Name>venc</tt:Name>"
      "<tt:UseCount>1</tt:UseCount><tt:Encoding>H264</tt:Encoding><tt:Resolution><tt:Width>1920</tt:Width>"
      "<tt:Height>1080</tt:Height></tt:Resolution><tt:Quality>5</tt:Quality><tt:RateControl>"
      "<tt:FrameRateLimit>12</tt:FrameRateLimit><tt:EncodingInterval>1</tt:EncodingInterval>"
      "<tt:BitrateLimit>2000</tt:BitrateLimit></tt:RateControl><tt:H264><tt:GovLength>12</tt:GovLength>"
      "<tt:H264Profile>Baseline</tt:H264Profile></tt:H264><tt:Multicast><tt:Address><tt:Type>IPv4</tt:Type>"
      "<tt:IPv4Address>0.0.0.0</tt:IPv4Address></tt:Address><tt:Port>0</tt:Port><tt:TTL>1</tt:TTL>"
      "<tt:AutoStart>false</tt:AutoStart></tt:Multicast><tt:SessionTimeout>PT0S</tt:SessionTimeout>"
      "</tt:VideoEncoderConfiguration></trt:Profiles>";
  std::tm t = At(2026, 1, 1, 0, 0, 0);

  EXPECT_EQ(Inner(DispatchOnvifOperationAt(Service(false), "GetProfiles", t)),
            "<trt:GetProfilesResponse>" + main_profile + "</trt:GetProfilesResponse>");
  EXPECT_EQ(LastLogLine(), "ONVIF: GetProfiles (advertising 1 profile: prof0 main)\n");

  std::string sub_profile = BuildProfileXml("prof1", "SubProfile", "vsrccfg1", "venccfg1", "640", "360", "12", "512");
  EXPECT_NE(sub_profile.find("width=\"640\" height=\"360\""), std::string::npos);
  EXPECT_NE(sub_profile.find("<tt:BitrateLimit>512</tt:BitrateLimit>"), std::string::npos);
  EXPECT_NE(sub_profile.find("<tt:SourceToken>vsrc0</tt:SourceToken>"), std::string::npos);
  EXPECT_EQ(Inner(DispatchOnvifOperationAt(Service(true), "GetProfile prof1", t)),
            "<trt:GetProfilesResponse>" + main_profile + sub_profile + "</trt:GetProfilesResponse>");
  EXPECT_EQ(LastLogLine(), "ONVIF: GetProfiles (advertising 2 profiles: prof0 main + prof1 sub)\n");
}

}  // namespace
}  // namespace lcx
