// Conversion: the fixed colour results and every vector path bit-exact
// against the plain loop.
#include "video/convert.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace lcx {
namespace {

struct I420 {
  std::vector<uint8_t> y, u, v;
  I420(int w, int h) : y(w * h), u(w / 2 * (h / 2)), v(w / 2 * (h / 2)) {}
};

std::vector<uint8_t> Solid(int w, int h, uint8_t b, uint8_t g, uint8_t r) {
  std::vector<uint8_t> px(w * h * 4);
  for (int i = 0; i < w * h; ++i) {
    px[i * 4] = b;
    px[i * 4 + 1] = g;
    px[i * 4 + 2] = r;
    px[i * 4 + 3] = 0xA5;  // the unused byte must not leak into any plane
  }
  return px;
}

const ConvertPath kPaths[] = {ConvertPath::kReference, ConvertPath::kSse2, ConvertPath::kAvx2};

TEST(ConvertBgraToI420, FixedColours) {
  struct Case {
    const char* name;
    uint8_t b, g, r, y, u, v;
  } cases[] = {
      {"black", 0, 0, 0, 16, 128, 128},
      {"white", 255, 255, 255, 235, 128, 128},
      {"mid grey", 128, 128, 128, 126, 128, 128},
      {"red: U truncates toward zero (a shift gives 90)", 0, 0, 255, 82, 91, 240},
      {"green", 0, 255, 0, 144, 55, 35},
      {"blue: V truncates toward zero (a shift gives 110)", 255, 0, 0, 41, 240, 111},
  };
  // 40 x 2 covers one AVX2 step, one SSE2 step and a scalar tail.
  const int w = 40, h = 2;
  for (const Case& c : cases) {
    const auto px = Solid(w, h, c.b, c.g, c.r);
    for (ConvertPath path : kPaths) {
      SCOPED_TRACE(testing::Message() << c.name << " path " << static_cast<int>(path));
      I420 out(w, h);
      if (!ConvertBgraToI420With(path, px.data(), w, w, h, out.y.data(), out.u.data(),
                                 out.v.data())) {
        continue;  // CPU without this unit
      }
      for (uint8_t s : out.y) ASSERT_EQ(s, c.y);
      for (uint8_t s : out.u) ASSERT_EQ(s, c.u);
      for (uint8_t s : out.v) ASSERT_EQ(s, c.v);
    }
  }
}

TEST(ConvertBgraToI420, VectorPathsMatchReferenceOnRandomPictures) {
  std::mt19937 rng(1234);
  struct Size {
    int w, h, stride;
  } sizes[] = {{2, 2, 2},      {30, 4, 31},     {32, 2, 32},    {34, 6, 35},
               {1364, 766, 1365}, {640, 360, 640}, {98, 14, 131}, {1920, 8, 1920}};
  for (const Size& s : sizes) {
    // Pixels beyond width in each row and the odd last row are random too:
    // reading them would show up as a difference.
    const int rows = s.h + 1;
    std::vector<uint8_t> px(static_cast<size_t>(s.stride) * rows * 4);
    for (auto& b : px) b = static_cast<uint8_t>(rng());
    I420 ref(s.w, s.h);
    ConvertBgraToI420Reference(px.data(), s.stride, s.w, s.h, ref.y.data(), ref.u.data(),
                               ref.v.data());
    for (ConvertPath path : {ConvertPath::kSse2, ConvertPath::kAvx2}) {
      SCOPED_TRACE(testing::Message() << s.w << "x" << s.h << " stride " << s.stride << " path "
                                      << static_cast<int>(path));
      I420 out(s.w, s.h);
      if (!ConvertBgraToI420With(path, px.data(), s.stride, s.w, s.h, out.y.data(),
                                 out.u.data(), out.v.data())) {
        continue;
      }
      EXPECT_EQ(out.y, ref.y);
      EXPECT_EQ(out.u, ref.u);
      EXPECT_EQ(out.v, ref.v);
    }
    I420 dispatched(s.w, s.h);
    ConvertBgraToI420(px.data(), s.stride, s.w, s.h, dispatched.y.data(), dispatched.u.data(),
                      dispatched.v.data());
    EXPECT_EQ(dispatched.u, ref.u);
  }
}

TEST(ConvertBgraToI420, ChromaAveragesEachTwoByTwoBlock) {
  // Left block: red and blue mixed; right block: white. Means round down.
  const int w = 4, h = 2;
  std::vector<uint8_t> px(w * h * 4, 0);
  auto set = [&](int x, int y, uint8_t b, uint8_t g, uint8_t r) {
    uint8_t* p = &px[(y * w + x) * 4];
    p[0] = b, p[1] = g, p[2] = r;
  };
  set(0, 0, 0, 0, 255);
  set(1, 0, 255, 0, 0);
  set(0, 1, 0, 0, 255);
  set(1, 1, 255, 0, 1);  // R sum 511 -> mean 127
  for (int x = 2; x < 4; ++x)
    for (int y = 0; y < 2; ++y) set(x, y, 255, 255, 255);
  I420 out(w, h);
  ConvertBgraToI420(px.data(), w, w, h, out.y.data(), out.u.data(), out.v.data());
  // Bm 127, Gm 0, Rm 127: U t = 112*127 - 38*127 + 128 = 9526 -> 37 + 128.
  EXPECT_EQ(out.u[0], 165);
  EXPECT_EQ(out.v[0], (112 * 127 - 18 * 127 + 128) / 256 + 128);
  EXPECT_EQ(out.u[1], 128);
  EXPECT_EQ(out.v[1], 128);
}

}  // namespace
}  // namespace lcx
