// The process-wide font map and the family lists, both made once and never
// destroyed: detached server threads may draw while the process exits.
#include "video/picture_fonts.h"

namespace lcx {
namespace {

// Noto Sans lacks Arabic, so Pango takes the Arabic glyphs from the next
// family; DejaVu Sans is the one that drew them before the list was fixed.
constexpr const char* kInstalledFamilies = "Noto Sans,DejaVu Sans";

struct TextFonts {
  std::mutex mutex;
  PangoFontMap* map = nullptr;
  std::string picture_families, card_families;
};

// Only families fontconfig really lists count: a name it merely aliases
// would bring in whichever stand-in happens to be installed.
bool HasFamily(PangoFontMap* map, const char* family) {
  PangoFontFamily** families = nullptr;
  int count = 0;
  pango_font_map_list_families(map, &families, &count);
  bool found = false;
  for (int i = 0; i < count && !found; ++i) {
    found = g_ascii_strcasecmp(pango_font_family_get_name(families[i]), family) == 0;
  }
  g_free(families);
  return found;
}

std::string ListFor(PangoFontMap* map, const char* designed) {
  return HasFamily(map, designed) ? std::string(designed) + "," + kInstalledFamilies : kInstalledFamilies;
}

TextFonts& Fonts() {
  static TextFonts* fonts = [] {
    auto* f = new TextFonts;
    f->map = pango_cairo_font_map_new();
    f->picture_families = ListFor(f->map, "Segoe UI");
    f->card_families = ListFor(f->map, "Arial");
    return f;
  }();
  return *fonts;
}

}  // namespace

const std::string& FamilyList(Typeface face) {
  return face == Typeface::kCard ? Fonts().card_families : Fonts().picture_families;
}

TextLock::TextLock() : lock_(Fonts().mutex) {}

LayoutPtr NewLayout(const TextLock&, cairo_t* cr, Typeface face, double size_px, bool bold, PangoDirection dir) {
  PangoContextPtr context(pango_font_map_create_context(Fonts().map));
  pango_cairo_update_context(cr, context.get());
  FontOptionsPtr options(cairo_font_options_create());
  cairo_font_options_set_antialias(options.get(), CAIRO_ANTIALIAS_GRAY);
  cairo_font_options_set_hint_style(options.get(), CAIRO_HINT_STYLE_NONE);
  cairo_font_options_set_hint_metrics(options.get(), CAIRO_HINT_METRICS_OFF);
  pango_cairo_context_set_font_options(context.get(), options.get());
  pango_context_set_base_dir(context.get(), dir);
  LayoutPtr layout(pango_layout_new(context.get()));
  pango_layout_set_auto_dir(layout.get(), FALSE);

  FontDescriptionPtr font(pango_font_description_new());
  pango_font_description_set_family(font.get(), FamilyList(face).c_str());
  pango_font_description_set_weight(font.get(), bold ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
  pango_font_description_set_absolute_size(font.get(), size_px * PANGO_SCALE);
  pango_layout_set_font_description(layout.get(), font.get());
  return layout;
}

}  // namespace lcx
