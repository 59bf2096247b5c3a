// The JPEG writer, checked by an independent decoder.
#include "video/image_codec.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "video/picture_testing.h"

namespace lcx {
namespace {

using namespace testing_pictures;

TEST(StillJpeg, EncodesBgrxAtItsSizeAndRejectsBadInput) {
  struct Case {
    int width, height;
  };
  for (const Case& c : {Case{1, 1}, Case{17, 9}, Case{640, 360}}) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
    std::vector<uint8_t> px(static_cast<size_t>(c.width) * c.height * 4);
    for (size_t i = 0; i < px.size(); i += 4) {
      px[i] = 200;  // B
      px[i + 1] = 100;
      px[i + 2] = 30;  // R
    }
    const Decoded d = DecodeJpeg(EncodeBgrxJpeg(px.data(), c.width, c.height, 80));
    ASSERT_EQ(d.width, c.width);
    ASSERT_EQ(d.height, c.height);
    EXPECT_TRUE(Near(PixelAt(d.bgrx, d.width, c.width / 2, c.height / 2), {30, 100, 200}, 4));
  }

  // The quality setting reaches the encoder: a busy picture shrinks at 55.
  const int w = 320, h = 240;
  std::vector<uint8_t> noise(static_cast<size_t>(w) * h * 4);
  uint32_t seed = 12345;
  for (uint8_t& b : noise) b = static_cast<uint8_t>((seed = seed * 1103515245u + 12345u) >> 24);
  EXPECT_LT(EncodeBgrxJpeg(noise.data(), w, h, 55).size(), EncodeBgrxJpeg(noise.data(), w, h, 80).size());

  EXPECT_TRUE(EncodeBgrxJpeg(nullptr, 8, 8, 80).empty());
  EXPECT_TRUE(EncodeBgrxJpeg(noise.data(), 0, 8, 80).empty());
  EXPECT_TRUE(EncodeBgrxJpeg(noise.data(), 8, -1, 80).empty());
}

}  // namespace
}  // namespace lcx
