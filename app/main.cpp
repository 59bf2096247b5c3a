// Program entry: picks the role from the command line and runs it.
#include <cstdlib>
#include <string>
#include <vector>

#include "app/engine.h"
#include "app/roles.h"
#include "desktop/eula_terminal.h"
#include "desktop/service.h"
#include "platform/signals.h"
#include "resources/documents.h"

int main(int argc, char** argv) {
  // Nothing here draws with OpenGL, yet GDK's X11 start-up probes GLX for its
  // visuals and so maps Mesa's software rasteriser (libLLVM, swrast) for
  // good. Set before any thread exists: setenv is not safe beside getenv.
  setenv("GDK_GL", "disable", 1);
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  const lcx::Invocation inv = lcx::SelectRole(args);
  switch (inv.role) {
    case lcx::Role::kService:
      lcx::BlockStopSignals();
      return lcx::RunService();
    case lcx::Role::kInstallService:
      return lcx::InstallService();
    case lcx::Role::kUninstallService:
      return lcx::UninstallService();
    case lcx::Role::kDumpScreens:
      return lcx::RunDumpScreens(inv.argument);
    case lcx::Role::kCheckPass:
      return lcx::CheckPassRole(inv.argument);
    case lcx::Role::kAgreementText:
      return lcx::PrintAgreementRole(std::string(lcx::EulaHtml()));
    case lcx::Role::kAcceptAgreement:
      return lcx::AcceptAgreementRole();
    case lcx::Role::kEngine:
      break;
  }
  lcx::RunEngine(args, inv);
}
