// The panel's own certificate for HTTPS: a new P-256 key and a self-signed
// X.509 v3 certificate naming the machine (its host names and addresses in
// subjectAltName), both as PEM. Pure apart from the random key; no state.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace lcx {

struct CertificatePair {
  std::string cert_pem;
  std::string key_pem;
};

// Names are DNS names (letters, digits, "-", "." only; others are left
// out), addresses IPv4 or IPv6 literals (unparsable ones are left out). The
// first name is also the subject's common name. nullopt when OpenSSL fails
// or nothing is left to name.
std::optional<CertificatePair> MakeSelfSignedCertificate(const std::vector<std::string>& dns_names,
                                                         const std::vector<std::string>& addresses,
                                                         int valid_days);

}  // namespace lcx
