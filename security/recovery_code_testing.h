// Tests only: a throw-away RSA key pair that issues recovery codes the way
// the maker does (resources/recovery_key.sh sign), so tests never need the
// real private key.
#pragma once

#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include <memory>
#include <string>
#include <string_view>

#include "security/digest.h"
#include "security/recovery_code.h"

namespace lcx {

class TestRecoveryKey {
 public:
  explicit TestRecoveryKey(unsigned bits = 2048) : key_(EVP_RSA_gen(bits), EVP_PKEY_free) {}

  bool valid() const { return key_ != nullptr; }

  // The public half in the program's key-blob layout.
  std::string PublicBlob() const {
    RsaPublicKey pub;
    pub.bit_length = static_cast<uint32_t>(EVP_PKEY_get_bits(key_.get()));
    pub.modulus = BigEndian(OSSL_PKEY_PARAM_RSA_N);
    pub.exponent = BigEndian(OSSL_PKEY_PARAM_RSA_E);
    return BuildRsaPublicBlob(pub);
  }

  // Base64 of the PKCS #1 v1.5 / SHA-256 signature of `message`.
  std::string Sign(std::string_view message) const {
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> md(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    size_t size = 0;
    if (!md || EVP_DigestSignInit(md.get(), nullptr, EVP_sha256(), nullptr, key_.get()) != 1 ||
        EVP_DigestSign(md.get(), nullptr, &size, reinterpret_cast<const unsigned char*>(message.data()),
                       message.size()) != 1) {
      return {};
    }
    std::string signature(size, '\0');
    if (EVP_DigestSign(md.get(), reinterpret_cast<unsigned char*>(signature.data()), &size,
                       reinterpret_cast<const unsigned char*>(message.data()), message.size()) != 1) {
      return {};
    }
    signature.resize(size);
    return Base64Encode(signature);
  }

  std::string CodeFor(std::string_view machine_id) const { return Sign(RecoveryMessage(machine_id)); }

 private:
  std::string BigEndian(const char* name) const {
    BIGNUM* bn = nullptr;
    if (EVP_PKEY_get_bn_param(key_.get(), name, &bn) != 1) return {};
    std::string out(static_cast<size_t>(BN_num_bytes(bn)), '\0');
    BN_bn2bin(bn, reinterpret_cast<unsigned char*>(out.data()));
    BN_free(bn);
    return out;
  }

  std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key_;
};

}  // namespace lcx
