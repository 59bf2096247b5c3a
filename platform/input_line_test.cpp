#include "platform/input_line.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include "platform/stop_signal_fd.h"

namespace lcx {
namespace {

// Standard input replaced by a pipe holding `bytes` (closed after them
// unless `keep_open`), put back when the scope ends.
class PipedStdin {
 public:
  PipedStdin(const std::string& bytes, bool keep_open = false) {
    saved_ = dup(STDIN_FILENO);
    int fds[2];
    EXPECT_EQ(pipe(fds), 0);
    EXPECT_EQ(write(fds[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    dup2(fds[0], STDIN_FILENO);
    close(fds[0]);
    if (keep_open) writer_ = fds[1];
    else close(fds[1]);
  }
  ~PipedStdin() {
    dup2(saved_, STDIN_FILENO);
    close(saved_);
    if (writer_ >= 0) close(writer_);
  }

 private:
  int saved_ = -1, writer_ = -1;
};

TEST(InputLine, LinesEndsAndStops) {
  struct Case {
    const char* name;
    const char* bytes;
    InputLine want;
    const char* line;
  } cases[] = {
      {"a line", "yes\nnext\n", InputLine::kLine, "yes"},
      {"CR LF", "yes\r\n", InputLine::kLine, "yes"},
      {"last line without a line end", "yes", InputLine::kLine, "yes"},
      {"an empty line", "\n", InputLine::kLine, ""},
      {"nothing (/dev/null, a closed pipe)", "", InputLine::kEnd, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    PipedStdin in(c.bytes);
    std::string line = "old";
    EXPECT_EQ(ReadInputLine(-1, &line), c.want);
    EXPECT_EQ(line, c.line);
  }

  // Ctrl-C while nobody types: the wait ends on the signal.
  PipedStdin in("", true);
  UniqueFd signals = OpenStopSignalFd();
  ASSERT_TRUE(signals);
  ASSERT_EQ(raise(SIGINT), 0);  // to this thread, which has it blocked
  std::string line;
  EXPECT_EQ(ReadInputLine(signals.get(), &line), InputLine::kStopped);
  EXPECT_FALSE(ReadStopSignal(signals.get())) << "the signal is consumed";
}

}  // namespace
}  // namespace lcx
