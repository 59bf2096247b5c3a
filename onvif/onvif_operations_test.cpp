#include "onvif/onvif_operations.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
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

// A request as zeep writes it: the namespaces declared on the envelope.
std::string Request(const std::string& operation) {
  return "<?xml version='1.0' encoding='utf-8'?><soap-env:Envelope "
         "xmlns:soap-env=\"http://www.w3.org/2003/05/soap-envelope\" xmlns:m=\"http://www.onvif.org/ver10/media/wsdl\" "
         "xmlns:d=\"http://www.onvif.org/ver10/device/wsdl\"><soap-env:Body>" + operation +
         "</soap-env:Body></soap-env:Envelope>";
}
std::string Media(const std::string& operation) { return Request(operation); }
std::string Device(const std::string& operation) { return Request(operation); }

TEST(DispatchOnvifOperation, RecognitionOrder) {
  OnvifService service = Service(true);
  struct Case {
    const char* name;
    std::string body;
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
      {"one profile", "<trt:GetProfile><trt:ProfileToken>prof1</trt:ProfileToken></trt:GetProfile>",
       "<trt:GetProfileResponse><trt:Profile token=\"prof1\""},
      {"snapshot uri", "<trt:GetSnapshotUri/>", "<trt:GetSnapshotUriResponse>"},
      {"media service capabilities is neither services nor capabilities",
       Media("<m:GetServiceCapabilities/>"), "<trt:GetServiceCapabilitiesResponse><trt:Capabilities "},
      {"device service capabilities, by the namespace",
       Device("<GetServiceCapabilities xmlns=\"http://www.onvif.org/ver10/device/wsdl\"/>"),
       "<tds:GetServiceCapabilitiesResponse><tds:Capabilities>"},
      {"video source configurations is not video sources", Media("<m:GetVideoSourceConfigurations/>"),
       "<trt:GetVideoSourceConfigurationsResponse><trt:Configurations token=\"vsrccfg0\">"},
      {"encoder options are not the encoder configuration",
       Media("<m:GetVideoEncoderConfigurationOptions><m:ConfigurationToken>venccfg1</m:ConfigurationToken>"
             "</m:GetVideoEncoderConfigurationOptions>"),
       "<trt:GetVideoEncoderConfigurationOptionsResponse>"},
      {"encoder configurations are not the one encoder configuration",
       Media("<m:GetVideoEncoderConfigurations/>"), "<trt:GetVideoEncoderConfigurationsResponse>"},
      {"network interfaces", Device("<d:GetNetworkInterfaces/>"), "<tds:GetNetworkInterfacesResponse>"},
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
            "</tds:Service><tds:Service><tds:Namespace>http://www.onvif.org/ver10/events/wsdl</tds:Namespace>"
            "<tds:XAddr>http://{IP}:{ONVIFPORT}/onvif/event_service</tds:XAddr><tds:Version><tt:Major>2</tt:Major>"
            "<tt:Minor>5</tt:Minor></tds:Version></tds:Service></tds:GetServicesResponse>");
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
      {"multicast of the sub-stream: the group's description",
       true, "GetStreamUri <tt:Stream>RTP-Multicast</tt:Stream><ProfileToken>prof1</ProfileToken>",
       "rtsp://{IP}:{RTSPPORT}/{SUBSTREAM}/multicast", "SUB (prof1/screensub)"},
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
  EXPECT_EQ(Inner(DispatchOnvifOperationAt(Service(true), "GetProfiles", t)),
            "<trt:GetProfilesResponse>" + main_profile + sub_profile + "</trt:GetProfilesResponse>");
  EXPECT_EQ(LastLogLine(), "ONVIF: GetProfiles (advertising 2 profiles: prof0 main + prof1 sub)\n");

  // One profile by its token, under the element its response names.
  std::string one = sub_profile;
  one.replace(0, std::string("<trt:Profiles").size(), "<trt:Profile");
  one.replace(one.size() - std::string("</trt:Profiles>").size(), std::string::npos, "</trt:Profile>");
  EXPECT_EQ(Inner(DispatchOnvifOperationAt(Service(true), "GetProfile <ProfileToken>prof1</ProfileToken>", t)),
            "<trt:GetProfileResponse>" + one + "</trt:GetProfileResponse>");
}

