// The pictures' texts come out in the fonts of their family lists and in no
// other, so other installed fonts cannot change the pictures. (Once
// fonts-liberation came in with a browser, "Arial" turned into Liberation
// Sans and the card's Arabic line outgrew its cell.)
#include "video/picture_fonts.h"

#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>

namespace lcx {
namespace {

std::set<std::string> Families(const std::string& list) {
  std::set<std::string> names;
  std::istringstream in(list);
  for (std::string name; std::getline(in, name, ',');) names.insert(name);
  return names;
}

TEST(PictureFonts, EveryTextIsDrawnInItsListedFamilies) {
  struct Case {
    const char* name;
    Typeface face;
    const char* text;
    bool bold;
    PangoDirection dir;
  } cases[] = {
      {"card title", Typeface::kCard, "البث متوقّف", true, PANGO_DIRECTION_RTL},
      {"card line", Typeface::kCard, "Stream paused - Lumicast", false, PANGO_DIRECTION_LTR},
      {"picture title", Typeface::kPicture, "البث متوقّف مؤقتًا", true, PANGO_DIRECTION_RTL},
      {"picture hint", Typeface::kPicture, "سيستأنف البث تلقائيًا عند إعادة التشغيل من لوحة التحكم", false,
       PANGO_DIRECTION_RTL},
      {"picture footer", Typeface::kPicture, "Halvorix  \u2022  halvorix.example", false, PANGO_DIRECTION_LTR},
  };
  SurfacePtr surface(cairo_image_surface_create(CAIRO_FORMAT_RGB24, 8, 8));
  CairoPtr cr(cairo_create(surface.get()));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::set<std::string> allowed = Families(FamilyList(c.face));
    TextLock lock;
    LayoutPtr layout = NewLayout(lock, cr.get(), c.face, 40, c.bold, c.dir);
    pango_layout_set_text(layout.get(), c.text, -1);
    PangoLayoutIter* iter = pango_layout_get_iter(layout.get());
    int runs = 0;
    do {
      PangoLayoutRun* run = pango_layout_iter_get_run_readonly(iter);
      if (!run) continue;  // the end of a line
      ++runs;
      FontDescriptionPtr font(pango_font_describe(run->item->analysis.font));
      const std::string family = pango_font_description_get_family(font.get());
      EXPECT_TRUE(allowed.count(family)) << family << " is not in " << FamilyList(c.face);
    } while (pango_layout_iter_next_run(iter));
    pango_layout_iter_free(iter);
    EXPECT_GT(runs, 0);
  }
}

}  // namespace
}  // namespace lcx
