// Still pictures: JPEG snapshots of the screen (the web preview at native size,
// the ONVIF snapshot averaged down to a requested size) and the two pictures
// shown while the stream is paused, drawn with Cairo and Pango.
// Threads: calls come from many connection threads at once; surfaces and
// encoder handles are per call. Shared, each behind its own guard: the decoded
// logo (written once under call_once, read-only after), the font map (its
// mutex, held for all text drawing) and one kept screen grabber (its mutex,
// only ever tried). No lock is taken while another is held.
#include "video/snapshot.h"

#include <cairo.h>
#include <pango/pangocairo.h>
#include <turbojpeg.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <span>

#include "resources/logo.h"
#include "video/stream_producer.h"

namespace lcx {
namespace {

// libjpeg's limit; larger pictures cannot be written at all.
constexpr int kMaxJpegSide = 65500;
// Cairo's limit on image surfaces.
constexpr int kMaxSurfaceSide = 32767;

struct SurfaceFree {
  void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
};
struct CairoFree {
  void operator()(cairo_t* c) const { cairo_destroy(c); }
};
struct PatternFree {
  void operator()(cairo_pattern_t* p) const { cairo_pattern_destroy(p); }
};
struct FontOptionsFree {
  void operator()(cairo_font_options_t* o) const { cairo_font_options_destroy(o); }
};
struct GObjectFree {
  void operator()(void* o) const { g_object_unref(o); }
};
struct FontDescriptionFree {
  void operator()(PangoFontDescription* d) const { pango_font_description_free(d); }
};
struct FontMetricsFree {
  void operator()(PangoFontMetrics* m) const { pango_font_metrics_unref(m); }
};
struct TjFree {
  void operator()(void* h) const { tjDestroy(h); }
};
struct TjBufferFree {
  void operator()(unsigned char* b) const { tjFree(b); }
};
using SurfacePtr = std::unique_ptr<cairo_surface_t, SurfaceFree>;
using CairoPtr = std::unique_ptr<cairo_t, CairoFree>;
using PatternPtr = std::unique_ptr<cairo_pattern_t, PatternFree>;
using FontOptionsPtr = std::unique_ptr<cairo_font_options_t, FontOptionsFree>;
using LayoutPtr = std::unique_ptr<PangoLayout, GObjectFree>;
using FontDescriptionPtr = std::unique_ptr<PangoFontDescription, FontDescriptionFree>;
using FontMetricsPtr = std::unique_ptr<PangoFontMetrics, FontMetricsFree>;
using TjHandle = std::unique_ptr<void, TjFree>;
using TjBuffer = std::unique_ptr<unsigned char, TjBufferFree>;

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

// A surface over the caller's BGRX buffer: Cairo's RGB24 is exactly that
// layout on little-endian machines, with a stride of width * 4.
SurfacePtr WrapBgrx(uint8_t* bgrx, int width, int height) {
  if (!bgrx || width < 1 || height < 1 || width > kMaxSurfaceSide || height > kMaxSurfaceSide) return nullptr;
  SurfacePtr s(cairo_image_surface_create_for_data(bgrx, CAIRO_FORMAT_RGB24, width, height, width * 4));
  if (cairo_surface_status(s.get()) != CAIRO_STATUS_SUCCESS) return nullptr;
  return s;
}

// Pango's default font map is per thread, and every web or ONVIF connection
// is a thread of its own: one map for the process, used under this lock,
// keeps font loading out of each picture and its caches bounded. Layouts
// must be made, drawn and released while the lock is held.
struct TextFonts {
  std::mutex mutex;
  PangoFontMap* map = nullptr;
};

TextFonts& Fonts() {
  // Never destroyed: detached server threads may draw while the process exits.
  static TextFonts* fonts = [] {
    auto* f = new TextFonts;
    f->map = pango_cairo_font_map_new();
    return f;
  }();
  return *fonts;
}

// Grey-scale anti-aliased text with unhinted outlines, so sizes and positions
// scale exactly with the picture. Call with Fonts().mutex held.
LayoutPtr NewLayout(cairo_t* cr, const char* family, double size_px, bool bold, PangoDirection dir) {
  std::unique_ptr<PangoContext, GObjectFree> context(pango_font_map_create_context(Fonts().map));
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
  pango_font_description_set_family(font.get(), family);
  pango_font_description_set_weight(font.get(), bold ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
  pango_font_description_set_absolute_size(font.get(), size_px * PANGO_SCALE);
  pango_layout_set_font_description(layout.get(), font.get());
  return layout;
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

// Fontconfig stands in an installed family for "Segoe UI", and Pango falls
// back per character to a font that covers Arabic.
constexpr const char* kPictureFamily = "Segoe UI";

void DrawTextBox(cairo_t* cr, const TextBox& t) {
  LayoutPtr layout = NewLayout(cr, kPictureFamily, t.size_px, t.bold, t.dir);
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
void DrawCardLine(cairo_t* cr, const char* text, PangoDirection dir, int cell_height, bool bold, uint32_t rgb,
                  int width, double top) {
  constexpr const char* kCardFamily = "Arial";
  LayoutPtr probe = NewLayout(cr, kCardFamily, cell_height, bold, PANGO_DIRECTION_LTR);
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
  LayoutPtr layout = NewLayout(cr, kCardFamily, em, bold, dir);
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

// ---- area-averaging scaler --------------------------------------------------

// Each destination pixel is the average of the source area it covers, every
// source pixel weighted by the fraction of it inside that area (weights in
// 1/1024, summing to exactly 1024 per destination pixel).
struct AreaTaps {
  std::vector<int> first;  // first source index of destination i
  std::vector<int> start;  // index into weight of destination i's first tap
  std::vector<uint16_t> weight;

  AreaTaps(int src, int dst) : first(dst), start(dst + 1) {
    for (int i = 0; i < dst; ++i) {
      // Destination i covers [lo, hi) in units of 1/dst source pixels.
      const int64_t lo = static_cast<int64_t>(i) * src, hi = lo + src;
      const int64_t j0 = lo / dst, j1 = (hi - 1) / dst;
      first[i] = static_cast<int>(j0);
      start[i] = static_cast<int>(weight.size());
      int64_t covered = 0, given = 0;
      for (int64_t j = j0; j <= j1; ++j) {
        covered += std::min(hi, (j + 1) * dst) - std::max(lo, j * dst);
        const int64_t total = (covered * 1024 + src / 2) / src;
        weight.push_back(static_cast<uint16_t>(total - given));
        given = total;
      }
    }
    start[dst] = static_cast<int>(weight.size());
  }
  int count(int i) const { return start[i + 1] - start[i]; }
};

void ScaleArea(const uint8_t* src, int sw, int sh, uint8_t* dst, int dw, int dh) {
  if (sw == dw && sh == dh) {
    std::memcpy(dst, src, static_cast<size_t>(sw) * sh * 4);
    return;
  }
  const AreaTaps across(sw, dw), down(sh, dh);
  std::vector<uint32_t> row(static_cast<size_t>(dw) * 3), sum(static_cast<size_t>(dw) * 3);
  int row_of = -1;  // source row held in `row`
  for (int y = 0; y < dh; ++y) {
    std::fill(sum.begin(), sum.end(), 0);
    for (int k = 0; k < down.count(y); ++k) {
      const int sy = down.first[y] + k;
      const uint32_t wy = down.weight[down.start[y] + k];
      if (wy == 0) continue;
      if (sy != row_of) {
        const uint8_t* line = src + static_cast<size_t>(sy) * sw * 4;
        for (int x = 0; x < dw; ++x) {
          const uint8_t* p = line + static_cast<size_t>(across.first[x]) * 4;
          const uint16_t* w = &across.weight[across.start[x]];
          uint32_t b = 0, g = 0, r = 0;
          for (int t = 0, n = across.count(x); t < n; ++t, p += 4) {
            b += w[t] * p[0];
            g += w[t] * p[1];
            r += w[t] * p[2];
          }
          row[x * 3] = b;
          row[x * 3 + 1] = g;
          row[x * 3 + 2] = r;
        }
        row_of = sy;
      }
      for (size_t i = 0; i < sum.size(); ++i) sum[i] += wy * row[i];
    }
    uint8_t* out = dst + static_cast<size_t>(y) * dw * 4;
    for (int x = 0; x < dw; ++x) {
      out[x * 4] = static_cast<uint8_t>((sum[x * 3] + (1u << 19)) >> 20);
      out[x * 4 + 1] = static_cast<uint8_t>((sum[x * 3 + 1] + (1u << 19)) >> 20);
      out[x * 4 + 2] = static_cast<uint8_t>((sum[x * 3 + 2] + (1u << 19)) >> 20);
      out[x * 4 + 3] = 0xFF;
    }
  }
}

// ---- screen access ----------------------------------------------------------

// One grabber is kept between snapshots: a display connection and a fresh
// shared-memory segment per picture cost several times the picture itself.
// A caller that finds it busy opens its own for that one picture.
struct SnapshotGrabber {
  std::mutex mutex;
  std::unique_ptr<ScreenGrabber> grabber;  // guarded by mutex
};

// Calls use(pixels, width, height) with the current screen; false when there
// is no display or the copy fails.
template <typename Use>
bool WithScreen(Use use) {
  // Never destroyed: detached server threads may take snapshots while the
  // process exits.
  static SnapshotGrabber* shared = new SnapshotGrabber;
  int w = 0, h = 0;
  if (!PrimaryScreenSize(&w, &h)) return false;  // the size is read afresh for every picture
  std::unique_lock lock(shared->mutex, std::try_to_lock);
  ScreenGrabber own;
  ScreenGrabber* g = &own;
  if (lock.owns_lock()) {
    std::unique_ptr<ScreenGrabber>& kept = shared->grabber;
    if (!kept || kept->width() != w || kept->height() != h) {
      kept.reset();  // the screen changed size: start over at the new one
      auto fresh = std::make_unique<ScreenGrabber>();
      if (!fresh->Open()) return false;
      kept = std::move(fresh);
    }
    g = kept.get();
  } else if (!own.Open()) {
    return false;
  }
  const uint8_t* pixels = g->Grab();
  if (!pixels) return false;
  use(pixels, g->width(), g->height());
  return true;
}

}  // namespace

// ---- public operations ------------------------------------------------------

std::vector<uint8_t> EncodeBgrxJpeg(const uint8_t* bgrx, int width, int height, int quality) {
  if (!bgrx || width < 1 || height < 1 || width > kMaxJpegSide || height > kMaxJpegSide) return {};
  TjHandle tj(tjInitCompress());
  if (!tj) return {};
  unsigned char* raw = nullptr;
  unsigned long size = 0;
  const int rc = tjCompress2(tj.get(), bgrx, width, width * 4, height, TJPF_BGRX, &raw, &size, TJSAMP_420,
                             std::clamp(quality, 1, 100), TJFLAG_FASTDCT);
  TjBuffer jpeg(raw);
  if (rc != 0 || !raw || size == 0) return {};
  try {
    return std::vector<uint8_t>(raw, raw + size);
  } catch (const std::bad_alloc&) {
    return {};
  }
}

void DrawPausedPicture(uint8_t* bgrx, int width, int height) {
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

  SetArgb(cr.get(), 0xFF7FB4FF);
  RoundedRectangle(cr.get(), cx - 17 * s, 0.535 * h, 11 * s, 36 * s, 3 * s);
  RoundedRectangle(cr.get(), cx + 6 * s, 0.535 * h, 11 * s, 36 * s, 3 * s);
  cairo_fill(cr.get());

  const TextBox texts[] = {
      {"البث متوقّف مؤقتًا", 46 * s, true, 0xFFEAF1FF, 0, 0.605 * h, w, PANGO_ALIGN_CENTER, PANGO_DIRECTION_RTL},
      {"Stream paused", 26 * s, false, 0xFFBCD0F2, 0, 0.705 * h, w, PANGO_ALIGN_CENTER, PANGO_DIRECTION_LTR},
      {"سيستأنف البث تلقائيًا عند إعادة التشغيل من لوحة التحكم", 17 * s, false, 0xFF9FB3D8, 0, 0.78 * h, w,
       PANGO_ALIGN_CENTER, PANGO_DIRECTION_RTL},
      {"Lumicast", 18 * s, true, 0xEBEAF1FF, 0.02 * w, 0.03 * h, 0.5 * w, PANGO_ALIGN_LEFT, PANGO_DIRECTION_LTR},
      {"Halvorix  \u2022  halvorix.example", 15 * s, false, 0xCD96AAD2, 0, 0.93 * h, w, PANGO_ALIGN_CENTER,
       PANGO_DIRECTION_LTR},
  };
  {
    std::lock_guard lock(Fonts().mutex);
    for (const TextBox& t : texts) DrawTextBox(cr.get(), t);
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
  std::lock_guard lock(Fonts().mutex);
  // The first line is centred vertically in the whole card.
  if (first > 0) {
    DrawCardLine(cr.get(), "البث متوقّف", PANGO_DIRECTION_RTL, first, true, 0xEBEBEB, width, (height - first) / 2.0);
  }
  if (second > 0) {
    DrawCardLine(cr.get(), "Stream paused - Lumicast", PANGO_DIRECTION_LTR, second, false, 0x96A0AF, width,
                 static_cast<double>(height * 58 / 100));
  }
  cairo_surface_flush(surface.get());
}

void FillPausedPicture(int width, int height, std::vector<uint8_t>& buffer) {
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
  DrawPausedPicture(buffer.data(), width, height);
}

bool SavePausedPng(const std::string& path) {
  constexpr int kWidth = 1280, kHeight = 720;
  std::vector<uint8_t> pixels;
  FillPausedPicture(kWidth, kHeight, pixels);
  SurfacePtr surface = WrapBgrx(pixels.data(), kWidth, kHeight);
  if (!surface) return false;
  return cairo_surface_write_to_png(surface.get(), path.c_str()) == CAIRO_STATUS_SUCCESS;
}

std::vector<uint8_t> CaptureSnapshotJpeg() {
  constexpr int kQuality = 55;
  if (StreamPaused.load()) {
    int w = 0, h = 0;
    if (!PrimaryScreenSize(&w, &h) || w > kMaxSurfaceSide || h > kMaxSurfaceSide) return {};
    std::vector<uint8_t> card;
    try {
      card.resize(static_cast<size_t>(w) * h * 4);
    } catch (const std::bad_alloc&) {
      return {};
    }
    DrawPausedCard(card.data(), w, h);
    return EncodeBgrxJpeg(card.data(), w, h, kQuality);
  }
  std::vector<uint8_t> jpeg;
  WithScreen([&](const uint8_t* screen, int w, int h) { jpeg = EncodeBgrxJpeg(screen, w, h, kQuality); });
  return jpeg;
}

bool EncodeScreenJpeg(int width, int height, std::vector<uint8_t>& out) {
  constexpr int kQuality = 80;
  out.clear();
  if (width < 1 || height < 1 || width > kMaxJpegSide || height > kMaxJpegSide) return false;
  WithScreen([&](const uint8_t* screen, int w, int h) {
    if (w == width && h == height) {
      out = EncodeBgrxJpeg(screen, width, height, kQuality);
      return;
    }
    try {
      std::vector<uint8_t> scaled(static_cast<size_t>(width) * height * 4);
      ScaleArea(screen, w, h, scaled.data(), width, height);
      out = EncodeBgrxJpeg(scaled.data(), width, height, kQuality);
    } catch (const std::bad_alloc&) {
      out.clear();
    }
  });
  return !out.empty();
}

}  // namespace lcx
