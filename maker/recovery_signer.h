// Issuing recovery codes: the Base64 of the RSA signature (PKCS #1 v1.5,
// SHA-256) of RecoveryMessage(machine id) under the maker's private key, and
// the public half in the blob layout the program carries. Stateless.
#pragma once

#include <openssl/evp.h>

#include <memory>
#include <string>
#include <string_view>

namespace lcx {

using PrivateKey = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;

// An RSA private key from a PEM file (PKCS #8 or traditional); null when
// the file cannot be read or holds no RSA private key.
PrivateKey LoadRecoveryPrivateKey(const std::string& pem_path);

// The code for a machine; "" when signing fails or the identifier is empty.
std::string IssueRecoveryCode(EVP_PKEY* key, std::string_view machine_id);

// The public half in the key-blob layout (resources/recovery_public.key).
std::string RecoveryPublicBlob(EVP_PKEY* key);

}  // namespace lcx
