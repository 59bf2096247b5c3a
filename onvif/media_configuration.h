// The media configurations behind the profiles (video source and encoder
// configurations, the encoder's options) and the media calls a recorder
// makes while adding and configuring the camera. Answers come from the same
// settings as the profile list; the Set calls are refused (the settings
// change only through an editor and the restart). Pure.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "onvif/soap_envelope.h"

namespace lcx {

struct OnvifService;

// One profile and the two configurations it is made of.
struct ProfileRow {
  const char* token;
  const char* name;
  const char* source_token;
  const char* encoder_token;
  int width = 0, height = 0;
  int bitrate_kbps = 0;
  int min_bitrate_kbps = 0, max_bitrate_kbps = 0;  // what the editors accept
  bool sub = false;
};
// The main profile, and the sub profile when the sub-stream is on.
std::vector<ProfileRow> ProfileRows(const OnvifService& service);

// Sizes a recorder may list for the row, largest first: its own size and
// the widths the editors offer that are smaller, at the row's aspect ratio.
std::vector<std::pair<int, int>> OfferedResolutions(const OnvifService& service, const ProfileRow& row);

// A tt:VideoSourceConfiguration / tt:VideoEncoderConfiguration under the
// element name given (as the profile holds it, or as a call answers it).
std::string SourceConfigurationXml(std::string_view element, std::string_view token, std::string_view width,
                                   std::string_view height);
// The group an encoder's multicast stream goes to; the default is "none".
struct MulticastBlock {
  std::string address = "0.0.0.0";
  int port = 0;
  int ttl = 1;
};
// The block of a row: the service's group and port (the sub-stream's two
// above), or the default while no group is configured.
MulticastBlock MulticastBlockOf(const OnvifService& service, const ProfileRow& row);
std::string EncoderConfigurationXml(std::string_view element, std::string_view token, std::string_view width,
                                    std::string_view height, std::string_view fps, std::string_view bitrate,
                                    const MulticastBlock& multicast = MulticastBlock());

// One trt:Profiles element of GetProfiles from the eight items of a row.
std::string BuildProfileXml(std::string_view token, std::string_view name,
                            std::string_view source_config_token, std::string_view encoder_config_token,
                            std::string_view width, std::string_view height, std::string_view fps,
                            std::string_view bitrate);
// The row as GetProfiles (element "trt:Profiles") or GetProfile ("trt:Profile") lists it.
std::string ProfileXml(std::string_view element, const OnvifService& service, const ProfileRow& row);

// trt:GetProfileResponse with the profile the body's ProfileToken names.
OperationAnswer AnswerGetProfile(const OnvifService& service, std::string_view body);
// The media service's capabilities element (trt:Capabilities).
std::string MediaServiceCapabilitiesXml(const OnvifService& service);
// The answer to the media operation `name`, or nothing when this module does
// not know it.
std::optional<OperationAnswer> AnswerMediaOperation(const OnvifService& service, std::string_view name,
                                                    std::string_view body);

}  // namespace lcx
