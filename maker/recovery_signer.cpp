#include "maker/recovery_signer.h"

#include <openssl/core_names.h>
#include <openssl/pem.h>

#include <cstdio>

#include "security/digest.h"
#include "security/recovery_code.h"

namespace lcx {
namespace {

using File = std::unique_ptr<FILE, decltype(&std::fclose)>;
using MdCtx = std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)>;
using BigNum = std::unique_ptr<BIGNUM, decltype(&BN_free)>;

std::string BigEndianParam(EVP_PKEY* key, const char* name) {
  BIGNUM* raw = nullptr;
  if (EVP_PKEY_get_bn_param(key, name, &raw) != 1) return {};
  BigNum bn(raw, BN_free);
  std::string out(static_cast<size_t>(BN_num_bytes(bn.get())), '\0');
  BN_bn2bin(bn.get(), reinterpret_cast<unsigned char*>(out.data()));
  return out;
}

}  // namespace

PrivateKey LoadRecoveryPrivateKey(const std::string& pem_path) {
  PrivateKey none(nullptr, EVP_PKEY_free);
  File file(std::fopen(pem_path.c_str(), "rb"), std::fclose);
  if (!file) return none;
  PrivateKey key(PEM_read_PrivateKey(file.get(), nullptr, nullptr, nullptr), EVP_PKEY_free);
  if (!key || EVP_PKEY_get_base_id(key.get()) != EVP_PKEY_RSA) return none;
  return key;
}

std::string IssueRecoveryCode(EVP_PKEY* key, std::string_view machine_id) {
  if (!key || machine_id.empty()) return {};
  const std::string message = RecoveryMessage(machine_id);
  const auto* data = reinterpret_cast<const unsigned char*>(message.data());
  MdCtx md(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  size_t size = 0;
  // RSA keys sign with PKCS #1 v1.5 padding unless told otherwise.
  if (!md || EVP_DigestSignInit(md.get(), nullptr, EVP_sha256(), nullptr, key) != 1 ||
      EVP_DigestSign(md.get(), nullptr, &size, data, message.size()) != 1) {
    return {};
  }
  std::string signature(size, '\0');
  if (EVP_DigestSign(md.get(), reinterpret_cast<unsigned char*>(signature.data()), &size, data,
                     message.size()) != 1) {
    return {};
  }
  signature.resize(size);
  return Base64Encode(signature);
}

std::string RecoveryPublicBlob(EVP_PKEY* key) {
  if (!key) return {};
  RsaPublicKey pub;
  pub.bit_length = static_cast<uint32_t>(EVP_PKEY_get_bits(key));
  pub.modulus = BigEndianParam(key, OSSL_PKEY_PARAM_RSA_N);
  pub.exponent = BigEndianParam(key, OSSL_PKEY_PARAM_RSA_E);
  if (pub.modulus.empty() || pub.exponent.empty()) return {};
  return BuildRsaPublicBlob(pub);
}

}  // namespace lcx
