#include "onvif/media_configuration.h"

#include <algorithm>

#include "onvif/onvif_auth.h"
#include "core/log.h"
#include "onvif/onvif_service.h"
#include "onvif/soap_envelope.h"

namespace lcx {
namespace {

// Widths the editors offer for each stream (the main one also offers the
// screen's own size).
constexpr int kMainWidths[] = {1920, 1280, 854, 640};
constexpr int kSubWidths[] = {854, 640, 480, 320};
// Ranges the editors accept.
constexpr int kMinFps = 1, kMaxFps = 60;

std::string Range(const char* element, int min, int max) {
  return std::string("<tt:") + element + "><tt:Min>" + std::to_string(min) + "</tt:Min><tt:Max>" +
         std::to_string(max) + "</tt:Max></tt:" + element + ">";
}

const ProfileRow* RowWhere(const std::vector<ProfileRow>& rows, const char* ProfileRow::*field,
                           std::string_view token) {
  for (const ProfileRow& row : rows) {
    if (token == row.*field) return &row;
  }
  return nullptr;
}

std::string EncoderXml(std::string_view element, const OnvifService& service, const ProfileRow& row) {
  return EncoderConfigurationXml(element, row.encoder_token, std::to_string(row.width), std::to_string(row.height),
                                 std::to_string(service.fps), std::to_string(row.bitrate_kbps),
                                 MulticastBlockOf(service, row));
}

std::string SourceXml(std::string_view element, const ProfileRow& row) {
  return SourceConfigurationXml(element, row.source_token, std::to_string(row.width), std::to_string(row.height));
}

std::string H264OptionsBody(const OnvifService& service, const ProfileRow& row) {
  std::string out;
  for (auto [w, h] : OfferedResolutions(service, row)) {
    out += "<tt:ResolutionsAvailable><tt:Width>" + std::to_string(w) + "</tt:Width><tt:Height>" + std::to_string(h) +
           "</tt:Height></tt:ResolutionsAvailable>";
  }
  // The key-frame interval follows the frame rate (one a second).
  out += Range("GovLengthRange", kMinFps, kMaxFps) + Range("FrameRateRange", kMinFps, kMaxFps) +
         Range("EncodingIntervalRange", 1, 1) + "<tt:H264ProfilesSupported>Baseline</tt:H264ProfilesSupported>";
  return out;
}

std::string EncoderOptionsAnswer(const OnvifService& service, const ProfileRow& row) {
  const std::string h264 = H264OptionsBody(service, row);
  return "<trt:GetVideoEncoderConfigurationOptionsResponse><trt:Options>" + Range("QualityRange", 5, 5) +
         "<tt:H264>" + h264 + "</tt:H264><tt:Extension><tt:H264>" + h264 +
         Range("BitrateRange", row.min_bitrate_kbps, row.max_bitrate_kbps) +
         "</tt:H264></tt:Extension></trt:Options></trt:GetVideoEncoderConfigurationOptionsResponse>";
}

OperationAnswer Fault(const SoapFault& fault) { return {std::string(), fault}; }

}  // namespace

std::vector<ProfileRow> ProfileRows(const OnvifService& service) {
  std::vector<ProfileRow> rows;
  rows.push_back({"prof0", "MainProfile", "vsrccfg0", "venccfg0", service.width, service.height,
                  service.main_bitrate_kbps, 256, 16384, false});
  if (service.substream_enabled) {
    rows.push_back({"prof1", "SubProfile", "vsrccfg1", "venccfg1", service.sub_width, service.sub_height,
                    service.sub_bitrate_kbps, 64, 2048, true});
  }
  return rows;
}

std::vector<std::pair<int, int>> OfferedResolutions(const OnvifService& service, const ProfileRow& row) {
  std::vector<std::pair<int, int>> out = {{row.width, row.height}};
  if (row.width < 1 || row.height < 1) return out;
  // The main stream's choices come from the screen, whatever it is scaled
  // to now; the sub-stream's from its own aspect.
  int base_w = row.width, base_h = row.height;
  if (!row.sub && service.screen_width >= row.width && service.screen_height >= row.height) {
    base_w = service.screen_width;
    base_h = service.screen_height;
    if (base_w != row.width) out.emplace_back(base_w, base_h);
  }
  for (int w : row.sub ? kSubWidths : kMainWidths) {
    // Only down-scaling: the main stream below the screen's size, the
    // sub-stream never above the main stream's.
    const bool fits = w != row.width && (row.sub ? w <= service.width : w < base_w);
    if (!fits) continue;
    const int h = static_cast<int>(static_cast<int64_t>(w) * base_h / base_w) & ~1;
    if (h >= 2) out.emplace_back(w, h);
  }
  std::sort(out.begin(), out.end(), [](auto a, auto b) { return a.first > b.first; });
  return out;
}

std::string SourceConfigurationXml(std::string_view element, std::string_view token, std::string_view width,
                                   std::string_view height) {
  std::string out;
  out.append("<").append(element).append(" token=\"").append(token);
  out.append("\"><tt:Name>vsrc</tt:Name><tt:UseCount>1</tt:UseCount><tt:SourceToken>vsrc0</tt:SourceToken>"
             "<tt:Bounds x=\"0\" y=\"0\" width=\"")
      .append(width)
      .append("\" height=\"")
      .append(height);
  out.append("\"/></").append(element).append(">");
  return out;
}

MulticastBlock MulticastBlockOf(const OnvifService& service, const ProfileRow& row) {
  MulticastBlock block;
  if (service.multicast_group.empty()) return block;
  block.address = service.multicast_group;
  block.port = service.multicast_port + (row.sub ? 2 : 0);
  block.ttl = service.multicast_ttl;
  return block;
}

std::string EncoderConfigurationXml(std::string_view element, std::string_view token, std::string_view width,
                                    std::string_view height, std::string_view fps, std::string_view bitrate,
                                    const MulticastBlock& multicast) {
  std::string out;
  out.reserve(900);
  out.append("<").append(element).append(" token=\"").append(token);
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
             "<tt:Type>IPv4</tt:Type><tt:IPv4Address>")
      .append(EscapeXmlText(multicast.address))
      .append("</tt:IPv4Address></tt:Address><tt:Port>")
      .append(std::to_string(multicast.port))
      .append("</tt:Port><tt:TTL>")
      .append(std::to_string(multicast.ttl));
  out.append("</tt:TTL><tt:AutoStart>false</tt:AutoStart></tt:Multicast><tt:SessionTimeout>PT0S"
             "</tt:SessionTimeout></");
  out.append(element).append(">");
  return out;
}

