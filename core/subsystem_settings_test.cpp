#include "core/subsystem_settings.h"

#include <gtest/gtest.h>

namespace lcx {
namespace {

// One row per situation start-up meets: what the file says, the screen, and
// what each server must be handed.
TEST(SubsystemSettings, MappedFromEngineSettings) {
  struct Case {
    const char* name;
    ConfigMap config;
    int screen_w, screen_h;
    VideoSettings video;
    RtspSettings rtsp;
    OnvifSettings onvif;
    std::vector<std::string> args;
    struct {
      int web_port, rtsp_port, onvif_port;
      bool web_admin;
      const char* main_stream;
      int shown_rtsp, shown_onvif;  // what the editors show for absent port keys
    } desktop;
  } cases[] = {
      {"defaults on a 1080p screen",
       {},
       1920, 1080,
       {10, 2000, 0, 0, true, 640, 360, 512},
       {8554, "screenlive", "screensub", "admin", "admin", false},
       {"10.0.0.5", 8000, 8554, "screenlive", 1920, 1080, 10, "screensub", 640, 360, "admin", "admin", false,
        "Lumicast", 2000, 512, 1920, 1080},
       {},
       {8080, 8554, 8000, true, "screenlive", 8554, 8000}},
      {"down-scaled main, no sub-stream, protected",
       {{"main_width", "1280"}, {"substream", "0"}, {"stream_auth", "1"}, {"admin_user", "op"},
        {"admin_pass", "pw"}, {"rtsp_port", "554"}, {"onvif_port", "8081"}, {"fps", "15"}, {"bitrate", "4000"},
        {"stream", "live"}, {"device_name", "Hall"}, {"multicast_group", "239.1.2.3"}, {"multicast_port", "6001"},
        {"multicast_ttl", "300"}},
       1920, 1080,
       {15, 4000, 1280, 720, false, 0, 0, 512, 2, 5},
       // An odd port is taken down to the even one below; the TTL clamped.
       {554, "live", "", "op", "pw", true, "239.1.2.3", 6000, 255},
       {"10.0.0.5", 8081, 554, "live", 1280, 720, 15, "", 0, 0, "op", "pw", true, "Hall", 4000, 512, 1920, 1080},
       {"7000"},
       {8080, 554, 8081, true, "live", 7000, 8000}},
      {"ports from the command line, web panel off",
       {{"web_admin", "0"}, {"web_port", "8181"}},
       1920, 1080,
       {10, 2000, 0, 0, true, 640, 360, 512},
       {9000, "screenlive", "screensub", "admin", "admin", false},
       {"10.0.0.5", 9001, 9000, "screenlive", 1920, 1080, 10, "screensub", 640, 360, "admin", "admin", false,
        "Lumicast", 2000, 512, 1920, 1080},
       {"9000", "9001"},
       {8181, 9000, 9001, false, "screenlive", 9000, 9001}},
      // Once turned the sub-stream off; the editors never write a width below 320.
      {"hand-edited sub width 1 is raised to the editors' 320; motion settings",
       {{"sub_width", "1"}, {"sub_bitrate", "300"}, {"motion_sensitivity", "10"}, {"motion_hold_s", "30"}},
       1366, 768,
       {10, 2000, 0, 0, true, 320, 178, 300, 10, 30},
       {8554, "screenlive", "screensub", "admin", "admin", false},
       {"10.0.0.5", 8000, 8554, "screenlive", 1366, 768, 10, "screensub", 320, 178, "admin", "admin", false,
        "Lumicast", 2000, 300, 1366, 768},
       {},
       {8080, 8554, 8000, true, "screenlive", 8554, 8000}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EngineSettings s = ReadEngineSettings(c.config, c.args);
    ApplyScreenSize(s, c.screen_w, c.screen_h);

    VideoSettings v = VideoSettingsFrom(s);
    EXPECT_EQ(v.fps, c.video.fps);
    EXPECT_EQ(v.main_bitrate_kbps, c.video.main_bitrate_kbps);
    EXPECT_EQ(v.main_scale_width, c.video.main_scale_width);
    EXPECT_EQ(v.main_scale_height, c.video.main_scale_height);
    EXPECT_EQ(v.sub_on, c.video.sub_on);
    EXPECT_EQ(v.sub_width, c.video.sub_width);
    EXPECT_EQ(v.sub_height, c.video.sub_height);
    EXPECT_EQ(v.sub_bitrate_kbps, c.video.sub_bitrate_kbps);
    EXPECT_EQ(v.motion_sensitivity, c.video.motion_sensitivity);
    EXPECT_EQ(v.motion_hold_s, c.video.motion_hold_s);

    RtspSettings r = RtspSettingsFrom(s);
    EXPECT_EQ(r.port, c.rtsp.port);
    EXPECT_EQ(r.main_name, c.rtsp.main_name);
    EXPECT_EQ(r.sub_name, c.rtsp.sub_name);
    EXPECT_EQ(r.user, c.rtsp.user);
    EXPECT_EQ(r.password, c.rtsp.password);
    EXPECT_EQ(r.auth_required, c.rtsp.auth_required);
    EXPECT_EQ(r.multicast_group, c.rtsp.multicast_group);
    EXPECT_EQ(r.multicast_port, c.rtsp.multicast_port);
    EXPECT_EQ(r.multicast_ttl, c.rtsp.multicast_ttl);

    OnvifSettings o = OnvifSettingsFrom(s, "10.0.0.5");
    EXPECT_EQ(o.address, c.onvif.address);
    EXPECT_EQ(o.onvif_port, c.onvif.onvif_port);
    EXPECT_EQ(o.rtsp_port, c.onvif.rtsp_port);
    EXPECT_EQ(o.main_name, c.onvif.main_name);
    EXPECT_EQ(o.main_stream_width, c.onvif.main_stream_width);
    EXPECT_EQ(o.main_stream_height, c.onvif.main_stream_height);
    EXPECT_EQ(o.screen_width, c.onvif.screen_width);
    EXPECT_EQ(o.screen_height, c.onvif.screen_height);
    EXPECT_EQ(o.fps, c.onvif.fps);
    EXPECT_EQ(o.sub_name, c.onvif.sub_name);
    EXPECT_EQ(o.sub_width, c.onvif.sub_width);
    EXPECT_EQ(o.sub_height, c.onvif.sub_height);
    EXPECT_EQ(o.user, c.onvif.user);
    EXPECT_EQ(o.password, c.onvif.password);
    EXPECT_EQ(o.auth_required, c.onvif.auth_required);
    EXPECT_EQ(o.device_name, c.onvif.device_name);
    EXPECT_EQ(o.main_bitrate_kbps, c.onvif.main_bitrate_kbps);
    EXPECT_EQ(o.sub_bitrate_kbps, c.onvif.sub_bitrate_kbps);

    DesktopContext d = DesktopContextFrom(s, "10.0.0.5", "/opt/lcx/lcx_onvif", "/opt/lcx", "<html>", "KEY");
    EXPECT_EQ(d.exe_path, "/opt/lcx/lcx_onvif");
    EXPECT_EQ(d.exe_dir, "/opt/lcx");
    EXPECT_EQ(d.address, "10.0.0.5");
    EXPECT_EQ(d.version, std::string(kVersionText));
    EXPECT_EQ(d.web_port, c.desktop.web_port);
    EXPECT_EQ(d.rtsp_port, c.desktop.rtsp_port);
    EXPECT_EQ(d.onvif_port, c.desktop.onvif_port);
    EXPECT_EQ(d.web_admin, c.desktop.web_admin);
    EXPECT_EQ(d.main_stream, c.desktop.main_stream);
    EXPECT_EQ(d.defaults.rtsp_port, c.desktop.shown_rtsp);
    EXPECT_EQ(d.defaults.onvif_port, c.desktop.shown_onvif);
    EXPECT_EQ(WebSettingsFrom(s, "10.0.0.5", "ab12", "/data").defaults.rtsp_port, c.desktop.shown_rtsp);
    EXPECT_EQ(d.eula_html, "<html>");
    EXPECT_EQ(d.recovery_key_blob, "KEY");
  }
}

TEST(SubsystemSettings, WebPanelAndALockedPassword) {
  EngineSettings s = ReadEngineSettings(
      {{"admin_user", "op"}, {"admin_pass", "pw"}, {"web_port", "8181"}, {"web_hosts", "cam.lan, cam2.lan"}}, {});
  ApplyScreenSize(s, 1920, 1080);
  WebSettings w = WebSettingsFrom(s, "10.0.0.5", "ab12", "/data");
  EXPECT_EQ(w.web_hosts, "cam.lan, cam2.lan");
  EXPECT_EQ(w.host_address, "10.0.0.5");
  EXPECT_EQ(w.machine_id, "ab12");
  EXPECT_EQ(w.version, std::string(kVersionText));
  EXPECT_EQ(w.admin_user, "op");
  EXPECT_EQ(w.admin_password, "pw");
  EXPECT_FALSE(w.password_locked);
  EXPECT_EQ(w.web_port, 8181);
  EXPECT_EQ(w.data_folder, "/data");

  // The locked marker holds the machine identifier, which the login page
  // shows: no server may accept it as a password.
  s.admin_pass = "\x01LOCKED-ab12";
  s.password_locked = true;
  EXPECT_EQ(RtspSettingsFrom(s).password, "");
  EXPECT_EQ(OnvifSettingsFrom(s, "10.0.0.5").password, "");
  w = WebSettingsFrom(s, "10.0.0.5", "ab12", "/data");
  EXPECT_EQ(w.admin_password, "");
  EXPECT_TRUE(w.password_locked);
}

}  // namespace
}  // namespace lcx
