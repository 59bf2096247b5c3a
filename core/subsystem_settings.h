// What each server is handed at initialisation, built from EngineSettings by
// pure functions so that the copying is written and tested in one place.
// Sizes are named by what they hold: a "scale" size of 0 x 0 means "encode
// at the screen's own size", a "stream" size is what the stream carries.
#pragma once

#include <cstdint>
#include <string>

#include "core/settings.h"

namespace lcx {

struct VideoSettings {
  int fps = 10;
  int main_bitrate_kbps = 2000;
  int main_scale_width = 0, main_scale_height = 0;  // 0 x 0: the screen's own size
  bool sub_on = false;
  int sub_width = 0, sub_height = 0;
  int sub_bitrate_kbps = 512;
  int motion_sensitivity = 2;  // percent of the picture changed within a second; 0: no motion detection
  int motion_hold_s = 5;       // motion lasts this long after the last change
};

struct RtspSettings {
  uint16_t port = 8554;
  std::string main_name = "screenlive";
  std::string sub_name = "screensub";  // empty: no sub-stream
  std::string user, password;
  bool auth_required = false;
  std::string multicast_group = "239.255.42.42";
  uint16_t multicast_port = 5560;  // the main stream's RTP; the sub-stream's two above
  int multicast_ttl = 1;
  std::string push_url;  // empty: no publishing
};

struct OnvifSettings {
  std::string address;
  int onvif_port = 8000;
  int rtsp_port = 8554;
  std::string main_name;
  int main_stream_width = 0, main_stream_height = 0;
  int fps = 10;
  std::string sub_name;  // empty: no sub-stream
  int sub_width = 0, sub_height = 0;
  std::string user, password;
  bool auth_required = false;
  std::string device_name;
  int main_bitrate_kbps = 2000, sub_bitrate_kbps = 512;
  int screen_width = 0, screen_height = 0;  // what the main stream carries unscaled
  std::string multicast_group;  // the multicast streams' group; its port the main stream's
  int multicast_port = 0, multicast_ttl = 1;
};

struct WebSettings {
  std::string host_address;  // the advertised address
  std::string machine_id;
  std::string version;
  std::string admin_user;
  std::string admin_password;    // plain, as start-up resolved it
  bool password_locked = false;  // the tamper rule locked the logins
  uint16_t web_port = 8080;
  std::string web_hosts;  // extra Host names, comma-separated
  bool tls = false;               // HTTPS on web_port; the session cookie gets Secure
  std::string cert_file, key_file;  // PEM; empty: the generated pair in data_folder
  std::string data_folder;  // holds lcx.cfg and sessions.dat
  SettingDefaults defaults;  // the ports the panel shows for absent keys
};

// What start-up hands the desktop windows.
struct DesktopContext {
  std::string exe_path;  // full path of the executable (autostart entry)
  std::string exe_dir;   // its directory
  std::string address;   // the advertised address
  std::string version;   // "1.1"
  int web_port = 8080;
  int rtsp_port = 8554;
  int onvif_port = 8000;
  bool web_admin = true;
  bool web_tls = false;  // the panel is served over HTTPS
  std::string main_stream = "screenlive";
  std::string multicast_group = "239.255.42.42";  // where a multicast viewer's stream goes
  int multicast_port = 5560;
  SettingDefaults defaults;        // the ports the admin window shows for absent keys
  bool share_again = false;  // the screen comes through the desktop's portal: offer "Share the screen again"
  std::string eula_html;           // the agreement page (also served at /eula)
  std::string recovery_key_blob;   // public key of the recovery codes, 283 bytes
};

// Each reads settings after ApplyScreenSize and ResolveAdminPassword. While
// the password is locked, the servers are handed no password at all: the
// locked marker is built from the machine identifier, which the login page
// shows, so handing it on would let anyone type it.
VideoSettings VideoSettingsFrom(const EngineSettings& settings);
RtspSettings RtspSettingsFrom(const EngineSettings& settings);
OnvifSettings OnvifSettingsFrom(const EngineSettings& settings, const std::string& advertised_ip);
WebSettings WebSettingsFrom(const EngineSettings& settings, const std::string& advertised_ip,
                            const std::string& machine_id, const std::string& data_folder);
// The executable's place and the two embedded documents come from the caller.
DesktopContext DesktopContextFrom(const EngineSettings& settings, const std::string& advertised_ip,
                                  const std::string& exe_path, const std::string& exe_dir,
                                  const std::string& eula_html, const std::string& recovery_key_blob);

}  // namespace lcx
