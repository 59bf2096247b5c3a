// The paused picture and the screen notices (gradient, glow, logo, a sign,
// Arabic and English texts) and the web preview's paused card, drawn with Cairo and Pango.
// Threads: surfaces are per call; the decoded logo is written once under
// call_once and only read afterwards; text is drawn under TextLock (the font
// map's mutex), the only lock taken here.
#include "video/paused_picture.h"

#include <cstring>
#include <mutex>
#include <new>
#include <span>

#include "resources/logo.h"
#include "video/cairo_handles.h"
#include "video/picture_fonts.h"

namespace lcx {
namespace {

// ---- logo -------------------------------------------------------------------

// Premultiplied ARGB32 pixels of the decoded logo; empty when the embedded
// PNG is missing or does not decode (the picture is then drawn without it).
struct LogoPixels {
  int width = 0, height = 0, stride = 0;
  std::vector<uint8_t> argb;
};

struct PngReader {
  std::span<const uint8_t> bytes;
  size_t at = 0;
};

cairo_status_t ReadPng(void* closure, unsigned char* data, unsigned int length) {
  auto* r = static_cast<PngReader*>(closure);
  if (r->bytes.size() - r->at < length) return CAIRO_STATUS_READ_ERROR;
  std::memcpy(data, r->bytes.data() + r->at, length);
  r->at += length;
  return CAIRO_STATUS_SUCCESS;
}

const LogoPixels& Logo() {
  // Never destroyed: detached server threads may still be drawing while the
  // process exits.
  static const LogoPixels* logo = nullptr;
  static std::once_flag once;
  std::call_once(once, [] {
    auto* l = new LogoPixels;
    PngReader reader{LogoPng()};
    SurfacePtr png(cairo_image_surface_create_from_png_stream(&ReadPng, &reader));
    if (cairo_surface_status(png.get()) == CAIRO_STATUS_SUCCESS &&
        cairo_image_surface_get_format(png.get()) == CAIRO_FORMAT_ARGB32) {
      cairo_surface_flush(png.get());
      l->width = cairo_image_surface_get_width(png.get());
      l->height = cairo_image_surface_get_height(png.get());
      l->stride = cairo_image_surface_get_stride(png.get());
      const uint8_t* data = cairo_image_surface_get_data(png.get());
      if (data && l->width > 0 && l->height > 0) {
        l->argb.assign(data, data + static_cast<size_t>(l->stride) * l->height);
      }
    }
    if (l->argb.empty()) l->width = l->height = 0;
    logo = l;
  });
  return *logo;
}

// ---- drawing helpers --------------------------------------------------------

void SetArgb(cairo_t* cr, uint32_t argb) {
  cairo_set_source_rgba(cr, ((argb >> 16) & 0xFF) / 255.0, ((argb >> 8) & 0xFF) / 255.0,
                        (argb & 0xFF) / 255.0, (argb >> 24) / 255.0);
}

void AddArgbStop(cairo_pattern_t* p, double offset, uint32_t argb) {
  cairo_pattern_add_color_stop_rgba(p, offset, ((argb >> 16) & 0xFF) / 255.0, ((argb >> 8) & 0xFF) / 255.0,
                                    (argb & 0xFF) / 255.0, (argb >> 24) / 255.0);
}

struct TextBox {
  const char* text;
  double size_px;
  bool bold;
  uint32_t argb;
  double x, y, width;  // layout rectangle; the first line's top is at y
  PangoAlignment align;
  PangoDirection dir;
};

void DrawTextBox(const TextLock& lock, cairo_t* cr, const TextBox& t) {
  LayoutPtr layout = NewLayout(lock, cr, Typeface::kPicture, t.size_px, t.bold, t.dir);
  pango_layout_set_width(layout.get(), static_cast<int>(t.width * PANGO_SCALE));
  pango_layout_set_alignment(layout.get(), t.align);
  pango_layout_set_text(layout.get(), t.text, -1);
  SetArgb(cr, t.argb);
  cairo_move_to(cr, t.x, t.y);
  pango_cairo_show_layout(cr, layout.get());
}

// Closed path of four quarter arcs.
void RoundedRectangle(cairo_t* cr, double x, double y, double w, double h, double r) {
  constexpr double kPi = 3.14159265358979323846;
  cairo_new_sub_path(cr);
  cairo_arc(cr, x + r, y + r, r, kPi, 1.5 * kPi);
  cairo_arc(cr, x + w - r, y + r, r, 1.5 * kPi, 2 * kPi);
  cairo_arc(cr, x + w - r, y + h - r, r, 0, 0.5 * kPi);
  cairo_arc(cr, x + r, y + h - r, r, 0.5 * kPi, kPi);
  cairo_close_path(cr);
}

void DrawLogo(cairo_t* cr, double x, double y, double width) {
  const LogoPixels& logo = Logo();
  if (logo.argb.empty()) return;
  // A private surface over the shared pixels: Cairo objects are not shared
  // between threads, the read-only bytes are.
  SurfacePtr image(cairo_image_surface_create_for_data(const_cast<uint8_t*>(logo.argb.data()),
                                                       CAIRO_FORMAT_ARGB32, logo.width, logo.height,
                                                       logo.stride));
  if (cairo_surface_status(image.get()) != CAIRO_STATUS_SUCCESS) return;
  const double scale = width / logo.width;
  cairo_save(cr);
  cairo_translate(cr, x, y);
  cairo_scale(cr, scale, scale);
  cairo_set_source_surface(cr, image.get(), 0, 0);
  // GOOD down-scales by area averaging; BEST costs ten times as much here for
  // no visible gain.
  cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_GOOD);
  cairo_rectangle(cr, 0, 0, logo.width, logo.height);
  cairo_fill(cr);
  cairo_restore(cr);
}

// ---- the paused card of the web preview -------------------------------------

// One centred line of the card. The heights are cell heights (ascent plus
// descent of the Latin font), as the card's sizes were given, so the em size
// is derived from the chosen font's metrics.
void DrawCardLine(const TextLock& lock, cairo_t* cr, const char* text, PangoDirection dir, int cell_height, bool bold,
                  uint32_t rgb, int width, double top) {
  LayoutPtr probe = NewLayout(lock, cr, Typeface::kCard, cell_height, bold, PANGO_DIRECTION_LTR);
  FontMetricsPtr metrics(pango_context_get_metrics(pango_layout_get_context(probe.get()),
                                                   pango_layout_get_font_description(probe.get()),
                                                   pango_language_from_string("en")));
  double em = cell_height;
  double ascent = cell_height * 0.8;
  const int probe_cell = pango_font_metrics_get_ascent(metrics.get()) + pango_font_metrics_get_descent(metrics.get());
  if (probe_cell > 0) {
    em = static_cast<double>(cell_height) * cell_height * PANGO_SCALE / probe_cell;
    ascent = static_cast<double>(pango_font_metrics_get_ascent(metrics.get())) * cell_height / probe_cell;
  }
  LayoutPtr layout = NewLayout(lock, cr, Typeface::kCard, em, bold, dir);
  pango_layout_set_text(layout.get(), text, -1);
  pango_layout_set_width(layout.get(), width * PANGO_SCALE);
  pango_layout_set_alignment(layout.get(), PANGO_ALIGN_CENTER);
  // Put the baseline where the cell's would be, whatever fallback font the
  // line ends up using.
  const double baseline = static_cast<double>(pango_layout_get_baseline(layout.get())) / PANGO_SCALE;
  SetArgb(cr, 0xFF000000u | rgb);
  cairo_move_to(cr, 0, top + ascent - baseline);
  pango_cairo_show_layout(cr, layout.get());
}

// The sign above a notice's texts: pause bars, or a monitor with what
// keeps it from the stream.
void DrawSign(cairo_t* cr, ScreenNotice notice, double cx, double top, double s) {
  SetArgb(cr, 0xFF7FB4FF);
  if (notice == ScreenNotice::kPaused) {
    RoundedRectangle(cr, cx - 17 * s, top, 11 * s, 36 * s, 3 * s);
    RoundedRectangle(cr, cx + 6 * s, top, 11 * s, 36 * s, 3 * s);
    cairo_fill(cr);
    return;
  }
  const double w = 52 * s, h = 30 * s, x = cx - w / 2;
  cairo_set_line_width(cr, 3.5 * s);
  RoundedRectangle(cr, x, top, w, h, 4 * s);
  cairo_stroke(cr);
  cairo_rectangle(cr, cx - 2 * s, top + h, 4 * s, 5 * s);
  RoundedRectangle(cr, cx - 12 * s, top + h + 4.5 * s, 24 * s, 3.5 * s, 1.5 * s);
  cairo_fill(cr);
  if (notice == ScreenNotice::kWaiting) {
    for (int i = -1; i <= 1; ++i) {
      cairo_arc(cr, cx + i * 11 * s, top + h / 2, 3.2 * s, 0, 2 * 3.14159265358979323846);
      cairo_fill(cr);
    }
  } else if (notice == ScreenNotice::kNotShared) {
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    cairo_move_to(cr, x - 6 * s, top + h + 6 * s);
    cairo_line_to(cr, x + w + 6 * s, top - 6 * s);
    cairo_stroke(cr);
  } else {
    cairo_move_to(cr, cx - 9 * s, top + h / 2);
    cairo_line_to(cr, cx + 9 * s, top + h / 2);
    cairo_stroke(cr);
  }
}

struct NoticeTexts {
  const char* title_ar;
  const char* title_en;
  const char* hint_ar;
  const char* hint_en;  // null: none
};

NoticeTexts TextsOf(ScreenNotice notice) {
  switch (notice) {
    case ScreenNotice::kNotShared:
      return {"الشاشة غير مُشارَكة", "Screen not shared", "افتح لوحة التحكم لمشاركة الشاشة",
              "Open the control panel to share the screen"};
    case ScreenNotice::kWaiting:
      return {"في انتظار الشاشة", "Waiting for the screen", "تظهر الصورة حين يبدأ سطح المكتب بمشاركة الشاشة",
              "The picture appears once the desktop shares the screen"};
    case ScreenNotice::kNoScreen:
      return {"لا توجد شاشة", "No screen", "تبدأ الصورة تلقائيًا عند توفّر الشاشة",
              "The picture starts by itself once a display is there"};
    case ScreenNotice::kPaused:
      break;
  }
  return {"البث متوقّف مؤقتًا", "Stream paused", "سيستأنف البث تلقائيًا عند إعادة التشغيل من لوحة التحكم", nullptr};
}

}  // namespace

