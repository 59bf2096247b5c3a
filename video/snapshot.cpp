// Still pictures: JPEG snapshots of the screen (turbojpeg) and the paused
// picture and card drawn with Cairo and Pango straight into BGRX buffers
// (Cairo's RGB24 layout on little-endian is B, G, R, unused). Every call
// draws on its own surfaces; the decoded logo is shared read-only.
#include "video/snapshot.h"

#include <cairo.h>
#include <pango/pangocairo.h>
#include <turbojpeg.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>

#include "resources/logo.h"
#include "video/screen_grabber.h"
#include "video/stream_producer.h"

namespace lcx {

namespace {

// "Segoe UI" first; fontconfig has no such face here, so the list names the
// installed faces that cover Latin and Arabic.
constexpr const char* kFontFamily = "Segoe UI,Noto Sans,Noto Sans Arabic,DejaVu Sans";
constexpr const char* kMakerLine = "Halvorix  \u2022  www.halvorix.com";

struct Logo {
  cairo_surface_t* surface = nullptr;  // null: no logo, drawing skips it
  int width = 0;
  int height = 0;
  std::mutex paint_mutex;  // one painter at a time on the shared surface
};

struct PngReader {
  const uint8_t* data;
  size_t size;
  size_t pos;
};

cairo_status_t ReadPng(void* closure, unsigned char* out, unsigned int length) {
  auto* r = static_cast<PngReader*>(closure);
  if (r->size - r->pos < length) return CAIRO_STATUS_READ_ERROR;
  std::memcpy(out, r->data + r->pos, length);
  r->pos += length;
  return CAIRO_STATUS_SUCCESS;
}

Logo& SharedLogo() {
  static Logo logo;
  static std::once_flag once;
  std::call_once(once, [] {
    const auto png = LogoPng();
    PngReader reader{png.data(), png.size(), 0};
    cairo_surface_t* s = cairo_image_surface_create_from_png_stream(ReadPng, &reader);
    if (cairo_surface_status(s) == CAIRO_STATUS_SUCCESS && cairo_image_surface_get_width(s) > 0) {
      logo.surface = s;
      logo.width = cairo_image_surface_get_width(s);
      logo.height = cairo_image_surface_get_height(s);
    } else {
      cairo_surface_destroy(s);
    }
  });
  return logo;
}

struct CairoCanvas {
  cairo_surface_t* surface;
  cairo_t* cr;
  CairoCanvas(uint8_t* bgrx, int width, int height)
      : surface(cairo_image_surface_create_for_data(bgrx, CAIRO_FORMAT_RGB24, width, height,
                                                    width * 4)),
        cr(cairo_create(surface)) {}
  ~CairoCanvas() {
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    cairo_surface_destroy(surface);
  }
  CairoCanvas(const CairoCanvas&) = delete;
  CairoCanvas& operator=(const CairoCanvas&) = delete;
};

void SetArgb(cairo_t* cr, uint32_t argb) {
  cairo_set_source_rgba(cr, ((argb >> 16) & 255) / 255.0, ((argb >> 8) & 255) / 255.0,
                        (argb & 255) / 255.0, (argb >> 24) / 255.0);
}

void AddStop(cairo_pattern_t* p, double offset, uint32_t argb) {
  cairo_pattern_add_color_stop_rgba(p, offset, ((argb >> 16) & 255) / 255.0,
                                    ((argb >> 8) & 255) / 255.0, (argb & 255) / 255.0,
                                    (argb >> 24) / 255.0);
}

enum class Align { kCentre, kLeft };

// One line of text in a layout box whose top is y; Pango shapes Arabic and
// lays it out right to left from the text itself.
void DrawText(cairo_t* cr, const char* text, const char* family, double size_px, bool bold,
              uint32_t argb, double x, double y, double width, Align align) {
  PangoLayout* layout = pango_cairo_create_layout(cr);
  PangoFontDescription* font = pango_font_description_from_string(family);
  pango_font_description_set_absolute_size(font, size_px * PANGO_SCALE);
  pango_font_description_set_weight(font, bold ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
  pango_layout_set_font_description(layout, font);
  pango_layout_set_text(layout, text, -1);
  pango_layout_set_width(layout, static_cast<int>(width * PANGO_SCALE));
  pango_layout_set_alignment(layout, align == Align::kCentre ? PANGO_ALIGN_CENTER : PANGO_ALIGN_LEFT);
  SetArgb(cr, argb);
  cairo_move_to(cr, x, y);
  pango_cairo_show_layout(cr, layout);
  pango_font_description_free(font);
  g_object_unref(layout);
}

void RoundedRect(cairo_t* cr, double x, double y, double w, double h, double r) {
  cairo_new_sub_path(cr);
  cairo_arc(cr, x + r, y + r, r, M_PI, 1.5 * M_PI);
  cairo_arc(cr, x + w - r, y + r, r, 1.5 * M_PI, 2 * M_PI);
  cairo_arc(cr, x + w - r, y + h - r, r, 0, 0.5 * M_PI);
  cairo_arc(cr, x + r, y + h - r, r, 0.5 * M_PI, M_PI);
  cairo_close_path(cr);
}

// Box (area) average down-scale; each destination pixel averages the source
// pixels its footprint covers (at least one).
void ScaleAverage(const uint8_t* src, int sw, int sh, uint8_t* dst, int dw, int dh) {
  for (int y = 0; y < dh; ++y) {
    const int y0 = static_cast<int>(int64_t{y} * sh / dh);
    const int y1 = std::max(y0 + 1, static_cast<int>(int64_t{y + 1} * sh / dh));
    for (int x = 0; x < dw; ++x) {
      const int x0 = static_cast<int>(int64_t{x} * sw / dw);
      const int x1 = std::max(x0 + 1, static_cast<int>(int64_t{x + 1} * sw / dw));
      uint32_t b = 0, g = 0, r = 0;
      for (int sy = y0; sy < y1; ++sy) {
        const uint8_t* p = src + (int64_t{sy} * sw + x0) * 4;
        for (int sx = x0; sx < x1; ++sx, p += 4) {
          b += p[0];
          g += p[1];
          r += p[2];
        }
      }
      const uint32_t n = static_cast<uint32_t>((y1 - y0) * (x1 - x0));
      uint8_t* o = dst + (int64_t{y} * dw + x) * 4;
      o[0] = static_cast<uint8_t>((b + n / 2) / n);
      o[1] = static_cast<uint8_t>((g + n / 2) / n);
      o[2] = static_cast<uint8_t>((r + n / 2) / n);
      o[3] = 0;
    }
  }
}

}  // namespace

std::vector<uint8_t> EncodeBgrxJpeg(const uint8_t* bgrx, int width, int height, int quality) {
  std::vector<uint8_t> out;
  if (width < 1 || height < 1) return out;
  tjhandle tj = tjInitCompress();
  if (!tj) return out;
  unsigned char* jpeg = nullptr;
  unsigned long size = 0;
  if (tjCompress2(tj, bgrx, width, width * 4, height, TJPF_BGRX, &jpeg, &size, TJSAMP_420, quality,
                  0) == 0 &&
      jpeg && size > 0) {
    out.assign(jpeg, jpeg + size);
  }
  tjFree(jpeg);
  tjDestroy(tj);
  return out;
}

void DrawPausedPicture(uint8_t* bgrx, int width, int height) {
  if (width < 1 || height < 1) return;
  const double W = width, H = height, s = H / 720.0, cx = W * 0.5;
  CairoCanvas c(bgrx, width, height);
  cairo_t* cr = c.cr;
  cairo_set_antialias(cr, CAIRO_ANTIALIAS_GOOD);

  cairo_pattern_t* bg = cairo_pattern_create_linear(0, 0, W, H);
  AddStop(bg, 0, 0xFF0A1430);
  AddStop(bg, 1, 0xFF08243A);
  cairo_set_source(cr, bg);
  cairo_rectangle(cr, 0, 0, W, H);
  cairo_fill(cr);
  cairo_pattern_destroy(bg);

  // Glow: an elliptical gradient, a unit-circle radial pattern scaled to
  // the ellipse (centre (cx, 0.4H), half-axes 0.45W and 0.5H).
  cairo_save(cr);
  cairo_translate(cr, cx, 0.4 * H);
  cairo_scale(cr, 0.45 * W, 0.5 * H);
  cairo_pattern_t* glow = cairo_pattern_create_radial(0, 0, 0, 0, 0, 1);
  AddStop(glow, 0, 0x5F2B78FF);
  AddStop(glow, 1, 0x002B78FF);
  cairo_set_source(cr, glow);
  cairo_arc(cr, 0, 0, 1, 0, 2 * M_PI);
  cairo_fill(cr);
  cairo_pattern_destroy(glow);
  cairo_restore(cr);

  Logo& logo = SharedLogo();
  if (logo.surface) {
    const double lw = 300 * s, lh = 300 * s * logo.height / logo.width;
    std::lock_guard lock(logo.paint_mutex);
    cairo_save(cr);
    cairo_translate(cr, cx - 150 * s, 0.14 * H);
    cairo_scale(cr, lw / logo.width, lh / logo.height);
    cairo_set_source_surface(cr, logo.surface, 0, 0);
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_BEST);
    cairo_rectangle(cr, 0, 0, logo.width, logo.height);
    cairo_fill(cr);
    cairo_restore(cr);
  }

