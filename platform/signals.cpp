#include "platform/signals.h"

#include <pthread.h>
#include <signal.h>

namespace lcx {
namespace {

sigset_t StopSet() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  return set;
}

}  // namespace

void BlockStopSignals() {
  const sigset_t set = StopSet();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

StopSignal WaitForStopSignal() {
  const sigset_t set = StopSet();
  int sig = 0;
  while (sigwait(&set, &sig) != 0) {
  }
  if (sig == SIGHUP) return StopSignal::kHangUp;
  return sig == SIGINT ? StopSignal::kInterrupt : StopSignal::kTerminate;
}

}  // namespace lcx