void DrawPausedPicture(uint8_t* bgrx, int width, int height) {
  DrawNoticePicture(bgrx, width, height, ScreenNotice::kPaused);
}

void DrawNoticePicture(uint8_t* bgrx, int width, int height, ScreenNotice notice) {
  SurfacePtr surface = WrapBgrx(bgrx, width, height);
  if (!surface) return;
  CairoPtr cr(cairo_create(surface.get()));
  cairo_set_antialias(cr.get(), CAIRO_ANTIALIAS_GOOD);
  const double w = width, h = height, s = h / 720.0, cx = w * 0.5;

  PatternPtr background(cairo_pattern_create_linear(0, 0, w, h));
  AddArgbStop(background.get(), 0, 0xFF0A1430);
  AddArgbStop(background.get(), 1, 0xFF08243A);
  cairo_pattern_set_extend(background.get(), CAIRO_EXTEND_REPEAT);
  cairo_set_source(cr.get(), background.get());
  cairo_rectangle(cr.get(), 0, 0, w, h);
  cairo_fill(cr.get());

  // Glow: an ellipse centred on (cx, 0.4H) fading from the centre colour to
  // the same blue fully transparent at its edge; drawn as a unit circle in
  // scaled space so the fade follows the ellipse.
  {
    PatternPtr glow(cairo_pattern_create_radial(0, 0, 0, 0, 0, 1));
    AddArgbStop(glow.get(), 0, 0x5F2B78FF);
    AddArgbStop(glow.get(), 1, 0x002B78FF);
    cairo_save(cr.get());
    cairo_translate(cr.get(), cx, 0.4 * h);
    cairo_scale(cr.get(), 0.45 * w, 0.5 * h);
    cairo_arc(cr.get(), 0, 0, 1, 0, 2 * 3.14159265358979323846);
    cairo_set_source(cr.get(), glow.get());
    cairo_fill(cr.get());
    cairo_restore(cr.get());
  }

  DrawLogo(cr.get(), cx - 150 * s, 0.14 * h, 300 * s);

  DrawSign(cr.get(), notice, cx, 0.535 * h, s);

  const NoticeTexts words = TextsOf(notice);
  const TextBox texts[] = {
      {words.title_ar, 46 * s, true, 0xFFEAF1FF, 0, 0.605 * h, w, PANGO_ALIGN_CENTER, PANGO_DIRECTION_RTL},
      {words.title_en, 26 * s, false, 0xFFBCD0F2, 0, 0.705 * h, w, PANGO_ALIGN_CENTER, PANGO_DIRECTION_LTR},
      {words.hint_ar, 17 * s, false, 0xFF9FB3D8, 0, 0.78 * h, w, PANGO_ALIGN_CENTER, PANGO_DIRECTION_RTL},
      {words.hint_en ? words.hint_en : "", 15 * s, false, 0xFF9FB3D8, 0, 0.835 * h, w, PANGO_ALIGN_CENTER,
       PANGO_DIRECTION_LTR},
      {"Lumicast", 18 * s, true, 0xEBEAF1FF, 0.02 * w, 0.03 * h, 0.5 * w, PANGO_ALIGN_LEFT, PANGO_DIRECTION_LTR},
      {"Halvorix  \u2022  halvorix.example", 15 * s, false, 0xCD96AAD2, 0, 0.93 * h, w, PANGO_ALIGN_CENTER,
       PANGO_DIRECTION_LTR},
  };
  {
    TextLock lock;
    for (const TextBox& t : texts) {
      if (*t.text) DrawTextBox(lock, cr.get(), t);
    }
  }
  cairo_surface_flush(surface.get());
}

