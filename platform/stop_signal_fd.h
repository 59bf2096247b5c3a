// The stop signals (SIGINT, SIGTERM, SIGHUP) as a readable descriptor, so an
// event loop (the desktop's GLib loop, the service's poll) can wait for them
// next to its other descriptors. Expects them blocked in every thread
// (BlockStopSignals), as the engine does before any thread exists.
#pragma once

#include <optional>

#include "platform/signals.h"
#include "platform/unique_fd.h"

namespace lcx {

// A non-blocking, close-on-exec signalfd for the stop signals; it also
// blocks them in the calling thread, in case that had not been done.
UniqueFd OpenStopSignalFd();
// The signal waiting on the descriptor, or nullopt when none is pending.
std::optional<StopSignal> ReadStopSignal(int fd);
// Waits up to timeout_ms for a stop signal on the descriptor.
std::optional<StopSignal> WaitStopSignalFor(int fd, int timeout_ms);

}  // namespace lcx
