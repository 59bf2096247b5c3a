#include "security/protect.h"

#include <openssl/evp.h>
#include <openssl/kdf.h>
#include <openssl/rand.h>

#include <atomic>
#include <cstring>
#include <memory>

#include "platform/machine_sources.h"
#include "security/digest.h"
#include "security/machine_id.h"

namespace lcx {
namespace {

// 1: the machine's values only (any local account could derive it; read,
// never written); 2: those and the user's own secret.
constexpr unsigned char kMachineBlob = 1;
constexpr unsigned char kUserBlob = 2;
constexpr size_t kNonceSize = 12;
constexpr size_t kTagSize = 16;
constexpr char kAad[] = "lcx";  // the data description, bound to every blob
constexpr char kFlagName[] = "pwenc";

std::atomic<KeySourceFn> g_key_source{nullptr};

std::optional<std::string> KeySource() {
  if (KeySourceFn f = g_key_source.load()) return f();
  return MachineIdText(ReadMachineGuid(), ReadProductId(), ReadVolumeSerialHex());
}

bool DeriveKey(unsigned char version, unsigned char key[32]) {
  std::optional<std::string> source = KeySource();
  if (!source) return false;
  std::string ikm = *source;
  const char* info = "lcx machine scope v1";
  if (version == kUserBlob) {
    std::optional<std::string> user_key = ReadUserKey();
    if (!user_key) return false;
    ikm += *user_key;
    info = "lcx user scope v2";
  }
  std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> ctx(
      EVP_PKEY_CTX_new_id(EVP_PKEY_HKDF, nullptr), EVP_PKEY_CTX_free);
  static const unsigned char kSalt[] = "Halvorix.Lumicast.protect";
  size_t len = 32;
  return ctx && EVP_PKEY_derive_init(ctx.get()) == 1 &&
         EVP_PKEY_CTX_set_hkdf_md(ctx.get(), EVP_sha256()) == 1 &&
         EVP_PKEY_CTX_set1_hkdf_salt(ctx.get(), kSalt, sizeof kSalt - 1) == 1 &&
         EVP_PKEY_CTX_set1_hkdf_key(ctx.get(), reinterpret_cast<const unsigned char*>(ikm.data()),
                                    static_cast<int>(ikm.size())) == 1 &&
         EVP_PKEY_CTX_add1_hkdf_info(ctx.get(), reinterpret_cast<const unsigned char*>(info),
                                     static_cast<int>(std::strlen(info))) == 1 &&
         EVP_PKEY_derive(ctx.get(), key, &len) == 1 && len == 32;
}

using CipherCtx = std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)>;

}  // namespace

std::optional<std::string> ProtectString(std::string_view plain) {
  unsigned char key[32];
  if (!DeriveKey(kUserBlob, key)) return std::nullopt;
  std::string blob(1 + kNonceSize + plain.size() + kTagSize, '\0');
  auto* out = reinterpret_cast<unsigned char*>(blob.data());
  out[0] = kUserBlob;
  unsigned char* nonce = out + 1;
  unsigned char* cipher = nonce + kNonceSize;
  if (RAND_bytes(nonce, kNonceSize) != 1) return std::nullopt;

  CipherCtx ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
  int len = 0;
  if (!ctx || EVP_EncryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, key, nonce) != 1 ||
      EVP_EncryptUpdate(ctx.get(), nullptr, &len, reinterpret_cast<const unsigned char*>(kAad),
                        sizeof kAad - 1) != 1 ||
      EVP_EncryptUpdate(ctx.get(), cipher, &len, reinterpret_cast<const unsigned char*>(plain.data()),
                        static_cast<int>(plain.size())) != 1 ||
      EVP_EncryptFinal_ex(ctx.get(), cipher + len, &len) != 1 ||
      EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_GET_TAG, kTagSize, cipher + plain.size()) != 1) {
    return std::nullopt;
  }
  return "enc:" + Base64Encode(blob);
}

std::string UnprotectString(std::string_view stored) {
  if (stored.size() < 4 || stored.substr(0, 4) != "enc:") return std::string(stored);
  std::string blob = Base64Decode(stored.substr(4));
  const unsigned char version = blob.empty() ? 0 : static_cast<unsigned char>(blob[0]);
  if (blob.size() < 1 + kNonceSize + kTagSize || (version != kMachineBlob && version != kUserBlob)) {
    return {};
  }
  unsigned char key[32];
  if (!DeriveKey(version, key)) return {};
  auto* in = reinterpret_cast<unsigned char*>(blob.data());
  unsigned char* nonce = in + 1;
  unsigned char* cipher = nonce + kNonceSize;
  size_t cipher_len = blob.size() - 1 - kNonceSize - kTagSize;
  unsigned char* tag = cipher + cipher_len;

  std::string plain(cipher_len, '\0');
  CipherCtx ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
  int len = 0;
  if (!ctx || EVP_DecryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, key, nonce) != 1 ||
      EVP_DecryptUpdate(ctx.get(), nullptr, &len, reinterpret_cast<const unsigned char*>(kAad),
                        sizeof kAad - 1) != 1 ||
      EVP_DecryptUpdate(ctx.get(), reinterpret_cast<unsigned char*>(plain.data()), &len, cipher,
                        static_cast<int>(cipher_len)) != 1 ||
      EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_TAG, kTagSize, tag) != 1 ||
      EVP_DecryptFinal_ex(ctx.get(), reinterpret_cast<unsigned char*>(plain.data()) + len, &len) != 1) {
    return {};
  }
  return plain;
}

bool ProtectedTheOldWay(std::string_view stored) {
  if (stored.size() < 4 || stored.substr(0, 4) != "enc:") return false;
  std::string blob = Base64Decode(stored.substr(4));
  return !blob.empty() && static_cast<unsigned char>(blob[0]) == kMachineBlob;
}

std::optional<std::string> ReprotectString(std::string_view stored) {
  if (!ProtectedTheOldWay(stored)) return std::nullopt;
  std::string plain = UnprotectString(stored);
  if (plain.empty()) return std::nullopt;
  return ProtectString(plain);
}

bool PasswordProtected() { return ReadUserFlag(kFlagName) == "1"; }

bool SetPasswordProtectedFlag(bool on) {
  // Read back on failure: a replace whose final sync failed may still have
  // put the value in place.
  return WriteUserFlag(kFlagName, on ? "1" : "0") || PasswordProtected() == on;
}

std::string LockedPasswordMarker() { return std::string("\x01") + "LOCKED-" + GetMachineId(); }

ResolvedPassword ResolveAdminPassword(std::string_view stored, bool flag_protected) {
  bool encrypted = stored.size() >= 4 && stored.substr(0, 4) == "enc:";
  ResolvedPassword r{UnprotectString(stored), false};
  if ((encrypted && r.plain.empty()) || (!encrypted && flag_protected)) {
    r.plain = LockedPasswordMarker();
    r.locked = true;
  }
  return r;
}

void SetProtectionKeySourceForTesting(KeySourceFn source) { g_key_source.store(source); }

}  // namespace lcx
