#include "platform/stop_signal_fd.h"

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/signalfd.h>

#include <cerrno>

namespace lcx {

UniqueFd OpenStopSignalFd() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  return UniqueFd(signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC));
}

std::optional<StopSignal> ReadStopSignal(int fd) {
  signalfd_siginfo info{};
  if (::read(fd, &info, sizeof info) != static_cast<ssize_t>(sizeof info)) return std::nullopt;
  switch (info.ssi_signo) {
    case SIGHUP: return StopSignal::kHangUp;
    case SIGINT: return StopSignal::kInterrupt;
    default: return StopSignal::kTerminate;
  }
}

std::optional<StopSignal> WaitStopSignalFor(int fd, int timeout_ms) {
  pollfd p{fd, POLLIN, 0};
  const int n = ::poll(&p, 1, timeout_ms);
  if (n <= 0) return std::nullopt;
  return ReadStopSignal(fd);
}

}  // namespace lcx
