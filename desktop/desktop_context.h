// The few effects of the desktop that end or leave the process (relaunch,
// browser) or come from another subsystem (recovery-code check, machine id),
// gathered as hooks so tests can watch them. DesktopContext, what start-up
// hands the desktop, is built in core/subsystem_settings.
#pragma once

#include <functional>
#include <string>

#include "core/subsystem_settings.h"

namespace lcx {

struct DesktopHooks {
  // Applies saved settings; the real one (RelaunchSelf, not background) does
  // not return.
  std::function<void()> relaunch;
  std::function<void(const std::string& url)> open_url;
  std::function<std::string()> machine_id;
  // True when `code` is the maker's signature for this machine identifier.
  std::function<bool(const std::string& code, const std::string& machine_id)> verify_recovery_code;
  // Told of every message box as it opens (caption and text); may be empty.
  std::function<void(const std::string& caption, const std::string& text)> message_shown;
  // Told once the tray, the windows and the show-admin socket are up and the
  // loop is about to run; may be empty.
  std::function<void()> running;
};

// RelaunchSelf(false), OpenUrl, GetMachineId and the recovery-code check
// against the context's key.
DesktopHooks DefaultDesktopHooks(const DesktopContext& context);

}  // namespace lcx