TEST(DispatchOnvifOperation, ProfilesReportTheConfiguredBitRates) {
  OnvifService service = Service(true);
  service.main_bitrate_kbps = 4000;
  service.sub_bitrate_kbps = 300;
  std::string inner = Inner(DispatchOnvifOperationAt(service, "GetProfiles", At(2026, 1, 1, 0, 0, 0)));
  size_t main = inner.find("<tt:BitrateLimit>4000</tt:BitrateLimit>");
  size_t sub = inner.find("<tt:BitrateLimit>300</tt:BitrateLimit>");
  EXPECT_NE(main, std::string::npos) << inner;
  EXPECT_NE(sub, std::string::npos) << inner;
  EXPECT_LT(main, inner.find("token=\"prof1\""));
  EXPECT_GT(sub, inner.find("token=\"prof1\""));
}

TEST(AnswerOnvifOperation, FaultsWithTheirStatus) {
  OnvifService service = Service(true);
  const std::string receiver_fault =
      "<env:Fault><env:Code><env:Value>env:Receiver</env:Value><env:Subcode><env:Value>ter:ActionNotSupported"
      "</env:Value></env:Subcode></env:Code><env:Reason><env:Text xml:lang=\"en\">Optional Action Not Implemented"
      "</env:Text></env:Reason></env:Fault>";
  struct Case {
    const char* name;
    std::string body;
    const char* status;
    std::string inner;
  } cases[] = {
      {"basic notification is not offered",
       Request("<Subscribe xmlns=\"http://docs.oasis-open.org/wsn/b-2\"><ConsumerReference/></Subscribe>"),
       "500 Internal Server Error", receiver_fault},
      {"a PTZ call named like a device call",
       Request("<p:GetServiceCapabilities xmlns:p=\"http://www.onvif.org/ver20/ptz/wsdl\"/>"),
       "500 Internal Server Error", receiver_fault},
      {"setting the encoder is refused, not acknowledged",
       Media("<m:SetVideoEncoderConfiguration><m:Configuration token=\"venccfg0\"/><m:ForcePersistence>true"
             "</m:ForcePersistence></m:SetVideoEncoderConfiguration>"),
       "500 Internal Server Error", receiver_fault},
      {"unknown profile",
       Media("<m:GetProfile><m:ProfileToken>prof7</m:ProfileToken></m:GetProfile>"), "400 Bad Request",
       "<env:Fault><env:Code><env:Value>env:Sender</env:Value><env:Subcode><env:Value>ter:InvalidArgVal</env:Value>"
       "<env:Subcode><env:Value>ter:NoProfile</env:Value></env:Subcode></env:Subcode></env:Code><env:Reason>"
       "<env:Text xml:lang=\"en\">No such profile</env:Text></env:Reason></env:Fault>"},
      {"an empty Body", Request(""), "400 Bad Request",
       "<env:Fault><env:Code><env:Value>env:Sender</env:Value><env:Subcode><env:Value>ter:Tag</env:Value>"
       "</env:Subcode></env:Code><env:Reason><env:Text xml:lang=\"en\">The Body names no operation</env:Text>"
       "</env:Reason></env:Fault>"},
      {"garbage", "\x01\x02 hello <<<", "400 Bad Request",
       "<env:Fault><env:Code><env:Value>env:Sender</env:Value><env:Subcode><env:Value>ter:WellFormed</env:Value>"
       "</env:Subcode></env:Code><env:Reason><env:Text xml:lang=\"en\">Not a SOAP envelope with a Body</env:Text>"
       "</env:Reason></env:Fault>"},
      {"no body at all (a GET)", "", "400 Bad Request",
       "<env:Fault><env:Code><env:Value>env:Sender</env:Value><env:Subcode><env:Value>ter:WellFormed</env:Value>"
       "</env:Subcode></env:Code><env:Reason><env:Text xml:lang=\"en\">Not a SOAP envelope with a Body</env:Text>"
       "</env:Reason></env:Fault>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SoapAnswer answer = AnswerOnvifOperationAt(service, c.body, At(2026, 1, 1, 0, 0, 0));
    EXPECT_EQ(answer.status, c.status);
    EXPECT_EQ(Inner(answer.envelope), c.inner);
  }
}

// What recorders send while adding the camera beyond the profile calls:
// each either answered or refused with the fault that makes them fall back.
TEST(AnswerOnvifOperation, AddCameraCalls) {
  OnvifService service = Service(true);
  const std::string uri_answer =
      "<trt:GetStreamUriResponse><trt:MediaUri><tt:Uri>rtsp://{IP}:{RTSPPORT}/{STREAM}</tt:Uri>";
  auto stream_uri = [](const std::string& stream, const std::string& protocol) {
    return Media("<m:GetStreamUri><m:StreamSetup><Stream xmlns=\"http://www.onvif.org/ver10/schema\">" + stream +
                 "</Stream><Transport xmlns=\"http://www.onvif.org/ver10/schema\"><Protocol>" + protocol +
                 "</Protocol></Transport></m:StreamSetup><m:ProfileToken>prof0</m:ProfileToken></m:GetStreamUri>");
  };
  struct Case {
    const char* name;
    std::string body;
    std::optional<SoapFault> fault;
    std::string answer;  // the answer's start, when no fault
  } cases[] = {
      {"CreateProfile", Media("<m:CreateProfile><m:Name>SynoTestProfile</m:Name></m:CreateProfile>"),
       kMaxProfilesFault, ""},
      {"DeleteProfile of a fixed one", Media("<m:DeleteProfile><m:ProfileToken>prof1</m:ProfileToken></m:DeleteProfile>"),
       kFixedProfileFault, ""},
      {"DeleteProfile of none", Media("<m:DeleteProfile><m:ProfileToken>prof9</m:ProfileToken></m:DeleteProfile>"),
       kNoProfileFault, ""},
      {"SetSystemDateAndTime",
       Device("<d:SetSystemDateAndTime><d:DateTimeType>NTP</d:DateTimeType><d:DaylightSavings>false"
              "</d:DaylightSavings></d:SetSystemDateAndTime>"),
       kClockNotSetFault, ""},
      {"SystemReboot without a restart to offer", Device("<d:SystemReboot/>"), kActionNotSupportedFault, ""},
      {"GetOSDs", Media("<m:GetOSDs><m:ConfigurationToken>vsrccfg0</m:ConfigurationToken></m:GetOSDs>"), {},
       "<trt:GetOSDsResponse/>"},
      {"GetOSDs of every source", Media("<m:GetOSDs/>"), {}, "<trt:GetOSDsResponse/>"},
      {"GetOSDs of no source", Media("<m:GetOSDs><m:ConfigurationToken>x</m:ConfigurationToken></m:GetOSDs>"),
       kNoConfigFault, ""},
      {"GetOSDOptions",
       Media("<m:GetOSDOptions><m:ConfigurationToken>vsrccfg1</m:ConfigurationToken></m:GetOSDOptions>"), {},
       "<trt:GetOSDOptionsResponse><trt:OSDOptions><tt:MaximumNumberOfOSDs Total=\"0\""},
      {"GetStreamUri unicast over UDP", stream_uri("RTP-Unicast", "UDP"), {}, uri_answer},
      {"GetStreamUri unicast over RTSP", stream_uri("RTP-Unicast", "RTSP"), {}, uri_answer},
      {"GetStreamUri multicast", stream_uri("RTP-Multicast", "UDP"), {},
       "<trt:GetStreamUriResponse><trt:MediaUri><tt:Uri>rtsp://{IP}:{RTSPPORT}/{STREAM}/multicast</tt:Uri>"},
      {"GetStreamUri of another stream type", stream_uri("RTP-Broadcast", "UDP"), kStreamSetupFault, ""},
      {"GetStreamUri over an unknown transport", stream_uri("RTP-Unicast", "SCTP"), kStreamSetupFault, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SoapAnswer answer = AnswerOnvifOperationAt(service, c.body, At(2026, 1, 1, 0, 0, 0));
    if (c.fault) {
      EXPECT_EQ(answer.status, SoapFaultStatus(*c.fault, SoapVersion::k12));
      EXPECT_EQ(Inner(answer.envelope), BuildSoapFault(*c.fault, SoapVersion::k12));
    } else {
      EXPECT_EQ(answer.status, "200 OK");
      EXPECT_EQ(Inner(answer.envelope).substr(0, c.answer.size()), c.answer);
    }
  }
}

TEST(AnswerOnvifOperation, SystemRebootAnswersThenRestarts) {
  OnvifService service = Service(false);
  std::mutex mutex;
  std::condition_variable done;
  bool restarted = false;
  service.restart = [&] {
    std::lock_guard lock(mutex);
    restarted = true;
    done.notify_all();
  };
  service.restart_delay_ms = 1000;
  SoapAnswer answer = AnswerOnvifOperationAt(service, Device("<d:SystemReboot/>"), At(2026, 1, 1, 0, 0, 0));
  std::unique_lock lock(mutex);
  EXPECT_FALSE(restarted) << "the answer comes before the restart";
  EXPECT_EQ(Inner(answer.envelope),
            "<tds:SystemRebootResponse><tds:Message>Restarting the program</tds:Message></tds:SystemRebootResponse>");
  EXPECT_TRUE(done.wait_for(lock, std::chrono::seconds(20), [&] { return restarted; }));
}

TEST(AnswerOnvifOperation, Soap11RequestsAreAnsweredInSoap11) {
  OnvifService service = Service(false);
  const std::string soap11 = "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\"><s:Body>";
  SoapAnswer answer = AnswerOnvifOperationAt(
      service, soap11 + "<GetDeviceInformation xmlns=\"http://www.onvif.org/ver10/device/wsdl\"/></s:Body></s:Envelope>",
      At(2026, 1, 1, 0, 0, 0));
  EXPECT_EQ(answer.status, "200 OK");
  EXPECT_EQ(answer.version, SoapVersion::k11);
  EXPECT_EQ(answer.envelope.substr(0, 105),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?><env:Envelope xmlns:env=\"http://schemas.xmlsoap.org/soap/"
            "envelope/\"");
  EXPECT_NE(answer.envelope.find("<tds:GetDeviceInformationResponse>"), std::string::npos);

  answer = AnswerOnvifOperationAt(service, soap11 + "<Reboot xmlns=\"http://www.onvif.org/ver10/device/wsdl\"/></s:Body></s:Envelope>",
                                  At(2026, 1, 1, 0, 0, 0));
  EXPECT_EQ(answer.status, "500 Internal Server Error");
  EXPECT_EQ(answer.envelope,
            WrapSoapEnvelope("<env:Fault><faultcode>env:Server</faultcode><faultstring>Optional Action Not "
                             "Implemented</faultstring></env:Fault>",
                             SoapVersion::k11));
}

TEST(DispatchOnvifOperation, ServicesWithCapabilitiesOnlyWhenAsked) {
  OnvifService service = Service(true);
  std::tm t = At(2026, 1, 1, 0, 0, 0);
  std::string plain = Inner(DispatchOnvifOperationAt(
      service, Device("<d:GetServices><d:IncludeCapability>false</d:IncludeCapability></d:GetServices>"), t));
  EXPECT_EQ(plain.find("Capabilities"), std::string::npos) << plain;
  std::string with = Inner(DispatchOnvifOperationAt(
      service, Device("<d:GetServices><d:IncludeCapability>true</d:IncludeCapability></d:GetServices>"), t));
  EXPECT_NE(with.find("/onvif/device_service</tds:XAddr><tds:Capabilities><tds:Capabilities><tds:Network "),
            std::string::npos)
      << with;
  EXPECT_NE(with.find("/onvif/media_service</tds:XAddr><tds:Capabilities><trt:Capabilities SnapshotUri=\"true\""),
            std::string::npos)
      << with;
  EXPECT_NE(with.find("MaximumNumberOfProfiles=\"2\""), std::string::npos);
}

}  // namespace
}  // namespace lcx

