// EngineSettings: the typed settings start-up derives from the configuration
// file, the command line and the screen. Subsystems get copies of the fields
// they need at initialisation and never read the file themselves.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/config.h"
#include "core/setting_table.h"
#include "core/version.h"

namespace lcx {

// Stream sizes derived from the primary screen. Sizes of 0 x 0 mean "native"
// for the main stream and "off" for the sub-stream.
struct PictureSizes {
  int32_t screen_width = 0, screen_height = 0;  // rounded down to even
  int32_t main_width = 0, main_height = 0;      // 0, 0 = native
  int32_t sub_width = 0, sub_height = 0;        // 0, 0 = no sub-stream
  int32_t stream_width = 0, stream_height = 0;  // what the main stream carries
  bool main_native() const { return main_width == 0 && main_height == 0; }
  bool sub_on() const { return sub_width > 0 && sub_height > 0; }
};

PictureSizes ComputePictureSizes(int32_t screen_width, int32_t screen_height, bool substream,
                                 int32_t sub_width_setting, int32_t main_width_setting);

struct EngineSettings {
  int32_t rtsp_port = 8554;
  int32_t onvif_port = 8000;
  int32_t fps = 10;
  int32_t bitrate_kbps = 2000;
  std::string main_stream = "screenlive";
  std::string sub_stream = "screensub";  // emptied when the sub-stream is off
  int32_t sub_bitrate_kbps = 512;
  int32_t motion_sensitivity = 2;  // percent, 0..100; 0: no motion detection
  int32_t motion_hold_s = 5;       // 1..600
  bool substream = true;
  int32_t sub_width_setting = 640;
  int32_t main_width_setting = 0;
  PictureSizes sizes;
  bool web_admin = true;
  int32_t web_port = 8080;
  std::string web_hosts;  // comma-separated extra Host names of the panel
  bool web_tls = false;
  std::string web_cert, web_key;  // PEM files; empty: the generated pair
  std::string admin_user = "admin";
  std::string admin_pass_stored = "admin";  // as in the file: plain or "enc:..."
  std::string admin_pass;                   // plain, or the locked marker
  bool password_locked = false;
  bool stream_on = true;
  bool stream_auth = false;
  std::string device_name = "Lumicast";
  bool show_icon = true;
  std::string capture = "auto";  // "auto", "x11" or "portal"
  std::string monitor;           // empty: the primary monitor, or the portal's choice
  std::string multicast_group = "239.255.42.42";
  int32_t multicast_port = 5560;
  int32_t multicast_ttl = 1;
  std::string push_url;  // empty: no publishing
  SettingDefaults defaults;      // what an editor shows for an absent port key
};

// Every setting with its default from core/setting_table; the first and
// second command-line words, when they are port numbers, are the defaults of
// rtsp_port and onvif_port. Integers are clamped into the table's ranges, the
// ones the editors enforce. The password stays as stored (see
// ResolveAdminPassword) and the sizes are left for ApplyScreenSize.
EngineSettings ReadEngineSettings(const ConfigMap& config, const std::vector<std::string>& args);
// Fills sizes from the screen and empties the sub-stream name when it is off.
void ApplyScreenSize(EngineSettings& settings, int32_t screen_width, int32_t screen_height);

// Banner lines up to the video line, and the authentication line that
// follows once the server objects exist.
std::vector<std::string> BannerLines(const EngineSettings& settings, const std::string& ip);
std::string AuthBannerLine(const EngineSettings& settings);

}  // namespace lcx
