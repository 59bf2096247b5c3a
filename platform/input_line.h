// One line of standard input read while the stop signals wait on their
// descriptor, so a question asked on the terminal still ends on Ctrl-C
// (the engine blocks those signals before it asks). Calling thread only.
#pragma once

#include <string>

namespace lcx {

enum class InputLine { kLine, kEnd, kStopped };

// Reads standard input up to a line end (dropped, as is a CR before it) or
// its end; a last line without a line end counts as a line. kEnd when
// nothing was read, kStopped when a stop signal came first (it is consumed).
// `signal_fd` < 0 waits on the input alone. At most 4096 bytes are kept.
InputLine ReadInputLine(int signal_fd, std::string* line);

// True when standard input is a terminal.
bool InputIsTerminal();

}  // namespace lcx
