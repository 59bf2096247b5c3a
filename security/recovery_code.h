// Password recovery codes: the maker signs "LCXRESET:" + the machine
// identifier with its RSA key (PKCS #1 v1.5, SHA-256) and hands the Base64 of
// the signature to the administrator; the program checks it against the
// public key it carries. Stateless; any thread may call these.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace lcx {

// An RSA public key in the 283-byte (for 2048 bits) public-key blob layout:
// "RSA1", bit length, exponent size, modulus size, two zero prime sizes (all
// little-endian 32-bit), then exponent and modulus big-endian.
struct RsaPublicKey {
  uint32_t bit_length = 0;
  std::string exponent;  // big-endian bytes
  std::string modulus;   // big-endian bytes
};

// nullopt for anything that is not a whole, plausible public-key blob.
std::optional<RsaPublicKey> ParseRsaPublicBlob(std::string_view blob);
std::string BuildRsaPublicBlob(const RsaPublicKey& key);

// The signed text for a machine.
std::string RecoveryMessage(std::string_view machine_id);

// True when `code` (Base64, blanks and line breaks allowed) is a valid
// signature of RecoveryMessage(machine_id) under the key blob. An empty key,
// an empty code or a malformed blob is never valid.
bool VerifyRecoveryCode(std::string_view code, std::string_view machine_id,
                        std::string_view public_key_blob);

// The key blob the program carries, or the file "public.key" in the current
// folder when the program was built without one.
std::string RecoveryPublicKey();

}  // namespace lcx
