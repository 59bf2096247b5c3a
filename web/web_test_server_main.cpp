// The web panel's server alone, for end-to-end tests with a real browser.
// Reads the credentials from the configuration as start-up does; a relaunch
// asked for by the panel is logged and ends the process (the test starts the
// next copy itself), so it never replaces itself behind the test's back.
//   lcx_web_test_server [--port N] [--recovery-key BLOB_FILE]
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/config.h"
#include "core/log.h"
#include "core/settings.h"
#include "platform/system.h"
#include "security/machine_id.h"
#include "security/protect.h"
#include "web/web_admin_server.h"

int main(int argc, char** argv) {
  using namespace lcx;
  WebSettings settings;
  settings.host_address = "127.0.0.1";
  settings.machine_id = GetMachineId();
  settings.version = kVersionText;
  settings.web_port = 0;
  settings.data_folder = GetDataFolder();
  WebHooks hooks = DefaultWebHooks();
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string word = argv[i];
    if (word == "--port") {
      settings.web_port = static_cast<uint16_t>(std::atoi(argv[i + 1]));
    } else if (word == "--recovery-key" && !ReadWholeFile(argv[i + 1], hooks.recovery_public_key)) {
      std::fprintf(stderr, "cannot read %s\n", argv[i + 1]);
      return 2;
    }
  }
  ConfigMap config = LoadConfig(ConfigPath());
  settings.admin_user = GetString(config, "admin_user", "admin");
  settings.web_hosts = GetString(config, "web_hosts", "");
  ResolvedPassword password = ResolveAdminPassword(GetString(config, "admin_pass", "admin"), PasswordProtected());
  settings.admin_password = password.plain;
  settings.password_locked = password.locked;
  hooks.relaunch = [] {
    LogLine("TEST: relaunch requested\n");
    std::fflush(stdout);
    std::_Exit(0);
  };
  WebAdminServer server(settings, hooks);
  server.Run();
  return 1;
}
