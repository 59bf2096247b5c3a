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
};

struct RtspSettings {
  uint16_t port = 8554;
  std::string main_name = "screenlive";
  std::string sub_name = "screensub";  // empty: no sub-stream
  std::string user, password;
  bool auth_required = false;
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
};

// Each reads settings after ApplyScreenSize and ResolveAdminPassword.
VideoSettings VideoSettingsFrom(const EngineSettings& settings);
RtspSettings RtspSettingsFrom(const EngineSettings& settings);
OnvifSettings OnvifSettingsFrom(const EngineSettings& settings, const std::string& advertised_ip);

}  // namespace lcx
