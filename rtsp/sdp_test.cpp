#include "rtsp/sdp.h"

#include <gtest/gtest.h>

#include "video/stream_channel.h"

namespace lcx {
namespace {

TEST(BuildSdp, CarriesTheChannelsParameterSets) {
  StreamChannel channel;
  channel.sps = {0x67, 0x42, 0xC0, 0x1F};
  channel.pps = {0x68, 0xCE, 0x3C, 0x80};
  channel.profile_level_id = "42C01F";
  EXPECT_EQ(BuildSdp(channel),
            "v=0\r\n"
            "o=- 0 0 IN IP4 0.0.0.0\r\n"
            "s=lcx-screen\r\n"
            "c=IN IP4 0.0.0.0\r\n"
            "t=0 0\r\n"
            "m=video 0 RTP/AVP 96\r\n"
            "a=rtpmap:96 H264/90000\r\n"
            "a=fmtp:96 packetization-mode=1;profile-level-id=42C01F;sprop-parameter-sets=Z0LAHw==,aM48gA==\r\n"
            "a=control:trackID=0\r\n");
}

TEST(BuildSdp, BeforeEngineStartHasDefaultProfileAndEmptySets) {
  StreamChannel channel;
  std::string sdp = BuildSdp(channel);
  EXPECT_NE(sdp.find("profile-level-id=42C020;sprop-parameter-sets=,\r\n"), std::string::npos) << sdp;
}

}  // namespace
}  // namespace lcx
