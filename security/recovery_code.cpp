#include "security/recovery_code.h"

#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>

#include <memory>

#include "platform/system.h"
#include "resources/documents.h"
#include "security/digest.h"

namespace lcx {
namespace {

constexpr uint32_t kMagicRsa1 = 0x31415352;  // "RSA1" read little-endian
constexpr size_t kHeaderSize = 24;

uint32_t ReadLe32(std::string_view bytes, size_t at) {
  return static_cast<uint32_t>(static_cast<unsigned char>(bytes[at])) |
         static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + 1])) << 8 |
         static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + 2])) << 16 |
         static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + 3])) << 24;
}

void AppendLe32(std::string& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xff);
}

using BigNum = std::unique_ptr<BIGNUM, decltype(&BN_free)>;
using ParamBuilder = std::unique_ptr<OSSL_PARAM_BLD, decltype(&OSSL_PARAM_BLD_free)>;
using Params = std::unique_ptr<OSSL_PARAM, decltype(&OSSL_PARAM_free)>;
using PkeyCtx = std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)>;
using Pkey = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using MdCtx = std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)>;

BigNum ToBigNum(const std::string& big_endian) {
  return BigNum(BN_bin2bn(reinterpret_cast<const unsigned char*>(big_endian.data()),
                          static_cast<int>(big_endian.size()), nullptr),
                BN_free);
}

Pkey ImportKey(const RsaPublicKey& key) {
  Pkey none(nullptr, EVP_PKEY_free);
  BigNum n = ToBigNum(key.modulus), e = ToBigNum(key.exponent);
  ParamBuilder builder(OSSL_PARAM_BLD_new(), OSSL_PARAM_BLD_free);
  if (!n || !e || !builder || OSSL_PARAM_BLD_push_BN(builder.get(), OSSL_PKEY_PARAM_RSA_N, n.get()) != 1 ||
      OSSL_PARAM_BLD_push_BN(builder.get(), OSSL_PKEY_PARAM_RSA_E, e.get()) != 1) {
    return none;
  }
  Params params(OSSL_PARAM_BLD_to_param(builder.get()), OSSL_PARAM_free);
  PkeyCtx ctx(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr), EVP_PKEY_CTX_free);
  EVP_PKEY* raw = nullptr;
  if (!params || !ctx || EVP_PKEY_fromdata_init(ctx.get()) != 1 ||
      EVP_PKEY_fromdata(ctx.get(), &raw, EVP_PKEY_PUBLIC_KEY, params.get()) != 1) {
    return none;
  }
  return Pkey(raw, EVP_PKEY_free);
}

}  // namespace

std::optional<RsaPublicKey> ParseRsaPublicBlob(std::string_view blob) {
  if (blob.size() < kHeaderSize || ReadLe32(blob, 0) != kMagicRsa1) return std::nullopt;
  RsaPublicKey key;
  key.bit_length = ReadLe32(blob, 4);
  uint32_t exponent_size = ReadLe32(blob, 8);
  uint32_t modulus_size = ReadLe32(blob, 12);
  uint32_t prime1_size = ReadLe32(blob, 16), prime2_size = ReadLe32(blob, 20);
  // A public blob has no primes; sizes are bounded before they are added so
  // a hostile header cannot wrap the sum.
  if (prime1_size != 0 || prime2_size != 0 || exponent_size < 1 || exponent_size > 8 ||
      key.bit_length < 1024 || key.bit_length > 16384 || modulus_size != (key.bit_length + 7) / 8 ||
      blob.size() != kHeaderSize + exponent_size + modulus_size) {
    return std::nullopt;
  }
  key.exponent = std::string(blob.substr(kHeaderSize, exponent_size));
  key.modulus = std::string(blob.substr(kHeaderSize + exponent_size, modulus_size));
  return key;
}

std::string BuildRsaPublicBlob(const RsaPublicKey& key) {
  std::string out;
  AppendLe32(out, kMagicRsa1);
  AppendLe32(out, key.bit_length);
  AppendLe32(out, static_cast<uint32_t>(key.exponent.size()));
  AppendLe32(out, static_cast<uint32_t>(key.modulus.size()));
  AppendLe32(out, 0);
  AppendLe32(out, 0);
  return out + key.exponent + key.modulus;
}

std::string RecoveryMessage(std::string_view machine_id) {
  return "LCXRESET:" + std::string(machine_id);
}

bool VerifyRecoveryCode(std::string_view code, std::string_view machine_id,
                        std::string_view public_key_blob) {
  std::string signature = Base64Decode(code);
  std::optional<RsaPublicKey> key = ParseRsaPublicBlob(public_key_blob);
  if (signature.empty() || !key) return false;
  Pkey pkey = ImportKey(*key);
  MdCtx md(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  if (!pkey || !md) return false;
  // RSA keys verify with PKCS #1 v1.5 padding unless told otherwise.
  std::string message = RecoveryMessage(machine_id);
  return EVP_DigestVerifyInit(md.get(), nullptr, EVP_sha256(), nullptr, pkey.get()) == 1 &&
         EVP_DigestVerify(md.get(), reinterpret_cast<const unsigned char*>(signature.data()),
                          signature.size(), reinterpret_cast<const unsigned char*>(message.data()),
                          message.size()) == 1;
}

std::string RecoveryPublicKey() {
  std::string_view built_in = BuiltInRecoveryKey();
  if (!built_in.empty()) return std::string(built_in);
  std::string from_file;
  ReadWholeFile("public.key", from_file);
  return from_file;
}

}  // namespace lcx
