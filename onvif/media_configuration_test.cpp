#include "onvif/media_configuration.h"

#include <gtest/gtest.h>

#include <string>

#include "onvif/onvif_service.h"

namespace lcx {
namespace {

OnvifService Service(int w, int h, int sub_w, int sub_h) {
  OnvifService s;
  s.width = w;
  s.height = h;
  s.fps = 15;
  s.sub_width = sub_w;
  s.sub_height = sub_h;
  s.substream_enabled = sub_w > 0;
  s.main_bitrate_kbps = 3000;
  s.sub_bitrate_kbps = 300;
  return s;
}

OnvifService OnScreen(OnvifService s, int screen_w, int screen_h) {
  s.screen_width = screen_w;
  s.screen_height = screen_h;
  return s;
}

using Sizes = std::vector<std::pair<int, int>>;

// What a recorder's dialog lists: the stream's own size and the smaller
// widths the editors offer, at the stream's aspect ratio, even sizes only.
TEST(OfferedResolutions, EditorWidthsAtTheStreamsAspect) {
  struct Case {
    const char* name;
    OnvifService service;
    bool sub;
    Sizes sizes;
  } cases[] = {
      {"1080p screen, main", Service(1920, 1080, 640, 360), false, {{1920, 1080}, {1280, 720}, {854, 480}, {640, 360}}},
      {"laptop screen 1366x768, main", Service(1366, 768, 0, 0), false,
       {{1366, 768}, {1280, 718}, {854, 480}, {640, 358}}},
      {"main down-scaled to 1280 (screen size unknown)", Service(1280, 720, 0, 0), false,
       {{1280, 720}, {854, 480}, {640, 360}}},
      {"main down-scaled to 1280 on a 1080p screen", OnScreen(Service(1280, 720, 0, 0), 1920, 1080), false,
       {{1920, 1080}, {1280, 720}, {854, 480}, {640, 360}}},
      {"main down-scaled to 854 on a 1366x768 screen", OnScreen(Service(854, 480, 0, 0), 1366, 768), false,
       {{1366, 768}, {1280, 718}, {854, 480}, {640, 358}}},
      {"sub-stream of a 1080p screen", Service(1920, 1080, 640, 360), true,
       {{854, 480}, {640, 360}, {480, 270}, {320, 180}}},
      {"sub-stream never above a small main stream", Service(800, 600, 480, 360), true,
       {{640, 480}, {480, 360}, {320, 240}}},
      {"hand-edited sub width the editors do not offer", Service(1920, 1080, 560, 314), true,
       {{854, 478}, {640, 358}, {560, 314}, {480, 268}, {320, 178}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<ProfileRow> rows = ProfileRows(c.service);
    EXPECT_EQ(OfferedResolutions(c.service, rows.at(c.sub ? 1 : 0)), c.sizes);
  }
}

TEST(BuildProfileXml, IsTheGetProfilesElementOfARow) {
  OnvifService s = Service(1920, 1080, 640, 360);
  std::vector<ProfileRow> rows = ProfileRows(s);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(ProfileXml("trt:Profiles", s, rows[1]),
            BuildProfileXml("prof1", "SubProfile", "vsrccfg1", "venccfg1", "640", "360", "15", "300"));
  EXPECT_EQ(ProfileRows(Service(1920, 1080, 0, 0)).size(), 1u);
}

std::string Call(const char* name, const std::string& tokens = "") { return std::string("<m:") + name + ">" + tokens; }

TEST(AnswerMediaOperation, ConfigurationsFromTheProfileSettings) {
  OnvifService s = Service(1920, 1080, 640, 360);
  const std::string sub_encoder = EncoderConfigurationXml("trt:Configuration", "venccfg1", "640", "360", "15", "300");
  const std::string main_source = SourceConfigurationXml("trt:Configuration", "vsrccfg0", "1920", "1080");
  struct Case {
    const char* name;
    const char* operation;
    std::string tokens;
    std::string element;  // empty: the fault below
    const char* fault_subcode;
  } cases[] = {
      {"one encoder configuration", "GetVideoEncoderConfiguration",
       "<m:ConfigurationToken>venccfg1</m:ConfigurationToken>",
       "<trt:GetVideoEncoderConfigurationResponse>" + sub_encoder + "</trt:GetVideoEncoderConfigurationResponse>", ""},
      {"one source configuration", "GetVideoSourceConfiguration",
       "<m:ConfigurationToken>vsrccfg0</m:ConfigurationToken>",
       "<trt:GetVideoSourceConfigurationResponse>" + main_source + "</trt:GetVideoSourceConfigurationResponse>", ""},
      {"compatible encoders of a profile", "GetCompatibleVideoEncoderConfigurations",
       "<m:ProfileToken>prof0</m:ProfileToken>",
       "<trt:GetCompatibleVideoEncoderConfigurationsResponse>" +
           EncoderConfigurationXml("trt:Configurations", "venccfg0", "1920", "1080", "15", "3000") +
           "</trt:GetCompatibleVideoEncoderConfigurationsResponse>",
       ""},
      {"encoder instances of the source", "GetGuaranteedNumberOfVideoEncoderInstances",
       "<m:ConfigurationToken>vsrccfg0</m:ConfigurationToken>",
       "<trt:GetGuaranteedNumberOfVideoEncoderInstancesResponse><trt:TotalNumber>2</trt:TotalNumber><trt:H264>2"
       "</trt:H264></trt:GetGuaranteedNumberOfVideoEncoderInstancesResponse>",
       ""},
      {"unknown encoder token", "GetVideoEncoderConfiguration", "<m:ConfigurationToken>venccfg9</m:ConfigurationToken>",
       "", "ter:NoConfig"},
      {"encoder token given for a source", "GetVideoSourceConfiguration",
       "<m:ConfigurationToken>venccfg0</m:ConfigurationToken>", "", "ter:NoConfig"},
      {"options for an unknown profile", "GetVideoEncoderConfigurationOptions", "<m:ProfileToken>x</m:ProfileToken>",
       "", "ter:NoProfile"},
      {"compatible encoders of an unknown profile", "GetCompatibleVideoEncoderConfigurations", "", "",
       "ter:NoProfile"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::optional<OperationAnswer> answer = AnswerMediaOperation(s, c.operation, Call(c.operation, c.tokens));
    ASSERT_TRUE(answer.has_value());
    EXPECT_EQ(answer->element, c.element);
    EXPECT_EQ(answer->fault ? answer->fault->inner_subcode : "", std::string(c.fault_subcode));
  }
  EXPECT_FALSE(AnswerMediaOperation(s, "SetVideoEncoderConfiguration", "").has_value());
  // The sub profile's configurations do not exist while the sub-stream is off.
  OnvifService single = Service(1920, 1080, 0, 0);
  EXPECT_TRUE(AnswerMediaOperation(single, "GetVideoEncoderConfiguration",
                                   "<m:ConfigurationToken>venccfg1</m:ConfigurationToken>")
                  ->fault.has_value());
}

TEST(AnswerMediaOperation, EncoderOptionsOfTheSubStream) {
  OnvifService s = Service(1920, 1080, 640, 360);
  const std::string h264 =
      "<tt:ResolutionsAvailable><tt:Width>854</tt:Width><tt:Height>480</tt:Height></tt:ResolutionsAvailable>"
      "<tt:ResolutionsAvailable><tt:Width>640</tt:Width><tt:Height>360</tt:Height></tt:ResolutionsAvailable>"
      "<tt:ResolutionsAvailable><tt:Width>480</tt:Width><tt:Height>270</tt:Height></tt:ResolutionsAvailable>"
      "<tt:ResolutionsAvailable><tt:Width>320</tt:Width><tt:Height>180</tt:Height></tt:ResolutionsAvailable>"
      "<tt:GovLengthRange><tt:Min>1</tt:Min><tt:Max>60</tt:Max></tt:GovLengthRange>"
      "<tt:FrameRateRange><tt:Min>1</tt:Min><tt:Max>60</tt:Max></tt:FrameRateRange>"
      "<tt:EncodingIntervalRange><tt:Min>1</tt:Min><tt:Max>1</tt:Max></tt:EncodingIntervalRange>"
      "<tt:H264ProfilesSupported>Baseline</tt:H264ProfilesSupported>";
  const std::string expected =
      "<trt:GetVideoEncoderConfigurationOptionsResponse><trt:Options><tt:QualityRange><tt:Min>5</tt:Min>"
      "<tt:Max>5</tt:Max></tt:QualityRange><tt:H264>" + h264 + "</tt:H264><tt:Extension><tt:H264>" + h264 +
      "<tt:BitrateRange><tt:Min>64</tt:Min><tt:Max>2048</tt:Max></tt:BitrateRange></tt:H264></tt:Extension>"
      "</trt:Options></trt:GetVideoEncoderConfigurationOptionsResponse>";
  for (const char* tokens : {"<m:ConfigurationToken>venccfg1</m:ConfigurationToken>",
                             "<m:ProfileToken>prof1</m:ProfileToken>"}) {
    SCOPED_TRACE(tokens);
    EXPECT_EQ(AnswerMediaOperation(s, "GetVideoEncoderConfigurationOptions", tokens)->element, expected);
  }
  // No token: the main stream's, with its own bit-rate range.
  std::string any = AnswerMediaOperation(s, "GetVideoEncoderConfigurationOptions", "")->element;
  EXPECT_NE(any.find("<tt:Width>1920</tt:Width><tt:Height>1080</tt:Height>"), std::string::npos);
  EXPECT_NE(any.find("<tt:BitrateRange><tt:Min>256</tt:Min><tt:Max>16384</tt:Max></tt:BitrateRange>"),
            std::string::npos);
}

}  // namespace
}  // namespace lcx
