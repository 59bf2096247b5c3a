// The desktop: what start-up calls last. The EULA question before the
// servers start, then the GTK main loop on the main thread with the tray
// icon, the windows on demand, the "show-admin" socket a second start
// writes to, and the stop signals. Main thread only.
#pragma once

#include <functional>

#include "desktop/desktop_context.h"
#include "platform/signals.h"

namespace lcx {

// True when `eula_accepted` is "1" or the user agrees now (which saves it).
// Declining, closing the window or a stop signal meanwhile gives false.
// Without a display nobody can be asked: true, logged, nothing saved.
bool EnsureEulaAccepted(const DesktopContext& context, const DesktopHooks& hooks);

// Runs the desktop loop until "Exit" from the tray; returns 0 then. A stop
// signal (SIGINT, SIGTERM, SIGHUP, blocked beforehand by BlockStopSignals)
// goes to `on_stop_signal`, which the program makes end the process; if it
// returns, the loop ends and 0 is returned. Without a display the loop runs
// with the socket and the signals only.
int RunDesktop(const DesktopContext& context, const DesktopHooks& hooks, bool show_icon,
               const std::function<void(StopSignal)>& on_stop_signal);

}  // namespace lcx