namespace {

std::string ProfileElement(std::string_view element, std::string_view token, std::string_view name,
                           std::string_view source_config_token, std::string_view encoder_config_token,
                           std::string_view width, std::string_view height, std::string_view fps,
                           std::string_view bitrate, const MulticastBlock& multicast = MulticastBlock()) {
  std::string out;
  out.reserve(1400);
  out.append("<").append(element).append(" token=\"").append(token).append("\" fixed=\"true\"><tt:Name>");
  out.append(name).append("</tt:Name>");
  out += SourceConfigurationXml("tt:VideoSourceConfiguration", source_config_token, width, height);
  out += EncoderConfigurationXml("tt:VideoEncoderConfiguration", encoder_config_token, width, height, fps, bitrate,
                                 multicast);
  out.append("</").append(element).append(">");
  return out;
}

}  // namespace

std::string BuildProfileXml(std::string_view token, std::string_view name, std::string_view source_config_token,
                            std::string_view encoder_config_token, std::string_view width, std::string_view height,
                            std::string_view fps, std::string_view bitrate) {
  return ProfileElement("trt:Profiles", token, name, source_config_token, encoder_config_token, width, height, fps,
                        bitrate);
}

std::string ProfileXml(std::string_view element, const OnvifService& service, const ProfileRow& row) {
  return ProfileElement(element, row.token, row.name, row.source_token, row.encoder_token, std::to_string(row.width),
                        std::to_string(row.height), std::to_string(service.fps), std::to_string(row.bitrate_kbps),
                        MulticastBlockOf(service, row));
}

OperationAnswer AnswerGetProfile(const OnvifService& service, std::string_view body) {
  const std::vector<ProfileRow> rows = ProfileRows(service);
  const ProfileRow* row = RowWhere(rows, &ProfileRow::token, ExtractElementText(body, "ProfileToken"));
  if (!row) return Fault(kNoProfileFault);
  return {"<trt:GetProfileResponse>" + ProfileXml("trt:Profile", service, *row) + "</trt:GetProfileResponse>", {}};
}

std::string MediaServiceCapabilitiesXml(const OnvifService& service) {
  return "<trt:Capabilities SnapshotUri=\"true\" Rotation=\"false\" VideoSourceMode=\"false\" OSD=\"false\">"
         "<trt:ProfileCapabilities MaximumNumberOfProfiles=\"" +
         std::to_string(ProfileRows(service).size()) +
         "\"/><trt:StreamingCapabilities RTPMulticast=\"true\" RTP_TCP=\"true\" RTP_RTSP_TCP=\"true\" "
         "NonAggregateControl=\"false\" NoRTSPStreaming=\"false\"/></trt:Capabilities>";
}

