// The maker's command: prints the recovery code for a machine, or writes the
// public-key blob the program is built with.
//   lcx_recovery_code KEY.pem MACHINE_ID
//   lcx_recovery_code --public-blob KEY.pem OUT.key
#include <cstdio>
#include <string>

#include "maker/recovery_signer.h"
#include "platform/system.h"

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: lcx_recovery_code KEY.pem MACHINE_ID      print the recovery code for a machine\n"
               "       lcx_recovery_code --public-blob KEY.pem OUT.key   write the public key blob\n");
  return 2;
}

lcx::PrivateKey Load(const std::string& path) {
  lcx::PrivateKey key = lcx::LoadRecoveryPrivateKey(path);
  if (!key) std::fprintf(stderr, "lcx_recovery_code: no RSA private key in %s\n", path.c_str());
  return key;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "--public-blob") {
    lcx::PrivateKey key = Load(argv[2]);
    if (!key) return 1;
    std::string blob = lcx::RecoveryPublicBlob(key.get());
    if (blob.empty() || !lcx::WriteFileSynced(argv[3], blob)) {
      std::fprintf(stderr, "lcx_recovery_code: could not write %s\n", argv[3]);
      return 1;
    }
    return 0;
  }
  if (argc != 3 || argv[1][0] == '-') return Usage();
  lcx::PrivateKey key = Load(argv[1]);
  if (!key) return 1;
  // Pasted identifiers often carry a line break.
  std::string machine_id = argv[2];
  while (!machine_id.empty() && (machine_id.back() == '\n' || machine_id.back() == '\r' || machine_id.back() == ' '))
    machine_id.pop_back();
  std::string code = lcx::IssueRecoveryCode(key.get(), machine_id);
  if (code.empty()) {
    std::fprintf(stderr, "lcx_recovery_code: could not sign for \"%s\"\n", machine_id.c_str());
    return 1;
  }
  std::printf("%s\n", code.c_str());
  return 0;
}
