#include "core/settings.h"

#include <gtest/gtest.h>


namespace lcx {
namespace {

TEST(PictureSizes, FromScreenAndSettings) {
  struct Case {
    const char* name;
    int sw, sh;
    bool substream;
    int sub_width, main_width;
    PictureSizes want;  // screen, main, sub, stream
  } cases[] = {
      {"defaults on 1080p", 1920, 1080, true, 640, 0, {1920, 1080, 0, 0, 640, 360, 1920, 1080}},
      {"main wider than the screen stays native", 1280, 720, true, 640, 1920, {1280, 720, 0, 0, 640, 360, 1280, 720}},
      {"odd main width rounds down", 1920, 1080, true, 640, 1281, {1920, 1080, 1280, 720, 640, 360, 1280, 720}},
      {"main equal to the screen stays native", 1920, 1080, true, 640, 1920, {1920, 1080, 0, 0, 640, 360, 1920, 1080}},
      {"sub width 1 turns the sub-stream off", 1920, 1080, true, 1, 0, {1920, 1080, 0, 0, 0, 0, 1920, 1080}},
      {"substream off", 1920, 1080, false, 640, 0, {1920, 1080, 0, 0, 0, 0, 1920, 1080}},
      {"odd screen", 1365, 767, true, 640, 0, {1364, 766, 0, 0, 640, 358, 1364, 766}},
      {"no screen", 0, 0, true, 640, 1280, {0, 0, 0, 0, 0, 0, 0, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    PictureSizes s = ComputePictureSizes(c.sw, c.sh, c.substream, c.sub_width, c.main_width);
    EXPECT_EQ(s.screen_width, c.want.screen_width);
    EXPECT_EQ(s.screen_height, c.want.screen_height);
    EXPECT_EQ(s.main_width, c.want.main_width);
    EXPECT_EQ(s.main_height, c.want.main_height);
    EXPECT_EQ(s.sub_width, c.want.sub_width);
    EXPECT_EQ(s.sub_height, c.want.sub_height);
    EXPECT_EQ(s.stream_width, c.want.stream_width);
    EXPECT_EQ(s.stream_height, c.want.stream_height);
  }
}

TEST(EngineSettings, PortDefaultsComeFromTheArguments) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    int rtsp, onvif;
  } cases[] = {
      {"no arguments", {}, 8554, 8000},
      {"one port", {"9000"}, 9000, 8000},
      {"two ports", {"9000", "9001"}, 9000, 9001},
      // Was port 0: the server listened on a random port while every URL said ":0".
      {"an option word first", {"--background"}, 8554, 8000},
      {"an option word second", {"9000", "--relaunch"}, 9000, 8000},
      {"digits then letters are not a port", {"9000x", "80a"}, 8554, 8000},
      {"zero and out of range are not ports", {"0", "65536"}, 8554, 8000},
      {"a signed number is not a port", {"+9000", "-1"}, 8554, 8000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EngineSettings s = ReadEngineSettings({}, c.args);
    EXPECT_EQ(s.rtsp_port, c.rtsp);
    EXPECT_EQ(s.onvif_port, c.onvif);
  }
  EngineSettings s = ReadEngineSettings({{"rtsp_port", "554"}, {"fps", "abc"}}, {"9000"});
  EXPECT_EQ(s.rtsp_port, 554) << "the file wins over the argument";
  // Was 0 ("letters read as 0 and are used as they are"): no periodic key
  // frame and a four-frame queue, so a second viewer never got a picture.
  EXPECT_EQ(s.fps, 1) << "letters read as 0, clamped to the lowest frame rate";
}

TEST(EngineSettings, HandEditedValuesAreClampedAsTheEditorsClampThem) {
  struct Case {
    const char* key;
    const char* value;
    int32_t EngineSettings::*field;
    int32_t want;
  } cases[] = {
      {"fps", "0", &EngineSettings::fps, 1},
      {"fps", "", &EngineSettings::fps, 1},
      {"fps", "-5", &EngineSettings::fps, 1},
      {"fps", "61", &EngineSettings::fps, 60},
      {"fps", "25", &EngineSettings::fps, 25},
      {"bitrate", "10", &EngineSettings::bitrate_kbps, 256},
      {"bitrate", "99999999999", &EngineSettings::bitrate_kbps, 16384},
      {"sub_bitrate", "0", &EngineSettings::sub_bitrate_kbps, 64},
      {"sub_bitrate", "4096", &EngineSettings::sub_bitrate_kbps, 2048},
      {"main_width", "-1", &EngineSettings::main_width_setting, 0},
      {"main_width", "8000", &EngineSettings::main_width_setting, 4096},
      {"sub_width", "1", &EngineSettings::sub_width_setting, 320},
      {"sub_width", "5000", &EngineSettings::sub_width_setting, 1280},
      {"rtsp_port", "0", &EngineSettings::rtsp_port, 1},
      {"rtsp_port", "abc", &EngineSettings::rtsp_port, 1},
      {"rtsp_port", "70000", &EngineSettings::rtsp_port, 65535},
      {"onvif_port", "-80", &EngineSettings::onvif_port, 1},
      {"web_port", "65536", &EngineSettings::web_port, 65535},
      {"web_port", "8181", &EngineSettings::web_port, 8181},
      {"motion_sensitivity", "-3", &EngineSettings::motion_sensitivity, 0},
      {"motion_sensitivity", "150", &EngineSettings::motion_sensitivity, 100},
      {"motion_sensitivity", "7", &EngineSettings::motion_sensitivity, 7},
      {"motion_hold_s", "0", &EngineSettings::motion_hold_s, 1},
      {"motion_hold_s", "9999", &EngineSettings::motion_hold_s, 600},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.key) + " = " + c.value);
    EXPECT_EQ(ReadEngineSettings({{c.key, c.value}}, {}).*c.field, c.want);
  }
}

TEST(EngineSettings, Banner) {
  EngineSettings s = ReadEngineSettings({{"rtsp_port", "554"}}, {});
  ApplyScreenSize(s, 1920, 1080);
  std::string banner;
  for (const auto& l : BannerLines(s, "10.1.2.3")) banner += l;
  EXPECT_EQ(banner,
            "=== lcx-engine ONVIF screen camera ===\n"
            "  IP        : 10.1.2.3\n"
            "  ONVIF     : http://10.1.2.3:8000/onvif/device_service\n"
            "  RTSP main : rtsp://10.1.2.3:554/screenlive\n"
            "  RTSP sub  : rtsp://10.1.2.3:554/screensub  (640x360)\n"
            "  Web Admin : http://10.1.2.3:8080/\n"
            "  Video     : 1920x1080 @ 10 fps, ~2000 kbps (full screen)\n");
  EXPECT_EQ(AuthBannerLine(s), "  Auth      : OFF (open) (user=admin)\n");

  s = ReadEngineSettings({{"substream", "0"}, {"web_admin", "0"}, {"main_width", "1280"},
                          {"stream_auth", "1"}, {"admin_user", "op"}}, {});
  ApplyScreenSize(s, 1920, 1080);
  banner.clear();
  for (const auto& l : BannerLines(s, "10.1.2.3")) banner += l;
  EXPECT_NE(banner.find("  RTSP sub  : disabled (single stream)\n"), std::string::npos);
  EXPECT_EQ(banner.find("Web Admin"), std::string::npos);
  EXPECT_NE(banner.find("  Video     : 1280x720 @ 10 fps, ~2000 kbps (downscaled)\n"), std::string::npos);
  EXPECT_TRUE(s.sub_stream.empty());
  EXPECT_EQ(AuthBannerLine(s), "  Auth      : ON (RTSP Digest + ONVIF WS-Sec) (user=op)\n");
}

}  // namespace
}  // namespace lcx
