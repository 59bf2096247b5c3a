// The agreement page made readable for the EULA window's text box: one
// language's article, tags dropped, blocks on lines of their own, entities
// decoded. Pure; it never reads past the page, whatever the page holds.
#pragma once

#include <string>

#include "desktop/texts.h"

namespace lcx {

// The article whose id is the language's key ("ar", "en"); a page without
// it gives its whole body. Unclosed tags, comments and skipped elements end
// the text where they begin; a "<" that starts no tag is kept as text.
std::string EulaPlainText(const std::string& html, Language lang);

}  // namespace lcx
