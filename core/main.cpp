// Program entry: chooses the role from the command line.
#include "core/log.h"

int main() {
  lcx::LogLine("=== lcx-engine ONVIF screen camera ===\n");
  return 0;
}
