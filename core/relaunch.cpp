#include "core/relaunch.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/log.h"
#include "platform/system.h"

namespace lcx {

void RelaunchSelf(bool background) {
  std::vector<std::string> args{"--relaunch"};
  if (background) args.push_back("--background");
  if (!SpawnDetached(ExecutablePath(), args, ExecutableDir()))
    LogLine("Restart failed: could not start %s\n", ExecutablePath().c_str());
  std::fflush(stdout);
  std::_Exit(0);
}

}  // namespace lcx
