#include "core/subsystem_settings.h"

namespace lcx {
namespace {

std::string UsablePassword(const EngineSettings& s) { return s.password_locked ? std::string() : s.admin_pass; }

}  // namespace

VideoSettings VideoSettingsFrom(const EngineSettings& s) {
  VideoSettings v;
  v.fps = s.fps;
  v.main_bitrate_kbps = s.bitrate_kbps;
  v.main_scale_width = s.sizes.main_width;
  v.main_scale_height = s.sizes.main_height;
  v.sub_on = !s.sub_stream.empty() && s.sizes.sub_on();
  v.sub_width = s.sizes.sub_width;
  v.sub_height = s.sizes.sub_height;
  v.sub_bitrate_kbps = s.sub_bitrate_kbps;
  v.motion_sensitivity = s.motion_sensitivity;
  v.motion_hold_s = s.motion_hold_s;
  return v;
}

RtspSettings RtspSettingsFrom(const EngineSettings& s) {
  RtspSettings r;
  r.port = static_cast<uint16_t>(s.rtsp_port);
  r.main_name = s.main_stream;
  r.sub_name = s.sub_stream;
  r.user = s.admin_user;
  r.password = UsablePassword(s);
  r.auth_required = s.stream_auth;
  r.multicast_group = s.multicast_group;
  // Even, so that RTCP has the odd port above.
  r.multicast_port = static_cast<uint16_t>(s.multicast_port & ~1);
  r.multicast_ttl = s.multicast_ttl;
  r.push_url = s.push_url;
  return r;
}

OnvifSettings OnvifSettingsFrom(const EngineSettings& s, const std::string& advertised_ip) {
  OnvifSettings o;
  o.address = advertised_ip;
  o.onvif_port = s.onvif_port;
  o.rtsp_port = s.rtsp_port;
  o.main_name = s.main_stream;
  o.main_stream_width = s.sizes.stream_width;
  o.main_stream_height = s.sizes.stream_height;
  o.screen_width = s.sizes.screen_width;
  o.screen_height = s.sizes.screen_height;
  o.fps = s.fps;
  o.sub_name = s.sub_stream;
  o.sub_width = s.sizes.sub_width;
  o.sub_height = s.sizes.sub_height;
  o.user = s.admin_user;
  o.password = UsablePassword(s);
  o.auth_required = s.stream_auth;
  o.device_name = s.device_name;
  o.main_bitrate_kbps = s.bitrate_kbps;
  o.sub_bitrate_kbps = s.sub_bitrate_kbps;
  o.multicast_group = s.multicast_group;
  o.multicast_port = s.multicast_port & ~1;  // as the RTSP server takes it
  o.multicast_ttl = s.multicast_ttl;
  return o;
}

WebSettings WebSettingsFrom(const EngineSettings& s, const std::string& advertised_ip,
                            const std::string& machine_id, const std::string& data_folder) {
  WebSettings w;
  w.host_address = advertised_ip;
  w.machine_id = machine_id;
  w.version = kVersionText;
  w.admin_user = s.admin_user;
  w.admin_password = UsablePassword(s);
  w.password_locked = s.password_locked;
  w.web_port = static_cast<uint16_t>(s.web_port);
  w.web_hosts = s.web_hosts;
  w.tls = s.web_tls;
  w.cert_file = s.web_cert;
  w.key_file = s.web_key;
  w.data_folder = data_folder;
  w.defaults = s.defaults;
  return w;
}

DesktopContext DesktopContextFrom(const EngineSettings& s, const std::string& advertised_ip,
                                  const std::string& exe_path, const std::string& exe_dir,
                                  const std::string& eula_html, const std::string& recovery_key_blob) {
  DesktopContext d;
  d.exe_path = exe_path;
  d.exe_dir = exe_dir;
  d.address = advertised_ip;
  d.version = kVersionText;
  d.web_port = s.web_port;
  d.rtsp_port = s.rtsp_port;
  d.onvif_port = s.onvif_port;
  d.web_admin = s.web_admin;
  d.web_tls = s.web_tls;
  d.main_stream = s.main_stream;
  d.multicast_group = s.multicast_group;
  d.multicast_port = s.multicast_port & ~1;
  d.defaults = s.defaults;
  d.eula_html = eula_html;
  d.recovery_key_blob = recovery_key_blob;
  return d;
}

}  // namespace lcx
