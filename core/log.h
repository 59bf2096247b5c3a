// The running log: every event is one printf-style call that goes to
// standard output and into an in-memory store of the last 300 lines, which
// the web panel shows. One mutex guards the store and is always taken last.
#pragma once

#include <string>

namespace lcx {

void LogLine(const char* format, ...) __attribute__((format(printf, 1, 2)));
// All stored lines, oldest first, each followed by one LF.
std::string ReadLog();

}  // namespace lcx
