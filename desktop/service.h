// The three service roles on a systemd user manager: "--install-service"
// and "--uninstall-service" manage ~/.config/systemd/user/lumicast.service
// through systemctl; "--service" is that unit's supervisor, which keeps one
// engine running in the user's graphical session and never captures or
// serves anything itself. Single-threaded.
#pragma once

#include <sys/types.h>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/processes.h"

namespace lcx {

std::string ServiceUnitPath();
// The unit: Description "Lumicast Camera Service", ExecStart the quoted
// executable and "--service", Type=notify; KillMode=process so that
// stopping the service leaves the engine it started running.
std::string ServiceUnitText(const std::string& exe_path);

// Writes the unit only when it is missing, then daemon-reload and
// enable --now. 0 when the unit exists afterwards, else 1.
int InstallService();
// Stops, disables and removes the unit; 0 also when there was none, 1 only
// when the file is still there afterwards.
int UninstallService();
// The supervisor: 1 when not started by systemd; else polls every 3 s and
// returns 0 once a stop signal arrives (answered at once).
int RunService();

// `systemctl --user show-environment` output as a map ($'...' values
// unescaped).
std::map<std::string, std::string> ParseShowEnvironment(const std::string& output);
// What tells the graphical session apart: its display (DISPLAY, else
// WAYLAND_DISPLAY) and the runtime folder; "" when the user manager knows of
// no graphical session.
std::string SessionIdentity(const std::map<std::string, std::string>& env);
// True when a process named lcx_onvif of `uid`, other than `self`, belongs
// to the session. `identity_of` gives a process's SessionIdentity (nullopt
// when its environment cannot be read).
using IdentityOfFn = std::function<std::optional<std::string>(pid_t)>;
bool EngineRunsInSession(const std::vector<ProcessInfo>& processes, uid_t uid, pid_t self,
                         const std::string& session, const IdentityOfFn& identity_of);

}  // namespace lcx
