#include "core/settings.h"

#include <cstdio>

namespace lcx {
namespace {

int32_t Even(int32_t v) { return v & ~1; }

std::string Format(const char* format, auto... args) {
  char buf[1024];
  std::snprintf(buf, sizeof buf, format, args...);
  return buf;
}

}  // namespace

PictureSizes ComputePictureSizes(int32_t screen_width, int32_t screen_height, bool substream,
                                 int32_t sub_width_setting, int32_t main_width_setting) {
  PictureSizes s;
  const int32_t w = Even(screen_width), h = Even(screen_height);
  s.screen_width = w;
  s.screen_height = h;
  if (substream && w >= 1 && h >= 1) {
    int32_t sw = Even(sub_width_setting);
    int32_t sh = Even(static_cast<int32_t>(static_cast<int64_t>(sw) * h / w));
    if (sw >= 1 && sh >= 1) {
      s.sub_width = sw;
      s.sub_height = sh;
    }
  }
  if (main_width_setting > 0 && w >= 1) {
    int32_t m = Even(main_width_setting);
    if (m < w) {
      s.main_width = m;
      s.main_height = Even(static_cast<int32_t>(static_cast<int64_t>(m) * h / w));
    }
  }
  s.stream_width = s.main_native() ? w : s.main_width;
  s.stream_height = s.main_native() ? h : s.main_height;
  return s;
}

EngineSettings ReadEngineSettings(const ConfigMap& config, const std::vector<std::string>& args) {
  EngineSettings s;
  s.defaults = SettingDefaultsFromArgs(args);
  s.rtsp_port = SettingInt(config, "rtsp_port", s.defaults);
  s.onvif_port = SettingInt(config, "onvif_port", s.defaults);
  s.fps = SettingInt(config, "fps");
  s.bitrate_kbps = SettingInt(config, "bitrate");
  s.web_admin = SettingFlag(config, "web_admin");
  s.web_port = SettingInt(config, "web_port");
  s.web_hosts = SettingText(config, "web_hosts");
  s.web_tls = SettingFlag(config, "web_tls");
  s.web_cert = SettingText(config, "web_cert");
  s.web_key = SettingText(config, "web_key");
  s.main_stream = SettingText(config, "stream");
  s.substream = SettingFlag(config, "substream");
  s.sub_stream = SettingText(config, "sub_stream");
  s.sub_width_setting = SettingInt(config, "sub_width");
  s.sub_bitrate_kbps = SettingInt(config, "sub_bitrate");
  s.motion_sensitivity = SettingInt(config, "motion_sensitivity");
  s.motion_hold_s = SettingInt(config, "motion_hold_s");
  s.main_width_setting = SettingInt(config, "main_width");
  s.admin_user = SettingText(config, "admin_user");
  s.admin_pass_stored = SettingText(config, "admin_pass");
  s.admin_pass = s.admin_pass_stored;
  s.stream_on = SettingFlag(config, "stream_on");
  s.stream_auth = SettingFlag(config, "stream_auth");
  s.device_name = SettingText(config, "device_name");
  s.show_icon = SettingFlag(config, "show_icon");
  s.capture = CaptureSetting(config);
  s.monitor = SettingText(config, "monitor");
  s.multicast_group = SettingText(config, "multicast_group");
  s.multicast_port = SettingInt(config, "multicast_port");
  s.multicast_ttl = SettingInt(config, "multicast_ttl");
  s.push_url = SettingText(config, "push_url");
  return s;
}

void ApplyScreenSize(EngineSettings& settings, int32_t screen_width, int32_t screen_height) {
  settings.sizes = ComputePictureSizes(screen_width, screen_height, settings.substream,
                                       settings.sub_width_setting, settings.main_width_setting);
  if (!settings.sizes.sub_on()) settings.sub_stream.clear();
}

std::vector<std::string> BannerLines(const EngineSettings& s, const std::string& ip) {
  std::vector<std::string> lines;
  lines.push_back("=== lcx-engine ONVIF screen camera ===\n");
  lines.push_back(Format("  IP        : %s\n", ip.c_str()));
  lines.push_back(Format("  ONVIF     : http://%s:%d/onvif/device_service\n", ip.c_str(), s.onvif_port));
  lines.push_back(Format("  RTSP main : rtsp://%s:%d/%s\n", ip.c_str(), s.rtsp_port, s.main_stream.c_str()));
  if (!s.sub_stream.empty()) {
    lines.push_back(Format("  RTSP sub  : rtsp://%s:%d/%s  (%dx%d)\n", ip.c_str(), s.rtsp_port,
                           s.sub_stream.c_str(), s.sizes.sub_width, s.sizes.sub_height));
  } else {
    lines.push_back("  RTSP sub  : disabled (single stream)\n");
  }
  if (s.web_admin) {
    lines.push_back(Format("  Web Admin : %s://%s:%d/\n", s.web_tls ? "https" : "http", ip.c_str(), s.web_port));
  }
  lines.push_back(Format("  Video     : %dx%d @ %d fps, ~%d kbps%s\n", s.sizes.stream_width,
                         s.sizes.stream_height, s.fps, s.bitrate_kbps,
                         s.sizes.main_native() ? " (full screen)" : " (downscaled)"));
  return lines;
}

std::string AuthBannerLine(const EngineSettings& s) {
  return Format("  Auth      : %s (user=%s)\n",
                s.stream_auth ? "ON (RTSP Digest + ONVIF WS-Sec)" : "OFF (open)", s.admin_user.c_str());
}

}  // namespace lcx