void DrawPausedCard(uint8_t* bgrx, int width, int height) {
  SurfacePtr surface = WrapBgrx(bgrx, width, height);
  if (!surface) return;
  CairoPtr cr(cairo_create(surface.get()));
  cairo_set_source_rgb(cr.get(), 15 / 255.0, 15 / 255.0, 20 / 255.0);
  cairo_paint(cr.get());
  const int first = height / 12, second = height / 22;
  TextLock lock;
  // The first line is centred vertically in the whole card.
  if (first > 0) {
    DrawCardLine(lock, cr.get(), "البث متوقّف", PANGO_DIRECTION_RTL, first, true, 0xEBEBEB, width,
                 (height - first) / 2.0);
  }
  if (second > 0) {
    DrawCardLine(lock, cr.get(), "Stream paused - Lumicast", PANGO_DIRECTION_LTR, second, false, 0x96A0AF, width,
                 static_cast<double>(height * 58 / 100));
  }
  cairo_surface_flush(surface.get());
}

void FillPausedPicture(int width, int height, std::vector<uint8_t>& buffer) {
  FillNoticePicture(width, height, ScreenNotice::kPaused, buffer);
}

void FillNoticePicture(int width, int height, ScreenNotice notice, std::vector<uint8_t>& buffer) {
  buffer.clear();
  if (width < 1 || height < 1) return;
  // A size Cairo cannot draw at still gets a whole (black) buffer, so a
  // caller that encodes it never reads past its end.
  try {
    buffer.assign(static_cast<size_t>(width) * height * 4, 0);
  } catch (const std::bad_alloc&) {
    buffer.clear();
    return;
  }
  DrawNoticePicture(buffer.data(), width, height, notice);
}

}  // namespace lcx
