// The engine role: configuration, guard, settings, banner, then the server
// threads, joined here because this is the only code that links them all.
#pragma once

#include <string>
#include <vector>

#include "core/startup.h"

namespace lcx {

int RunEngine(const std::vector<std::string>& args, const Invocation& invocation);
int RunDumpScreens(const std::string& directory);

}  // namespace lcx
