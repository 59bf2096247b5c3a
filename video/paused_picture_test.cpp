// The paused picture and the paused card, found pixel by pixel at the
// places and in the colours they are designed with.
#include "video/paused_picture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "video/picture_testing.h"

namespace lcx {
namespace {

using namespace testing_pictures;

TEST(PausedPicture, PauseBarsSitAtTheirPixelsAtEveryScale) {
  struct Case {
    int width, height;
    int left_bar_x, right_bar_x, bar_width;  // whole pixel columns at this scale
    int top_row, bottom_row;                 // first and last rows the bars cover fully
  };
  // At 1280 x 720 the bars are 11 x 36 at x = 623 and 646 from y = 385.2.
  const Case cases[] = {
      {1280, 720, 623, 646, 11, 386, 420},
      {2560, 1440, 1246, 1292, 22, 771, 841},  // 0.535 * 1440 = 770.4, 72 high
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
    std::vector<uint8_t> px;
    FillPausedPicture(c.width, c.height, px);
    ASSERT_EQ(px.size(), static_cast<size_t>(c.width) * c.height * 4);
    const int mid = (c.top_row + c.bottom_row) / 2;
    for (int bar_x : {c.left_bar_x, c.right_bar_x}) {
      for (int x : {bar_x, bar_x + c.bar_width / 2, bar_x + c.bar_width - 1}) {
        EXPECT_TRUE(Near(PixelAt(px, c.width, x, mid), kBarColour, 0)) << "inside at x " << x;
      }
      for (int y : {c.top_row, c.bottom_row}) {
        EXPECT_TRUE(Near(PixelAt(px, c.width, bar_x + c.bar_width / 2, y), kBarColour, 0)) << "inside at y " << y;
      }
      for (int x : {bar_x - 1, bar_x + c.bar_width}) {
        EXPECT_FALSE(Near(PixelAt(px, c.width, x, mid), kBarColour, 20)) << "outside at x " << x;
      }
      for (int y : {c.top_row - 2, c.bottom_row + 2}) {
        EXPECT_FALSE(Near(PixelAt(px, c.width, bar_x + c.bar_width / 2, y), kBarColour, 20)) << "outside at y " << y;
      }
      // Rounded corners: the corner pixel is only partly covered.
      EXPECT_FALSE(Near(PixelAt(px, c.width, bar_x, c.top_row - 1), kBarColour, 20));
    }
    // The gap between the bars shows the background.
    EXPECT_LT(PixelAt(px, c.width, c.width / 2, mid).r, 0x40);
  }
}

TEST(PausedPicture, BackgroundGlowLogoAndTextsAtTheirPlaces) {
  const int w = 1280, h = 720;
  std::vector<uint8_t> px;
  FillPausedPicture(w, h, px);
  ASSERT_EQ(px.size(), static_cast<size_t>(w) * h * 4);

  // Gradient ends in the corners, outside the glow and the texts.
  EXPECT_TRUE(Near(PixelAt(px, w, 0, 0), {0x0A, 0x14, 0x30}, 1)) << Show(PixelAt(px, w, 0, 0));
  EXPECT_TRUE(Near(PixelAt(px, w, w - 1, h - 1), {0x08, 0x24, 0x3A}, 1)) << Show(PixelAt(px, w, w - 1, h - 1));

  // The glow brightens the blue well inside its ellipse, left of the logo.
  const double t = (200.5 * w + 288.5 * h) / (double(w) * w + double(h) * h);
  const double gradient_blue = 0x30 + (0x3A - 0x30) * t;
  EXPECT_GT(PixelAt(px, w, 200, 288).b, gradient_blue + 10);

  // The logo's bright top bezel crosses the centre line near y = 133.
  EXPECT_GT(PixelAt(px, w, w / 2, 133).g, 120) << Show(PixelAt(px, w, w / 2, 133));

  // Each line is found by its own colour (the translucent ones blended over
  // the background), inside the band from its layout top.
  struct Line {
    const char* name;
    int top, size, bottom;  // layout top, font size, row the ink must stay above
    Rgb colour;
    bool centred;  // else left-aligned from x = 0.02 W
  };
  const Line lines[] = {
      {"Arabic title", 436, 46, 520, {0xEA, 0xF1, 0xFF}, true},
      {"Stream paused", 508, 26, 560, {0xBC, 0xD0, 0xF2}, true},
      {"Arabic hint", 562, 17, 600, {0x9F, 0xB3, 0xD8}, true},
      {"Lumicast", 22, 18, 60, {216, 224, 238}, false},
      {"footer", 670, 15, 705, {122, 143, 180}, true},
  };
  for (const Line& l : lines) {
    SCOPED_TRACE(l.name);
    const Ink ink = FindInk(px, w, l.top - 10, l.bottom + 10, [&](Rgb c) { return Near(c, l.colour, 14); });
    ASSERT_GE(ink.first, 0) << "no text drawn";
    EXPECT_GE(ink.first, l.top - 3) << "text starts above its layout box";
    EXPECT_LT(ink.first, l.top + l.size) << "text starts too low";
    EXPECT_LT(ink.last, l.bottom) << "text runs too low";
    if (l.centred) {
      EXPECT_NEAR((ink.left + ink.right) / 2.0, w / 2.0, 6);
    } else {
      EXPECT_NEAR(ink.left, 0.02 * w, 4);
      EXPECT_LT(ink.right, w / 2);
    }
  }
}

TEST(PausedPicture, UnusableSizesLeaveNoPictureOrABlackOne) {
  for (auto [w, h] : {std::pair{0, 720}, std::pair{1280, 0}, std::pair{-4, 8}}) {
    std::vector<uint8_t> px(16, 7);
    FillPausedPicture(w, h, px);
    EXPECT_TRUE(px.empty()) << w << "x" << h;
  }
  // Wider than Cairo can draw: whole and black, never short.
  std::vector<uint8_t> wide(16, 7);
  FillPausedPicture(40000, 2, wide);
  ASSERT_EQ(wide.size(), size_t{40000} * 2 * 4);
  EXPECT_EQ(std::count(wide.begin(), wide.end(), 0), static_cast<long>(wide.size()));
  DrawPausedPicture(nullptr, 64, 64);  // must not crash
  DrawPausedCard(nullptr, 64, 64);
}

TEST(PausedCard, DarkFillAndTwoLinesAtTheirHeights) {
  const int w = 1920, h = 1080;
  std::vector<uint8_t> px(static_cast<size_t>(w) * h * 4, 0xAA);
  DrawPausedCard(px.data(), w, h);
  for (auto [x, y] : {std::pair{0, 0}, std::pair{w - 1, h - 1}, std::pair{w / 2, 40}, std::pair{40, h / 2}}) {
    EXPECT_TRUE(Near(PixelAt(px, w, x, y), {15, 15, 20}, 0)) << x << ", " << y;
  }
  // First line: a 90-pixel cell centred in the card, rows 495 to 585.
  const Ink first = FindInk(px, w, 0, h, RedAtLeast(200));
  ASSERT_GE(first.first, 0);
  EXPECT_GE(first.first, 495);
  EXPECT_LE(first.last, 585);
  EXPECT_GT(first.last - first.first, 45) << "the first line is too small";
  EXPECT_NEAR((first.left + first.right) / 2.0, w / 2.0, 8);
  // Its colour reaches full strength inside the glyphs.
  bool full = false;
  for (int y = first.first; y <= first.last && !full; ++y) {
    for (int x = first.left; x <= first.right && !full; ++x) full = Near(PixelAt(px, w, x, y), {235, 235, 235}, 0);
  }
  EXPECT_TRUE(full);

  // Second line: a 49-pixel cell from y = 626, in (150, 160, 175).
  const Ink second = FindInk(px, w, 590, h, RedAtLeast(100));
  ASSERT_GE(second.first, 0);
  EXPECT_GE(second.first, 626);
  EXPECT_LE(second.last, 626 + 49);
  EXPECT_GT(second.last - second.first, 25);
  EXPECT_NEAR((second.left + second.right) / 2.0, w / 2.0, 8);
  bool grey = false;
  for (int y = second.first; y <= second.last && !grey; ++y) {
    for (int x = second.left; x <= second.right && !grey; ++x) grey = Near(PixelAt(px, w, x, y), {150, 160, 175}, 0);
  }
  EXPECT_TRUE(grey);
}

// Each notice has its own words and sign: no two pictures are the same in
// the sign's or the title's rows, and only the paused one has the pause bars.
TEST(NoticePictures, EachNoticeIsItsOwnPicture) {
  constexpr int w = 640, h = 360;
  const ScreenNotice notices[] = {ScreenNotice::kPaused, ScreenNotice::kNotShared, ScreenNotice::kWaiting,
                                  ScreenNotice::kNoScreen};
  std::vector<std::vector<uint8_t>> pictures;
  for (ScreenNotice n : notices) {
    pictures.emplace_back();
    FillNoticePicture(w, h, n, pictures.back());
    ASSERT_EQ(pictures.back().size(), static_cast<size_t>(w) * h * 4);
  }
  const auto rows = [&](const std::vector<uint8_t>& px, int y0, int y1) {
    return std::vector<uint8_t>(px.begin() + static_cast<long>(y0) * w * 4, px.begin() + static_cast<long>(y1) * w * 4);
  };
  for (size_t i = 0; i < pictures.size(); ++i) {
    for (size_t j = i + 1; j < pictures.size(); ++j) {
      EXPECT_NE(rows(pictures[i], h * 53 / 100, h * 60 / 100), rows(pictures[j], h * 53 / 100, h * 60 / 100))
          << "signs of " << i << " and " << j;
      EXPECT_NE(rows(pictures[i], h * 60 / 100, h * 70 / 100), rows(pictures[j], h * 60 / 100, h * 70 / 100))
          << "titles of " << i << " and " << j;
    }
  }
  // The left pause bar's middle at this scale (see the bars' own test).
  const int bar_x = w / 2 - 8, bar_y = h * 535 / 1000 + 9;
  EXPECT_TRUE(Near(PixelAt(pictures[0], w, bar_x, bar_y), kBarColour, 0));
  for (size_t i = 1; i < pictures.size(); ++i) EXPECT_FALSE(Near(PixelAt(pictures[i], w, bar_x, bar_y), kBarColour, 0)) << i;
}

}  // namespace
}  // namespace lcx
