// Soak helper: saves generation after generation of settings into one
// configuration file through SaveConfigKeysAt, as every editor does, and
// prints each generation once its save has returned. bench/soak.sh kills it
// with SIGKILL at random moments and checks what is left on disk with
// "--show PATH": the file as the program's own parser reads it.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/config.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s CONFIG_PATH FIRST_GENERATION | --show CONFIG_PATH\n", argv[0]);
    return 2;
  }
  if (std::string(argv[1]) == "--show") {
    // generation, device name, fps, padding length, number of keys
    const lcx::ConfigMap config = lcx::LoadConfig(argv[2]);
    std::printf("%s %s %s %zu %zu\n", lcx::GetString(config, "soak_generation", "-").c_str(),
                lcx::GetString(config, "device_name", "-").c_str(), lcx::GetString(config, "fps", "-").c_str(),
                lcx::GetString(config, "soak_padding", "").size(), config.size());
    return 0;
  }
  const std::string path = argv[1];
  // A long value makes each rewrite take long enough for kills to land inside it.
  const std::string padding(64 * 1024, 'x');
  for (long generation = std::atol(argv[2]);; ++generation) {
    const std::string g = std::to_string(generation);
    lcx::ConfigMap updates{{"device_name", "soak-" + g}, {"soak_generation", g}, {"soak_padding", padding},
                           {"fps", std::to_string(generation % 60 + 1)}};
    if (!lcx::SaveConfigKeysAt(path, updates)) {
      std::fprintf(stderr, "save %ld failed\n", generation);
      return 1;
    }
    std::printf("%ld\n", generation);
    std::fflush(stdout);
  }
}
