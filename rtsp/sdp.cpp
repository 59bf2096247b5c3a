// SDP for one H.264 stream; addresses are 0.0.0.0 (the transport is chosen
// at SETUP) except in the multicast group's description.
#include "rtsp/sdp.h"

#include <cstdint>
#include <vector>

#include "security/digest.h"
#include "video/stream_channel.h"

namespace lcx {

std::string BuildSdpText(std::string_view sps, std::string_view pps, std::string_view profile_level_id) {
  std::string sdp =
      "v=0\r\n"
      "o=- 0 0 IN IP4 0.0.0.0\r\n"
      "s=lcx-screen\r\n"
      "c=IN IP4 0.0.0.0\r\n"
      "t=0 0\r\n"
      "m=video 0 RTP/AVP 96\r\n"
      "a=rtpmap:96 H264/90000\r\n"
      "a=fmtp:96 packetization-mode=1;profile-level-id=";
  sdp += profile_level_id;
  sdp += ";sprop-parameter-sets=";
  sdp += Base64Encode(sps);
  sdp += ',';
  sdp += Base64Encode(pps);
  sdp += "\r\na=control:trackID=0\r\n";
  return sdp;
}

std::string MulticastSdp(std::string_view sdp, std::string_view group, uint16_t port, int ttl) {
  std::string out(sdp);
  const std::string connection = "c=IN IP4 0.0.0.0\r\n", media = "m=video 0 ";
  size_t at = out.find(connection);
  if (at != std::string::npos)
    out.replace(at, connection.size(), "c=IN IP4 " + std::string(group) + "/" + std::to_string(ttl) + "\r\n");
  at = out.find(media);
  if (at != std::string::npos) out.replace(at, media.size(), "m=video " + std::to_string(port) + " ");
  return out;
}

std::string BuildSdp(StreamChannel& channel) {
  std::vector<uint8_t> sps, pps;
  std::string profile;
  CopyParameterSets(channel, sps, pps, profile);
  auto view = [](const std::vector<uint8_t>& v) {
    return std::string_view(reinterpret_cast<const char*>(v.data()), v.size());
  };
  return BuildSdpText(view(sps), view(pps), profile);
}

}  // namespace lcx
