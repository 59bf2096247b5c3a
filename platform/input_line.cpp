#include "platform/input_line.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include "platform/stop_signal_fd.h"

namespace lcx {

InputLine ReadInputLine(int signal_fd, std::string* line) {
  constexpr size_t kMaxBytes = 4096;
  line->clear();
  bool any = false;
  for (;;) {
    pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {signal_fd, POLLIN, 0}};
    const int n = ::poll(fds, signal_fd >= 0 ? 2 : 1, -1);
    if (n < 0) {
      if (errno == EINTR) continue;
      return any ? InputLine::kLine : InputLine::kEnd;
    }
    if (signal_fd >= 0 && (fds[1].revents & POLLIN) && ReadStopSignal(signal_fd)) return InputLine::kStopped;
    if (!(fds[0].revents & (POLLIN | POLLHUP | POLLERR))) continue;
    char c;
    const ssize_t got = ::read(STDIN_FILENO, &c, 1);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return any ? InputLine::kLine : InputLine::kEnd;
    any = true;
    if (c == '\n') break;
    if (line->size() < kMaxBytes) *line += c;
  }
  if (!line->empty() && line->back() == '\r') line->pop_back();
  return InputLine::kLine;
}

bool InputIsTerminal() { return ::isatty(STDIN_FILENO) == 1; }

}  // namespace lcx
