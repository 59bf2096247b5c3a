// The SDP answered to DESCRIBE: one H.264 video track in packetization
// mode 1 with the stream's parameter sets inline.
#pragma once

#include <string>
#include <string_view>

namespace lcx {

struct StreamChannel;

// SDP text from raw SPS and PPS bytes (no start codes) and the six-digit
// profile-level-id. Lines end with CR LF.
std::string BuildSdpText(std::string_view sps, std::string_view pps, std::string_view profile_level_id);

// SDP of a stream: copies the channel's parameter sets under its mutex.
std::string BuildSdp(StreamChannel& channel);

}  // namespace lcx
