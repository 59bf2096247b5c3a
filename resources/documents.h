// Documents compiled into the executable that both editors use: the
// end-user agreement page and the public key of the password recovery codes.
#pragma once

#include <string_view>

namespace lcx {

std::string_view EulaHtml();
// 283-byte RSA public-key blob (see security/recovery_code.h); made by
// resources/recovery_key.sh.
std::string_view BuiltInRecoveryKey();

}  // namespace lcx
