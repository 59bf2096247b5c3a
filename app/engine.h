// The engine role and "--dump-screens": the composition root, the only code
// that knows every subsystem.
#pragma once

#include <string>
#include <vector>

#include "app/roles.h"

namespace lcx {

// Runs the engine until a stop signal; ends the process (see engine.cpp for
// why it never returns normally).
[[noreturn]] void RunEngine(const std::vector<std::string>& args, const Invocation& invocation);
int RunDumpScreens(const std::string& directory);

}  // namespace lcx
