// Owning handles for the Cairo and Pango objects the still pictures use, and
// a Cairo surface over a caller's BGRX buffer. Each handle frees its object
// exactly once; none is shared between threads.
#pragma once

#include <cairo.h>
#include <pango/pangocairo.h>

#include <cstdint>
#include <memory>

namespace lcx {

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
using SurfacePtr = std::unique_ptr<cairo_surface_t, SurfaceFree>;
using CairoPtr = std::unique_ptr<cairo_t, CairoFree>;
using PatternPtr = std::unique_ptr<cairo_pattern_t, PatternFree>;
using FontOptionsPtr = std::unique_ptr<cairo_font_options_t, FontOptionsFree>;
using PangoContextPtr = std::unique_ptr<PangoContext, GObjectFree>;
using LayoutPtr = std::unique_ptr<PangoLayout, GObjectFree>;
using FontDescriptionPtr = std::unique_ptr<PangoFontDescription, FontDescriptionFree>;
using FontMetricsPtr = std::unique_ptr<PangoFontMetrics, FontMetricsFree>;

// Cairo's limit on image surfaces.
constexpr int kMaxSurfaceSide = 32767;

// A surface over the caller's BGRX buffer: Cairo's RGB24 is exactly that
// layout on little-endian machines, with a stride of width * 4. Null for a
// missing buffer or a size Cairo cannot draw at.
inline SurfacePtr WrapBgrx(uint8_t* bgrx, int width, int height) {
  if (!bgrx || width < 1 || height < 1 || width > kMaxSurfaceSide || height > kMaxSurfaceSide) return nullptr;
  SurfacePtr s(cairo_image_surface_create_for_data(bgrx, CAIRO_FORMAT_RGB24, width, height, width * 4));
  if (cairo_surface_status(s.get()) != CAIRO_STATUS_SUCCESS) return nullptr;
  return s;
}

}  // namespace lcx
