// lcx.cfg as a user may hand-edit it: parsed, turned into the settings every
// server is handed (whose ranges must hold whatever the file says), and
// rewritten with updates that must read back as written.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/config.h"
#include "core/settings.h"
#include "core/subsystem_settings.h"
#include "fuzz/fuzz_check.h"

namespace {

bool ReadsBackUnchanged(std::string_view value) {
  auto blank = [](char c) { return c == ' ' || c == '\t'; };
  return !value.empty() && !blank(value.front()) && !blank(value.back());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace lcx;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const ConfigMap config = ParseConfig(text);

  // The first words of the command line are ports only when numeric.
  EngineSettings settings = ReadEngineSettings(config, {"--background", "554"});
  LCX_FUZZ_CHECK(settings.fps >= 1 && settings.fps <= 60);
  LCX_FUZZ_CHECK(settings.rtsp_port >= 1 && settings.rtsp_port <= 65535);
  LCX_FUZZ_CHECK(settings.onvif_port >= 1 && settings.onvif_port <= 65535);
  LCX_FUZZ_CHECK(settings.web_port >= 1 && settings.web_port <= 65535);
  ApplyScreenSize(settings, 1920, 1080);
  VideoSettingsFrom(settings);
  RtspSettingsFrom(settings);
  OnvifSettingsFrom(settings, "10.0.0.2");
  BannerLines(settings, "10.0.0.2");

  // The file's own entries as updates of a second copy of itself: what a
  // save writes must read back, and keys it does not touch must not change.
  const size_t half = size / 2;
  const ConfigMap updates = ParseConfig(text.substr(0, half));
  const ConfigMap base = ParseConfig(text.substr(half));
  const std::string rewritten = ApplyConfigUpdates(text.substr(half), updates);
  if (!ConfigUpdateProblem(updates)) {
    const ConfigMap after = ParseConfig(rewritten);
    for (const auto& [key, value] : updates) {
      if (!ReadsBackUnchanged(value)) continue;
      auto it = after.find(key);
      LCX_FUZZ_CHECK(it != after.end() && it->second == value);
    }
    for (const auto& [key, value] : base) {
      if (updates.count(key)) continue;
      auto it = after.find(key);
      LCX_FUZZ_CHECK(it != after.end() && it->second == value);
    }
  }
  return 0;
}
