// Helpers of the still-picture tests: pixels of BGRX buffers, an
// independent JPEG decoder (libjpeg-turbo's) and the bounding box of "ink".
#pragma once

#include <turbojpeg.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace lcx::testing_pictures {

struct Rgb {
  int r, g, b;
};

inline Rgb PixelAt(const std::vector<uint8_t>& bgrx, int width, int x, int y) {
  const uint8_t* p = &bgrx[(static_cast<size_t>(y) * width + x) * 4];
  return {p[2], p[1], p[0]};
}

inline bool Near(Rgb a, Rgb b, int tolerance) {
  return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance && std::abs(a.b - b.b) <= tolerance;
}

inline std::string Show(Rgb c) {
  return "(" + std::to_string(c.r) + ", " + std::to_string(c.g) + ", " + std::to_string(c.b) + ")";
}

struct Decoded {
  int width = 0, height = 0;
  std::vector<uint8_t> bgrx;
};

// Decodes with libjpeg-turbo independently of the encoder under test.
inline Decoded DecodeJpeg(const std::vector<uint8_t>& jpeg) {
  Decoded d;
  std::unique_ptr<void, int (*)(tjhandle)> tj(tjInitDecompress(), &tjDestroy);
  int subsampling = 0, colorspace = 0;
  if (jpeg.empty() || tjDecompressHeader3(tj.get(), jpeg.data(), jpeg.size(), &d.width, &d.height, &subsampling,
                                          &colorspace) != 0) {
    return {};
  }
  d.bgrx.resize(static_cast<size_t>(d.width) * d.height * 4);
  if (tjDecompress2(tj.get(), jpeg.data(), jpeg.size(), d.bgrx.data(), d.width, 0, d.height, TJPF_BGRX, 0) != 0) {
    return {};
  }
  return d;
}

// Rows [first, last] and columns [left, right] of the pixels in rows
// [y0, y1) that `is_ink` accepts.
struct Ink {
  int first = -1, last = -1, left = -1, right = -1;
};
template <typename Pred>
Ink FindInk(const std::vector<uint8_t>& bgrx, int width, int y0, int y1, Pred is_ink) {
  Ink ink;
  for (int y = y0; y < y1; ++y) {
    for (int x = 0; x < width; ++x) {
      if (!is_ink(PixelAt(bgrx, width, x, y))) continue;
      if (ink.first < 0) ink.first = y;
      ink.last = y;
      if (ink.left < 0 || x < ink.left) ink.left = x;
      ink.right = std::max(ink.right, x);
    }
  }
  return ink;
}
inline auto RedAtLeast(int min_red) {
  return [min_red](Rgb c) { return c.r >= min_red; };
}

// The pause bars' colour.
constexpr Rgb kBarColour{0x7F, 0xB4, 0xFF};

}  // namespace lcx::testing_pictures
