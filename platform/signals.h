// Process signals: the stop signals are taken by one thread with sigwait,
// and a peer that closes its socket never kills the process.
#pragma once

namespace lcx {

enum class StopSignal { kInterrupt, kTerminate, kHangUp };

// Blocks SIGINT, SIGTERM and SIGHUP in the calling thread and ignores
// SIGPIPE. Call before any thread exists, so every thread inherits the mask.
void BlockStopSignals();
// Waits for one of the blocked stop signals.
StopSignal WaitForStopSignal();

}  // namespace lcx
