// Down-scaling of BGRX pictures. The nearest-neighbour path runs for every
// produced frame and allocates nothing; the area average runs once per ONVIF
// snapshot and sizes its tables per call.
#include "video/scale.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace lcx {

void ScaleNearest(const uint8_t* src, int src_width, int src_height, uint8_t* dst,
                  int dst_width, int dst_height) {
  if (dst_height < 1 || dst_width < 1) return;
  const auto* in = reinterpret_cast<const uint32_t*>(src);
  auto* out = reinterpret_cast<uint32_t*>(dst);
  // Source column of every destination column, floor(x * sw / dw), stepped
  // exactly (whole part and remainder of sw / dw) once per call into a
  // table on the stack: the row loop is then a plain indexed copy.
  constexpr int kMaxTable = 8192;
  uint32_t columns[kMaxTable];
  const int table = dst_width <= kMaxTable ? dst_width : 0;
  const int step = src_width / dst_width;
  const int rem = src_width % dst_width;
  {
    int sx = 0, acc = 0;
    for (int x = 0; x < table; ++x) {
      columns[x] = static_cast<uint32_t>(sx);
      sx += step;
      acc += rem;
      if (acc >= dst_width) acc -= dst_width, ++sx;
    }
  }
  for (int y = 0; y < dst_height; ++y) {
    const int64_t sy = static_cast<int64_t>(y) * src_height / dst_height;
    const uint32_t* row = in + sy * src_width;
    uint32_t* o = out + static_cast<int64_t>(y) * dst_width;
    if (table) {
      for (int x = 0; x < dst_width; ++x) o[x] = row[columns[x]];
      continue;
    }
    int sx = 0, acc = 0;
    for (int x = 0; x < dst_width; ++x) {
      o[x] = row[sx];
      sx += step;
      acc += rem;
      if (acc >= dst_width) acc -= dst_width, ++sx;
    }
  }
}

namespace {

// Source taps of every destination pixel along one axis, each source pixel
// weighted by its part inside the destination's area in 1/1024, rounded on
// the running total so that the weights sum to exactly 1024.
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

}  // namespace

void ScaleArea(const uint8_t* src, int sw, int sh, uint8_t* dst, int dw, int dh) {
  if (sw < 1 || sh < 1 || dw < 1 || dh < 1) return;
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

}  // namespace lcx
