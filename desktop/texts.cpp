#include "desktop/texts.h"

#include "core/setting_table.h"

namespace lcx {

Language LanguageFromConfig(const ConfigMap& config) {
  return SettingText(config, "lang") == "en" ? Language::kEnglish : Language::kArabic;
}

}  // namespace lcx
