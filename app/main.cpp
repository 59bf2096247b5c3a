// Program entry: picks the role from the command line and runs it.
#include <string>
#include <vector>

#include "app/engine.h"
#include "app/roles.h"
#include "desktop/eula_terminal.h"
#include "desktop/service.h"
#include "platform/signals.h"
#include "resources/documents.h"

int main(int argc, char** argv) {
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
