// Scaling: the nearest-neighbour sampling grid, and the area average's
// exact weights on pictures whose right answer is known.
#include "video/scale.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace lcx {
namespace {

TEST(ScaleNearest, SamplesFloorOfScaledCoordinates) {
  const int sw = 1920, sh = 6, dw = 1280, dh = 4;
  std::vector<uint32_t> src(sw * sh);
  for (int y = 0; y < sh; ++y)
    for (int x = 0; x < sw; ++x) src[y * sw + x] = static_cast<uint32_t>(y << 16 | x);
  std::vector<uint32_t> dst(dw * dh);
  ScaleNearest(reinterpret_cast<const uint8_t*>(src.data()), sw, sh,
               reinterpret_cast<uint8_t*>(dst.data()), dw, dh);
  EXPECT_EQ(dst[0], 0u);
  EXPECT_EQ(dst[1], 1u);
  EXPECT_EQ(dst[2], 3u);
  EXPECT_EQ(dst[3], 4u);
  EXPECT_EQ(dst[4], 6u);
  for (int y = 0; y < dh; ++y) {
    for (int x = 0; x < dw; ++x) {
      const uint32_t want = static_cast<uint32_t>((y * sh / dh) << 16 | (x * sw / dw));
      ASSERT_EQ(dst[y * dw + x], want) << "at " << x << "," << y;
    }
  }
}

TEST(ScaleNearest, OddRatiosAndZeroHeight) {
  // Very wide pictures take the path without a column table.
  {
    const int wide = 9001;
    std::vector<uint32_t> src(wide), dst(wide - 1);
    for (int i = 0; i < wide; ++i) src[i] = static_cast<uint32_t>(i);
    ScaleNearest(reinterpret_cast<const uint8_t*>(src.data()), wide, 1,
                 reinterpret_cast<uint8_t*>(dst.data()), wide - 1, 1);
    for (int x = 0; x < wide - 1; ++x)
      ASSERT_EQ(dst[x], static_cast<uint32_t>(int64_t{x} * wide / (wide - 1)));
  }
  const int sw = 1366, sh = 3, dw = 640, dh = 2;
  std::vector<uint32_t> src(sw * sh);
  for (int i = 0; i < sw * sh; ++i) src[i] = static_cast<uint32_t>(i);
  std::vector<uint32_t> dst(dw * dh, 0xDEADBEEF);
  ScaleNearest(reinterpret_cast<const uint8_t*>(src.data()), sw, sh,
               reinterpret_cast<uint8_t*>(dst.data()), dw, 0);
  EXPECT_EQ(dst[0], 0xDEADBEEFu);
  ScaleNearest(reinterpret_cast<const uint8_t*>(src.data()), sw, sh,
               reinterpret_cast<uint8_t*>(dst.data()), dw, dh);
  for (int y = 0; y < dh; ++y)
    for (int x = 0; x < dw; ++x)
      ASSERT_EQ(dst[y * dw + x], static_cast<uint32_t>((y * sh / dh) * sw + (int64_t{x} * sw / dw)));
}

// BGRX pixels as 0xXXRRGGBB words.
std::vector<uint32_t> Area(const std::vector<uint32_t>& src, int sw, int sh, int dw, int dh) {
  std::vector<uint32_t> dst(static_cast<size_t>(dw) * dh, 0xDEADBEEF);
  ScaleArea(reinterpret_cast<const uint8_t*>(src.data()), sw, sh, reinterpret_cast<uint8_t*>(dst.data()), dw, dh);
  return dst;
}

TEST(ScaleArea, SolidPicturesStaySolid) {
  struct Case {
    const char* name;
    int sw, sh, dw, dh;
  } cases[] = {
      {"halving", 8, 4, 4, 2},
      {"1920 to 1280: areas straddle pixels", 1920, 3, 1280, 2},
      {"odd ratio across and down", 1366, 7, 401, 3},
      {"everything into one pixel", 9, 5, 1, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // Weights that do not sum to exactly one show at the channels' ends as
    // 254 or 0; the unused byte comes out opaque.
    for (uint32_t colour : {0x00FFFFFFu, 0x00010203u, 0x00FF0080u}) {
      const std::vector<uint32_t> solid(static_cast<size_t>(c.sw) * c.sh, colour);
      for (uint32_t px : Area(solid, c.sw, c.sh, c.dw, c.dh)) ASSERT_EQ(px, 0xFF000000u | colour);
    }
  }
}

TEST(ScaleArea, AlternatingColumnsAverageToGrey) {
  // One-pixel black and white columns: picking or dropping pixels gives 0 or
  // 255; every area about two pixels wide holds as much black as white.
  for (auto [sw, dw] : {std::pair{8, 4}, std::pair{1921, 960}, std::pair{1366, 683}}) {
    SCOPED_TRACE(std::to_string(sw) + " to " + std::to_string(dw));
    std::vector<uint32_t> stripes(static_cast<size_t>(sw) * 2);
    for (size_t i = 0; i < stripes.size(); ++i) stripes[i] = (i % sw) % 2 ? 0x00FFFFFFu : 0;
    for (uint32_t px : Area(stripes, sw, 2, dw, 1)) ASSERT_NEAR(static_cast<int>(px & 0xFF), 128, 1);
  }
}

TEST(ScaleArea, WeightsFollowTheCoveredFraction) {
  // 3 columns to 2: the left result covers column 0 and half of column 1.
  const std::vector<uint32_t> src = {0x00000000, 0x00000090, 0x000000F0};
  const std::vector<uint32_t> dst = Area(src, 3, 1, 2, 1);
  EXPECT_EQ(dst[0] & 0xFF, 0x30u);  // (0 + 0x90 / 2) / 1.5
  EXPECT_EQ(dst[1] & 0xFF, 0xD0u);  // (0x90 / 2 + 0xF0) / 1.5
  // Equal sizes copy unchanged, the unused byte too; no rows, nothing written.
  EXPECT_EQ(Area(src, 3, 1, 3, 1), src);
  std::vector<uint32_t> untouched(2, 0xDEADBEEF);
  ScaleArea(reinterpret_cast<const uint8_t*>(src.data()), 3, 1, reinterpret_cast<uint8_t*>(untouched.data()), 2, 0);
  EXPECT_EQ(untouched[0], 0xDEADBEEFu);
}

}  // namespace
}  // namespace lcx
