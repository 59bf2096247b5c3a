// JPEG and PNG writers. TurboJPEG's compressor and output buffer are owned
// by handles that free them on every path.
#include "video/image_codec.h"

#include <turbojpeg.h>

#include <algorithm>
#include <memory>
#include <new>

#include "video/cairo_handles.h"

namespace lcx {
namespace {

struct TjFree {
  void operator()(void* h) const { tjDestroy(h); }
};
struct TjBufferFree {
  void operator()(unsigned char* b) const { tjFree(b); }
};
using TjHandle = std::unique_ptr<void, TjFree>;
using TjBuffer = std::unique_ptr<unsigned char, TjBufferFree>;

}  // namespace

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

bool WriteBgrxPng(const uint8_t* bgrx, int width, int height, const std::string& path) {
  // Cairo only reads the pixels to write them.
  SurfacePtr surface = WrapBgrx(const_cast<uint8_t*>(bgrx), width, height);
  if (!surface) return false;
  return cairo_surface_write_to_png(surface.get(), path.c_str()) == CAIRO_STATUS_SUCCESS;
}

}  // namespace lcx