  SetArgb(cr, 0xFF7FB4FF);
  RoundedRect(cr, cx - 17 * s, 0.535 * H, 11 * s, 36 * s, 3 * s);
  RoundedRect(cr, cx + 6 * s, 0.535 * H, 11 * s, 36 * s, 3 * s);
  cairo_fill(cr);

  DrawText(cr, "البث متوقّف مؤقتًا", kFontFamily, 46 * s, true, 0xFFEAF1FF, 0, 0.605 * H, W,
           Align::kCentre);
  DrawText(cr, "Stream paused", kFontFamily, 26 * s, false, 0xFFBCD0F2, 0, 0.705 * H, W,
           Align::kCentre);
  DrawText(cr, "سيستأنف البث تلقائيًا عند إعادة التشغيل من لوحة التحكم", kFontFamily, 17 * s,
           false, 0xFF9FB3D8, 0, 0.78 * H, W, Align::kCentre);
  DrawText(cr, "Lumicast", kFontFamily, 18 * s, true, 0xEBEAF1FF, 0.02 * W, 0.03 * H, 0.5 * W,
           Align::kLeft);
  DrawText(cr, kMakerLine, kFontFamily, 15 * s, false, 0xCD96AAD2, 0, 0.93 * H, W,
           Align::kCentre);
}

void DrawPausedCard(uint8_t* bgrx, int width, int height) {
  if (width < 1 || height < 1) return;
  CairoCanvas c(bgrx, width, height);
  cairo_t* cr = c.cr;
  cairo_set_source_rgb(cr, 15 / 255.0, 15 / 255.0, 20 / 255.0);
  cairo_paint(cr);
  const char* arial = "Arial,Noto Sans,Noto Sans Arabic,DejaVu Sans";
  // First line centred on the whole picture both ways.
  {
    PangoLayout* layout = pango_cairo_create_layout(cr);
    PangoFontDescription* font = pango_font_description_from_string(arial);
    pango_font_description_set_absolute_size(font, (height / 12) * PANGO_SCALE);
    pango_font_description_set_weight(font, PANGO_WEIGHT_BOLD);
    pango_layout_set_font_description(layout, font);
    pango_layout_set_text(layout, "البث متوقّف", -1);
    pango_layout_set_width(layout, width * PANGO_SCALE);
    pango_layout_set_alignment(layout, PANGO_ALIGN_CENTER);
    int lw = 0, lh = 0;
    pango_layout_get_pixel_size(layout, &lw, &lh);
    cairo_set_source_rgb(cr, 235 / 255.0, 235 / 255.0, 235 / 255.0);
    cairo_move_to(cr, 0, (height - lh) / 2.0);
    pango_cairo_show_layout(cr, layout);
    pango_font_description_free(font);
    g_object_unref(layout);
  }
  DrawText(cr, "Stream paused - Lumicast", arial, height / 22, false, 0xFF96A0AF, 0,
           static_cast<double>(height * 58 / 100), width, Align::kCentre);
}

void FillPausedPicture(int width, int height, std::vector<uint8_t>& buffer) {
  if (width < 1 || height < 1) {
    buffer.clear();
    return;
  }
  buffer.assign(static_cast<size_t>(width) * height * 4, 0);
  DrawPausedPicture(buffer.data(), width, height);
}

bool SavePausedPng(const std::string& path) {
  const int w = 1280, h = 720;
  std::vector<uint8_t> px;
  FillPausedPicture(w, h, px);
  cairo_surface_t* surface =
      cairo_image_surface_create_for_data(px.data(), CAIRO_FORMAT_RGB24, w, h, w * 4);
  const bool ok = cairo_surface_write_to_png(surface, path.c_str()) == CAIRO_STATUS_SUCCESS;
  cairo_surface_destroy(surface);
  return ok;
}

std::vector<uint8_t> CaptureSnapshotJpeg() {
  if (StreamPaused.load()) {
    int w = 0, h = 0;
    if (!PrimaryScreenSize(&w, &h) || w < 1 || h < 1) return {};
    std::vector<uint8_t> px(static_cast<size_t>(w) * h * 4, 0);
    DrawPausedCard(px.data(), w, h);
    return EncodeBgrxJpeg(px.data(), w, h, 55);
  }
  ScreenGrabber grabber;
  if (!grabber.Open()) return {};
  const uint8_t* px = grabber.Grab();
  if (!px) return {};
  return EncodeBgrxJpeg(px, grabber.width(), grabber.height(), 55);
}

bool EncodeScreenJpeg(int width, int height, std::vector<uint8_t>& out) {
  out.clear();
  if (width < 1 || height < 1) return false;
  ScreenGrabber grabber;
  if (!grabber.Open()) return false;
  const uint8_t* px = grabber.Grab();
  if (!px) return false;
  std::vector<uint8_t> scaled(static_cast<size_t>(width) * height * 4);
  ScaleAverage(px, grabber.width(), grabber.height(), scaled.data(), width, height);
  out = EncodeBgrxJpeg(scaled.data(), width, height, 80);
  return !out.empty();
}

}  // namespace lcx
