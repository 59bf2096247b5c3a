#include "app/roles.h"

#include <iostream>

#include "core/config.h"
#include "core/setting_table.h"
#include "platform/instance.h"
#include "platform/system.h"
#include "security/protect.h"

namespace lcx {

Invocation SelectRole(const std::vector<std::string>& args) {
  Invocation inv;
  for (const auto& word : args) {
    if (word == "--relaunch") inv.relaunch = true;
    if (word == "--background") inv.background = true;
    if (word == "--terminal-agreement") inv.terminal_agreement = true;
  }
  for (const auto& word : args) {
    if (word == "--service") return inv.role = Role::kService, inv;
    if (word == "--install-service") return inv.role = Role::kInstallService, inv;
    if (word == "--uninstall-service") return inv.role = Role::kUninstallService, inv;
    if (word == "--agreement-text") return inv.role = Role::kAgreementText, inv;
    if (word == "--accept-agreement") return inv.role = Role::kAcceptAgreement, inv;
  }
  for (const char* option : {"--dump-screens", "--check-pass"}) {
    for (size_t i = 0; i + 1 < args.size(); ++i) {
      if (args[i] == option) {
        inv.role = option[2] == 'd' ? Role::kDumpScreens : Role::kCheckPass;
        inv.argument = args[i + 1];
        return inv;
      }
    }
  }
  return inv;
}

std::optional<std::string> CheckPassPassword(const std::string& word, std::istream& in) {
  if (word != "-") return word;
  std::string line;
  if (!std::getline(in, line)) return std::nullopt;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

int CheckPassRole(const std::string& word) {
  const std::optional<std::string> password = CheckPassPassword(word, std::cin);
  if (!password) return 1;
  ConfigMap config = LoadConfig(ConfigPath());
  std::string plain = UnprotectString(SettingText(config, "admin_pass"));
  return plain == *password ? 0 : 1;
}

InstanceHooks DefaultInstanceHooks() {
  InstanceHooks hooks;
  hooks.send_show_admin = [] { return SendShowAdmin(ShowAdminSocketPath()); };
  hooks.open_url = [](const std::string& url) { OpenUrl(url); };
  hooks.sleep_ms = [](int ms) { SleepMs(ms); };
  return hooks;
}

InstanceOutcome GuardSingleInstance(const std::string& lock_path, bool relaunch, bool background,
                                    int web_port, UniqueFd& lock, const InstanceHooks& hooks) {
  LockResult r = TryAcquireInstanceLock(lock_path, lock);
  if (r != LockResult::kHeldElsewhere) return InstanceOutcome::kProceed;
  if (!relaunch) {
    if (!background && !hooks.send_show_admin()) {
      hooks.open_url("http://127.0.0.1:" + std::to_string(web_port) + "/");
    }
    return InstanceOutcome::kDeferredToPeer;
  }
  for (int attempt = 0; attempt < 60; ++attempt) {
    hooks.sleep_ms(100);
    if (TryAcquireInstanceLock(lock_path, lock) != LockResult::kHeldElsewhere) break;
  }
  return InstanceOutcome::kProceed;
}

}  // namespace lcx
