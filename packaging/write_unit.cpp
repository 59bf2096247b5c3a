// Build tool: writes the systemd user unit the package installs, from the
// same text "--install-service" writes, for the installed executable.
#include <cstdio>

#include "desktop/service.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s EXECUTABLE_PATH\n", argv[0]);
    return 2;
  }
  std::fputs(lcx::ServiceUnitText(argv[1]).c_str(), stdout);
  return 0;
}