namespace lcx {
namespace {

// A recorder asks the camera to keep a profile's multicast sender running
// (or to stop it); the profiles name the group it goes to.
TEST(AnswerOnvifOperation, MulticastStreamingHoldsTheSender) {
  OnvifService service = Service(true);
  auto call = [](const char* name, const char* token) {
    return Media(std::string("<m:") + name + "><m:ProfileToken>" + token + "</m:ProfileToken></m:" + name + ">");
  };
  SoapAnswer without = AnswerOnvifOperationAt(service, call("StartMulticastStreaming", "prof0"), At(2026, 1, 1, 0, 0, 0));
  EXPECT_EQ(Inner(without.envelope), BuildSoapFault(kActionNotSupportedFault, SoapVersion::k12)) << "no sender to hold";

  std::vector<std::pair<bool, bool>> held;
  bool sockets_open = true;
  service.multicast_streaming = [&](bool sub, bool on) {
    held.emplace_back(sub, on);
    return sockets_open;
  };
  service.multicast_group = "239.1.2.3";
  service.multicast_port = 6000;
  service.multicast_ttl = 4;
  struct Case {
    const char* name;
    std::string body;
    std::optional<SoapFault> fault;
    std::string answer;
    std::vector<std::pair<bool, bool>> held;
  } cases[] = {
      {"start the main profile's", call("StartMulticastStreaming", "prof0"), {}, "<trt:StartMulticastStreamingResponse/>",
       {{false, true}}},
      {"stop the sub profile's", call("StopMulticastStreaming", "prof1"), {}, "<trt:StopMulticastStreamingResponse/>",
       {{true, false}}},
      {"an unknown profile", call("StartMulticastStreaming", "prof7"), kNoProfileFault, "", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    held.clear();
    SoapAnswer answer = AnswerOnvifOperationAt(service, c.body, At(2026, 1, 1, 0, 0, 0));
    if (c.fault) {
      EXPECT_EQ(Inner(answer.envelope), BuildSoapFault(*c.fault, SoapVersion::k12));
    } else {
      EXPECT_EQ(answer.status, "200 OK");
      EXPECT_EQ(Inner(answer.envelope), c.answer);
    }
    EXPECT_EQ(held, c.held);
  }
  sockets_open = false;
  SoapAnswer failed = AnswerOnvifOperationAt(service, call("StartMulticastStreaming", "prof0"), At(2026, 1, 1, 0, 0, 0));
  EXPECT_EQ(Inner(failed.envelope), BuildSoapFault(kMulticastUnavailableFault, SoapVersion::k12));

  const std::string profiles = AnswerOnvifOperationAt(service, Media("<m:GetProfiles/>"), At(2026, 1, 1, 0, 0, 0)).envelope;
  EXPECT_NE(profiles.find("<tt:IPv4Address>239.1.2.3</tt:IPv4Address></tt:Address><tt:Port>6000</tt:Port><tt:TTL>4"),
            std::string::npos);
  EXPECT_NE(profiles.find("<tt:IPv4Address>239.1.2.3</tt:IPv4Address></tt:Address><tt:Port>6002</tt:Port><tt:TTL>4"),
            std::string::npos) << "the sub-stream's group port";
}

}  // namespace
}  // namespace lcx
