#include "security/self_signed_cert.h"

#include <arpa/inet.h>
#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>

namespace lcx {
namespace {

template <typename T, void (*Free)(T*)>
struct Deleter {
  void operator()(T* p) const { Free(p); }
};
using PkeyPtr = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using X509Ptr = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using BioPtr = std::unique_ptr<BIO, Deleter<BIO, BIO_free_all>>;
using ExtPtr = std::unique_ptr<X509_EXTENSION, Deleter<X509_EXTENSION, X509_EXTENSION_free>>;

bool DnsNameOk(const std::string& name) {
  if (name.empty() || name.size() > 253 || name.front() == '.' || name.front() == '-') return false;
  for (char c : name) {
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.')) {
      return false;
    }
  }
  return true;
}

bool AddressOk(const std::string& text) {
  unsigned char buf[16];
  return inet_pton(AF_INET, text.c_str(), buf) == 1 || inet_pton(AF_INET6, text.c_str(), buf) == 1;
}

bool AddExtension(X509* cert, int nid, const std::string& value) {
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
  ExtPtr ext(X509V3_EXT_conf_nid(nullptr, &ctx, nid, value.c_str()));
  return ext && X509_add_ext(cert, ext.get(), -1) == 1;
}

std::string PemOf(int (*write)(BIO*, const void*), const void* object) {
  BioPtr bio(BIO_new(BIO_s_mem()));
  if (!bio || write(bio.get(), object) != 1) return {};
  char* data = nullptr;
  long n = BIO_get_mem_data(bio.get(), &data);
  return n > 0 ? std::string(data, static_cast<size_t>(n)) : std::string();
}

}  // namespace

std::optional<CertificatePair> MakeSelfSignedCertificate(const std::vector<std::string>& dns_names,
                                                         const std::vector<std::string>& addresses,
                                                         int valid_days) {
  // Only checked names reach the extension's text, so none can add an entry.
  std::string san, common_name;
  for (const auto& n : dns_names) {
    if (!DnsNameOk(n)) continue;
    if (common_name.empty()) common_name = n;
    san += (san.empty() ? "DNS:" : ",DNS:") + n;
  }
  for (const auto& a : addresses) {
    if (AddressOk(a)) san += (san.empty() ? "IP:" : ",IP:") + a;
  }
  if (san.empty()) return std::nullopt;
  if (common_name.empty()) common_name = "Lumicast";

  PkeyPtr key(EVP_EC_gen("P-256"));
  X509Ptr cert(X509_new());
  if (!key || !cert) return std::nullopt;
  unsigned char serial[16];
  if (RAND_bytes(serial, sizeof serial) != 1) return std::nullopt;
  serial[0] &= 0x7F;  // a positive number
  std::unique_ptr<BIGNUM, Deleter<BIGNUM, BN_free>> bn(BN_bin2bn(serial, sizeof serial, nullptr));
  X509_NAME* name = X509_get_subject_name(cert.get());
  bool ok = bn && X509_set_version(cert.get(), 2) == 1 &&
            BN_to_ASN1_INTEGER(bn.get(), X509_get_serialNumber(cert.get())) != nullptr &&
            // An hour back, so a clock a little behind ours still accepts it.
            X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600) != nullptr &&
            X509_time_adj_ex(X509_getm_notAfter(cert.get()), valid_days, 0, nullptr) != nullptr &&
            X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                                       reinterpret_cast<const unsigned char*>(common_name.c_str()), -1, -1,
                                       0) == 1 &&
            X509_NAME_add_entry_by_txt(name, "O", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>("Lumicast"),
                                       -1, -1, 0) == 1 &&
            X509_set_issuer_name(cert.get(), name) == 1 && X509_set_pubkey(cert.get(), key.get()) == 1 &&
            AddExtension(cert.get(), NID_basic_constraints, "critical,CA:FALSE") &&
            AddExtension(cert.get(), NID_ext_key_usage, "serverAuth") &&
            AddExtension(cert.get(), NID_subject_key_identifier, "hash") &&
            AddExtension(cert.get(), NID_subject_alt_name, san) &&
            X509_sign(cert.get(), key.get(), EVP_sha256()) > 0;
  if (!ok) return std::nullopt;
  CertificatePair pair;
  pair.cert_pem = PemOf([](BIO* b, const void* x) { return PEM_write_bio_X509(b, static_cast<X509*>(const_cast<void*>(x))); },
                        cert.get());
  pair.key_pem = PemOf(
      [](BIO* b, const void* k) {
        return PEM_write_bio_PrivateKey(b, static_cast<EVP_PKEY*>(const_cast<void*>(k)), nullptr, nullptr, 0, nullptr,
                                        nullptr);
      },
      key.get());
  if (pair.cert_pem.empty() || pair.key_pem.empty()) return std::nullopt;
  return pair;
}

}  // namespace lcx
