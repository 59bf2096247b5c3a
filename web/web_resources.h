// Files compiled into the program for the web panel: the three pages, the
// login background (the agreement and the recovery key are in resources/documents.h).
#pragma once

#include <string_view>

namespace lcx {

std::string_view LoginPageTemplate();  // with the {{MACHINE_ID}} and {{ERR}} markers
std::string_view AdminPageHtml();
std::string_view PasswordPageHtml();  // the factory password's replacement
std::string_view LoginBackgroundJpeg();

}  // namespace lcx
