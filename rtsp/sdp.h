// The SDP answered to DESCRIBE: one H.264 video track in packetization
// mode 1 with the stream's parameter sets inline.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace lcx {

struct StreamChannel;

// SDP text from raw SPS and PPS bytes (no start codes) and the six-digit
// profile-level-id. Lines end with CR LF.
std::string BuildSdpText(std::string_view sps, std::string_view pps, std::string_view profile_level_id);

// SDP of a stream: copies the channel's parameter sets under its mutex.
// `sdp` (as BuildSdp makes it) describing the multicast group instead:
// the connection line names the group and TTL, the media line the port.
std::string MulticastSdp(std::string_view sdp, std::string_view group, uint16_t port, int ttl);
std::string BuildSdp(StreamChannel& channel);

}  // namespace lcx