std::optional<OperationAnswer> AnswerMediaOperation(const OnvifService& service, std::string_view name,
                                                    std::string_view body) {
  const std::vector<ProfileRow> rows = ProfileRows(service);
  const std::string configuration = ExtractElementText(body, "ConfigurationToken");
  const std::string profile = ExtractElementText(body, "ProfileToken");

  if (name == "GetServiceCapabilities") {
    return OperationAnswer{"<trt:GetServiceCapabilitiesResponse>" + MediaServiceCapabilitiesXml(service) +
                               "</trt:GetServiceCapabilitiesResponse>",
                           {}};
  }
  if (name == "GetVideoSourceConfigurations" || name == "GetVideoEncoderConfigurations") {
    const bool source = name == "GetVideoSourceConfigurations";
    std::string out = source ? "<trt:GetVideoSourceConfigurationsResponse>" : "<trt:GetVideoEncoderConfigurationsResponse>";
    for (const ProfileRow& row : rows)
      out += source ? SourceXml("trt:Configurations", row) : EncoderXml("trt:Configurations", service, row);
    out += source ? "</trt:GetVideoSourceConfigurationsResponse>" : "</trt:GetVideoEncoderConfigurationsResponse>";
    return OperationAnswer{out, {}};
  }
  if (name == "GetVideoSourceConfiguration") {
    const ProfileRow* row = RowWhere(rows, &ProfileRow::source_token, configuration);
    if (!row) return Fault(kNoConfigFault);
    return OperationAnswer{"<trt:GetVideoSourceConfigurationResponse>" + SourceXml("trt:Configuration", *row) +
                               "</trt:GetVideoSourceConfigurationResponse>",
                           {}};
  }
  if (name == "GetVideoEncoderConfiguration") {
    const ProfileRow* row = RowWhere(rows, &ProfileRow::encoder_token, configuration);
    if (!row) return Fault(kNoConfigFault);
    return OperationAnswer{"<trt:GetVideoEncoderConfigurationResponse>" +
                               EncoderXml("trt:Configuration", service, *row) +
                               "</trt:GetVideoEncoderConfigurationResponse>",
                           {}};
  }
  if (name == "GetVideoEncoderConfigurationOptions") {
    // Both tokens are optional: neither means the options of any
    // configuration, which are the main stream's.
    const ProfileRow* row = &rows.front();
    if (!configuration.empty() && !(row = RowWhere(rows, &ProfileRow::encoder_token, configuration)))
      return Fault(kNoConfigFault);
    if (configuration.empty() && !profile.empty() && !(row = RowWhere(rows, &ProfileRow::token, profile)))
      return Fault(kNoProfileFault);
    return OperationAnswer{EncoderOptionsAnswer(service, *row), {}};
  }
  if (name == "GetCompatibleVideoEncoderConfigurations") {
    const ProfileRow* row = RowWhere(rows, &ProfileRow::token, profile);
    if (!row) return Fault(kNoProfileFault);
    return OperationAnswer{"<trt:GetCompatibleVideoEncoderConfigurationsResponse>" +
                               EncoderXml("trt:Configurations", service, *row) +
                               "</trt:GetCompatibleVideoEncoderConfigurationsResponse>",
                           {}};
  }
  // The picture carries no overlay: no OSD to list, none can be made.
  if (name == "GetOSDs") {
    if (!configuration.empty() && !RowWhere(rows, &ProfileRow::source_token, configuration))
      return Fault(kNoConfigFault);
    return OperationAnswer{"<trt:GetOSDsResponse/>", {}};
  }
  if (name == "GetOSDOptions") {
    if (!RowWhere(rows, &ProfileRow::source_token, configuration)) return Fault(kNoConfigFault);
    return OperationAnswer{"<trt:GetOSDOptionsResponse><trt:OSDOptions><tt:MaximumNumberOfOSDs Total=\"0\" "
                           "PlainText=\"0\" Image=\"0\"/><tt:Type>Text</tt:Type>"
                           "<tt:PositionOption>UpperLeft</tt:PositionOption></trt:OSDOptions>"
                           "</trt:GetOSDOptionsResponse>",
                           {}};
  }
  // Recorders that try to add their own profile fall back to the fixed ones
  // on these faults.
  if (name == "CreateProfile") return Fault(kMaxProfilesFault);
  if (name == "DeleteProfile") {
    if (!RowWhere(rows, &ProfileRow::token, profile)) return Fault(kNoProfileFault);
    return Fault(kFixedProfileFault);
  }
  // The shared multicast sender of a profile's stream runs from Start until
  // Stop, watched or not (the RTSP server's hold).
  if (name == "StartMulticastStreaming" || name == "StopMulticastStreaming") {
    const ProfileRow* row = RowWhere(rows, &ProfileRow::token, profile);
    if (!row) return Fault(kNoProfileFault);
    if (!service.multicast_streaming) return Fault(kActionNotSupportedFault);
    const bool start = name == "StartMulticastStreaming";
    if (!service.multicast_streaming(row->sub, start)) {
      LogLine("ONVIF: %s of %s failed: the group's sockets could not be opened\n", name.data(), row->token);
      return Fault(kMulticastUnavailableFault);
    }
    return OperationAnswer{start ? "<trt:StartMulticastStreamingResponse/>" : "<trt:StopMulticastStreamingResponse/>",
                           {}};
  }
  if (name == "GetGuaranteedNumberOfVideoEncoderInstances") {
    if (!RowWhere(rows, &ProfileRow::source_token, configuration)) return Fault(kNoConfigFault);
    // One encoder per stream, both fed by the one source.
    const std::string count = std::to_string(rows.size());
    return OperationAnswer{"<trt:GetGuaranteedNumberOfVideoEncoderInstancesResponse><trt:TotalNumber>" + count +
                               "</trt:TotalNumber><trt:H264>" + count +
                               "</trt:H264></trt:GetGuaranteedNumberOfVideoEncoderInstancesResponse>",
                           {}};
  }
  return std::nullopt;
}

}  // namespace lcx
