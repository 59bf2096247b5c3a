// Files compiled into the program for the web panel: the two pages, the
// login background, the end-user agreement and the recovery public key.
#pragma once

#include <string_view>

namespace lcx {

std::string_view LoginPageTemplate();  // with the {{MACHINE_ID}} and {{ERR}} markers
std::string_view AdminPageHtml();
std::string_view LoginBackgroundJpeg();
std::string_view EulaHtml();
std::string_view BuiltInRecoveryKey();

}  // namespace lcx
