// Program entry: picks the role from the command line and runs it.
#include <cstdio>
#include <string>
#include <vector>

#include "app/engine.h"
#include "app/roles.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  const lcx::Invocation inv = lcx::SelectRole(args);
  switch (inv.role) {
    case lcx::Role::kService:
    case lcx::Role::kInstallService:
    case lcx::Role::kUninstallService:
      std::fprintf(stderr, "%s: the background service is not available in this build\n",
                   inv.role == lcx::Role::kService          ? "--service"
                   : inv.role == lcx::Role::kInstallService ? "--install-service"
                                                            : "--uninstall-service");
      return 1;
    case lcx::Role::kDumpScreens:
      return lcx::RunDumpScreens(inv.argument);
    case lcx::Role::kCheckPass:
      return lcx::CheckPassRole(inv.argument);
    case lcx::Role::kEngine:
      break;
  }
  lcx::RunEngine(args, inv);
}
