#include "web/web_resources.h"

#include <cstddef>
#include <cstdint>

namespace lcx {

// Generated from the files by resources/embed.cmake (see web/CMakeLists.txt).
extern const uint8_t kWebLoginHtml[];
extern const size_t kWebLoginHtmlSize;
extern const uint8_t kWebAdminHtml[];
extern const size_t kWebAdminHtmlSize;
extern const uint8_t kWebPasswordHtml[];
extern const size_t kWebPasswordHtmlSize;
extern const uint8_t kLoginBgJpg[];
extern const size_t kLoginBgJpgSize;

namespace {
std::string_view View(const uint8_t* bytes, size_t size) {
  return std::string_view(reinterpret_cast<const char*>(bytes), size);
}
}  // namespace

std::string_view LoginPageTemplate() { return View(kWebLoginHtml, kWebLoginHtmlSize); }
std::string_view AdminPageHtml() { return View(kWebAdminHtml, kWebAdminHtmlSize); }
std::string_view PasswordPageHtml() { return View(kWebPasswordHtml, kWebPasswordHtmlSize); }
std::string_view LoginBackgroundJpeg() { return View(kLoginBgJpg, kLoginBgJpgSize); }

}  // namespace lcx
