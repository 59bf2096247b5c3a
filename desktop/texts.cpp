#include "desktop/texts.h"

namespace lcx {

Language LanguageFromConfig(const ConfigMap& config) {
  return GetString(config, "lang", "ar") == "en" ? Language::kEnglish : Language::kArabic;
}

}  // namespace lcx
