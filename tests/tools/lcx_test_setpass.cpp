// Test tool: sets the administrator credentials exactly as the editors do,
// so end-to-end tests can reach the protected-password state.
#include <cstdio>

#include "core/credentials.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s USER PASSWORD\n", argv[0]);
    return 2;
  }
  if (!lcx::SaveAdminCredentials(argv[1], argv[2])) {
    std::fprintf(stderr, "could not save the credentials\n");
    return 1;
  }
  return 0;
}
