// The desktop library on its own, for the end-to-end tests: the real loop,
// tray and windows, with the relaunch and the browser replaced by lines on
// standard output, so a script can see what was asked for.
//
//   lcx_desktop_harness [--eula] [--no-icon] [--eula-html FILE] [--key FILE]
//                       [--web-port N] [--no-web]
//   lcx_desktop_harness --show-admin          what a second start does
//   lcx_desktop_harness --machine-id          the identifier recovery codes sign
//   lcx_desktop_harness --install-service | --uninstall-service | --service
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/config.h"
#include "core/log.h"
#include "core/settings.h"
#include "desktop/desktop.h"
#include "desktop/service.h"
#include "platform/instance.h"
#include "platform/signals.h"
#include "platform/system.h"
#include "security/machine_id.h"
#include "video/stream_producer.h"

namespace {

void Say(const std::string& line) {
  std::printf("HARNESS %s\n", line.c_str());
  std::fflush(stdout);
}

std::string ReadFileOrEmpty(const std::string& path) {
  std::string bytes;
  if (!path.empty()) lcx::ReadWholeFile(path, bytes);
  return bytes;
}

}  // namespace

int main(int argc, char** argv) {
  bool eula = false, icon = true;
  std::string eula_path, key_path;
  lcx::DesktopContext context;
  context.exe_path = lcx::ExecutablePath();
  context.exe_dir = lcx::ExecutableDir();
  context.address = "127.0.0.1";
  context.version = lcx::kVersionText;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const char* next = i + 1 < argc ? argv[i + 1] : "";
    if (a == "--install-service") return lcx::InstallService();
    if (a == "--uninstall-service") return lcx::UninstallService();
    if (a == "--service") {
      lcx::BlockStopSignals();
      return lcx::RunService();
    }
    if (a == "--show-admin") return lcx::SendShowAdmin(lcx::ShowAdminSocketPath()) ? 0 : 1;
    if (a == "--machine-id") {
      std::printf("%s\n", lcx::GetMachineId().c_str());
      return 0;
    }
    if (a == "--eula") eula = true;
    if (a == "--no-icon") icon = false;
    if (a == "--no-web") context.web_admin = false;
    if (a == "--eula-html") eula_path = next;
    if (a == "--key") key_path = next;
    if (a == "--web-port") context.web_port = std::atoi(next);
  }
  lcx::BlockStopSignals();
  context.eula_html = ReadFileOrEmpty(eula_path);
  context.recovery_key_blob = ReadFileOrEmpty(key_path);
  const lcx::ConfigMap config = lcx::LoadConfig(lcx::ConfigPath());
  context.rtsp_port = lcx::SettingInt(config, "rtsp_port");
  context.onvif_port = lcx::SettingInt(config, "onvif_port");
  context.main_stream = lcx::SettingText(config, "stream");
  lcx::StreamPaused.store(!lcx::SettingFlag(config, "stream_on"));

  lcx::DesktopHooks hooks = lcx::DefaultDesktopHooks(context);
  hooks.relaunch = [] {
    Say("relaunch");
    std::_Exit(0);
  };
  hooks.open_url = [](const std::string& url) { Say("open_url " + url); };
  hooks.message_shown = [](const std::string& caption, const std::string& text) {
    Say("message [" + caption + "] " + text);
  };

  if (eula && !lcx::EnsureEulaAccepted(context, hooks)) {
    lcx::LogLine("EULA declined — exiting.\n");
    std::fflush(stdout);
    return 0;
  }
  // Said once a second start can reach it: tests send --show-admin next.
  hooks.running = [] { Say("desktop running"); };
  const int code = lcx::RunDesktop(context, hooks, icon && lcx::SettingFlag(config, "show_icon"),
                                   [](lcx::StopSignal sig) {
                                     Say(std::string("stop signal ") +
                                         (sig == lcx::StopSignal::kHangUp ? "HUP" : "TERM/INT"));
                                     std::fflush(stdout);
                                     std::_Exit(0);
                                   });
  Say("exit " + std::to_string(code));
  return code;
}
