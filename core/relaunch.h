// Restart of the program by itself: the way every editor (web panel, desktop
// windows) applies saved settings.
#pragma once

namespace lcx {

// Starts a new copy with "--relaunch" (and "--background") and ends this
// process with exit code 0 once the log is flushed. Does not return.
[[noreturn]] void RelaunchSelf(bool background);

}  // namespace lcx
