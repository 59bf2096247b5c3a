#include "core/settings.h"

#include <cstdio>

namespace lcx {
namespace {

int32_t Even(int32_t v) { return v & ~1; }

// The ranges the editors clamp to. A hand-edited file gets the same limits,
// so that, for instance, fps = 0 cannot produce a stream without key frames.
struct IntRange {
  const char* key;
  int32_t fallback, lo, hi;
};
constexpr IntRange kFps{"fps", 10, 1, 60};
constexpr IntRange kBitrate{"bitrate", 2000, 256, 16384};
constexpr IntRange kSubBitrate{"sub_bitrate", 512, 64, 2048};
constexpr IntRange kMainWidth{"main_width", 0, 0, 4096};
constexpr IntRange kSubWidth{"sub_width", 640, 320, 1280};
constexpr IntRange kWebPort{"web_port", 8080, 1, 65535};

int32_t Clamp(int32_t v, const IntRange& r) { return v < r.lo ? r.lo : v > r.hi ? r.hi : v; }
int32_t GetClamped(const ConfigMap& config, const IntRange& r) {
  return Clamp(GetInt(config, r.key, r.fallback), r);
}

// A port key absent from the file falls back to a command-line word, but only
// to a word that is a port number: "--background" first must not mean port 0.
int32_t GetPort(const ConfigMap& config, const char* key, const std::vector<std::string>& args,
                size_t word, int32_t fallback) {
  if (word < args.size()) {
    const std::string& w = args[word];
    const int32_t port = ParseLeadingInt(w);
    const bool digits_only = !w.empty() && w.size() <= 5 && w.find_first_not_of("0123456789") == std::string::npos;
    if (digits_only && port >= 1 && port <= 65535) fallback = port;
  }
  return GetClamped(config, IntRange{key, fallback, 1, 65535});
}

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
  s.rtsp_port = GetPort(config, "rtsp_port", args, 0, 8554);
  s.onvif_port = GetPort(config, "onvif_port", args, 1, 8000);
  s.fps = GetClamped(config, kFps);
  s.bitrate_kbps = GetClamped(config, kBitrate);
  s.web_admin = GetInt(config, "web_admin", 1) != 0;
  s.web_port = GetClamped(config, kWebPort);
  s.main_stream = GetString(config, "stream", "screenlive");
  s.substream = GetInt(config, "substream", 1) != 0;
  s.sub_stream = GetString(config, "sub_stream", "screensub");
  s.sub_width_setting = GetClamped(config, kSubWidth);
  s.sub_bitrate_kbps = GetClamped(config, kSubBitrate);
  s.main_width_setting = GetClamped(config, kMainWidth);
  s.admin_user = GetString(config, "admin_user", "admin");
  s.admin_pass_stored = GetString(config, "admin_pass", "admin");
  s.admin_pass = s.admin_pass_stored;
  s.stream_on = GetInt(config, "stream_on", 1) != 0;
  s.stream_auth = GetInt(config, "stream_auth", 0) != 0;
  s.device_name = GetString(config, "device_name", "Lumicast");
  s.show_icon = GetInt(config, "show_icon", 1) != 0;
  s.capture = GetString(config, "capture", "auto");
  s.monitor = GetString(config, "monitor", "");
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
  if (s.web_admin) lines.push_back(Format("  Web Admin : http://%s:%d/\n", ip.c_str(), s.web_port));
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
