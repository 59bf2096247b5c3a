// gtest before Xlib: Xlib's macros (None, Bool) clash with gtest's names.
#include <gtest/gtest.h>

#include "video/snapshot.h"

#include <X11/Xlib.h>
#include <cairo.h>
#include <turbojpeg.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/system.h"
#include "video/stream_producer.h"

namespace lcx {
namespace {

struct Rgb {
  int r, g, b;
};

Rgb PixelAt(const std::vector<uint8_t>& bgrx, int width, int x, int y) {
  const uint8_t* p = &bgrx[(static_cast<size_t>(y) * width + x) * 4];
  return {p[2], p[1], p[0]};
}

bool Near(Rgb a, Rgb b, int tolerance) {
  return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance && std::abs(a.b - b.b) <= tolerance;
}

std::string Show(Rgb c) {
  return "(" + std::to_string(c.r) + ", " + std::to_string(c.g) + ", " + std::to_string(c.b) + ")";
}

struct Decoded {
  int width = 0, height = 0;
  std::vector<uint8_t> bgrx;
};

// Decodes with libjpeg-turbo independently of the encoder under test.
Decoded DecodeJpeg(const std::vector<uint8_t>& jpeg) {
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
auto RedAtLeast(int min_red) {
  return [min_red](Rgb c) { return c.r >= min_red; };
}

constexpr Rgb kBarColour{0x7F, 0xB4, 0xFF};

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

TEST(PausedPicture, PngIsWrittenAt1280x720) {
  const std::string dir = ::testing::TempDir() + "lcx_stills_png";
  std::filesystem::create_directories(dir);
  const std::string path = dir + "/dump_paused.png";
  std::filesystem::remove(path);
  ASSERT_TRUE(SavePausedPng(path));

  std::unique_ptr<cairo_surface_t, void (*)(cairo_surface_t*)> png(
      cairo_image_surface_create_from_png(path.c_str()), &cairo_surface_destroy);
  ASSERT_EQ(cairo_surface_status(png.get()), CAIRO_STATUS_SUCCESS);
  const int w = cairo_image_surface_get_width(png.get());
  ASSERT_EQ(w, 1280);
  ASSERT_EQ(cairo_image_surface_get_height(png.get()), 720);
  const uint8_t* data = cairo_image_surface_get_data(png.get());
  const int stride = cairo_image_surface_get_stride(png.get());
  const uint8_t* bar = data + 400 * stride + 628 * 4;
  EXPECT_TRUE(Near({bar[2], bar[1], bar[0]}, kBarColour, 0));

  EXPECT_FALSE(SavePausedPng(dir + "/no/such/folder/dump_paused.png"));
  std::filesystem::remove_all(dir);
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

TEST(StillJpeg, ScreenSnapshotOfAnEmptySizeFails) {
  for (auto [w, h] : {std::pair{0, 480}, std::pair{640, 0}, std::pair{-1, -1}, std::pair{70000, 10}}) {
    std::vector<uint8_t> out(10, 1);
    EXPECT_FALSE(EncodeScreenJpeg(w, h, out)) << w << "x" << h;
    EXPECT_TRUE(out.empty());
  }
}

// A window over the whole screen showing a tile repeated, so captures have
// known content.
class TiledWindow {
 public:
  // `tile` holds 0xRRGGBB pixels, tile_width per row.
  TiledWindow(const std::vector<unsigned long>& tile, int tile_width) : dpy_(XOpenDisplay(nullptr)) {
    if (!dpy_) return;
    const int screen = DefaultScreen(dpy_);
    const int tile_height = static_cast<int>(tile.size()) / tile_width;
    Window root = RootWindow(dpy_, screen);
    pixmap_ = XCreatePixmap(dpy_, root, tile_width, tile_height, DefaultDepth(dpy_, screen));
    GC gc = XCreateGC(dpy_, pixmap_, 0, nullptr);
    for (int i = 0; i < static_cast<int>(tile.size()); ++i) {
      XSetForeground(dpy_, gc, tile[i]);
      XDrawPoint(dpy_, pixmap_, gc, i % tile_width, i / tile_width);
    }
    XFreeGC(dpy_, gc);
    XSetWindowAttributes attrs{};
    attrs.override_redirect = True;
    attrs.background_pixmap = pixmap_;
    win_ = XCreateWindow(dpy_, root, 0, 0, DisplayWidth(dpy_, screen), DisplayHeight(dpy_, screen), 0,
                         CopyFromParent, InputOutput, CopyFromParent, CWOverrideRedirect | CWBackPixmap, &attrs);
    XMapRaised(dpy_, win_);
    XSync(dpy_, False);
  }
  ~TiledWindow() {
    if (!dpy_) return;
    XDestroyWindow(dpy_, win_);
    XFreePixmap(dpy_, pixmap_);
    XCloseDisplay(dpy_);
  }
  bool ok() const { return dpy_ != nullptr; }
  // Keeps the window on top of a moving scene while a capture runs.
  void Raise() {
    XRaiseWindow(dpy_, win_);
    XSync(dpy_, False);
  }

 private:
  Display* dpy_;
  Pixmap pixmap_ = 0;
  Window win_ = 0;
};

// Waits (bounded) until the screen's top-left pixels read as expected.
bool WaitForScreen(TiledWindow& window, Rgb first, Rgb second) {
  for (int attempt = 0; attempt < 40; ++attempt) {
    window.Raise();
    ScreenGrabber g;
    if (!g.Open()) return false;
    const uint8_t* p = g.Grab();
    if (p && Near({p[2], p[1], p[0]}, first, 0) && Near({p[6], p[5], p[4]}, second, 0)) return true;
    SleepMs(50);
  }
  return false;
}

TEST(StillJpeg, ScreenSnapshotAveragesWhenScalingDown) {
  int sw = 0, sh = 0;
  if (!PrimaryScreenSize(&sw, &sh)) GTEST_SKIP() << "no X display";
  // One-pixel black and white columns: any averaging scaler gives grey,
  // picking pixels gives black or white.
  TiledWindow stripes({0x000000, 0xFFFFFF}, 2);
  ASSERT_TRUE(stripes.ok());
  ASSERT_TRUE(WaitForScreen(stripes, {0, 0, 0}, {255, 255, 255}));

  for (auto [w, h] : {std::pair{sw / 2, sh / 2}, std::pair{sw / 4, sh / 4}, std::pair{sw / 2 + 1, 97}}) {
    SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
    stripes.Raise();
    std::vector<uint8_t> jpeg;
    ASSERT_TRUE(EncodeScreenJpeg(w, h, jpeg));
    const Decoded d = DecodeJpeg(jpeg);
    ASSERT_EQ(d.width, w);
    ASSERT_EQ(d.height, h);
    // Every area holds about as much black as white, also when the areas
    // straddle columns unevenly (odd width).
    int worst = 0;
    for (int x = 0; x < w; ++x) worst = std::max(worst, std::abs(PixelAt(d.bgrx, w, x, h / 2).g - 128));
    EXPECT_LE(worst, 4);
  }
}

TEST(StillJpeg, WebPreviewIsTheScreenOrTheCardWhenPaused) {
  int sw = 0, sh = 0;
  if (!PrimaryScreenSize(&sw, &sh)) GTEST_SKIP() << "no X display";
  TiledWindow red({0xC81E0A}, 1);
  ASSERT_TRUE(red.ok());
  ASSERT_TRUE(WaitForScreen(red, {200, 30, 10}, {200, 30, 10}));

  StreamPaused.store(false);
  red.Raise();
  Decoded live = DecodeJpeg(CaptureSnapshotJpeg());
  ASSERT_EQ(live.width, sw);
  ASSERT_EQ(live.height, sh);
  EXPECT_TRUE(Near(PixelAt(live.bgrx, sw, sw / 2, sh / 2), {200, 30, 10}, 8));

  StreamPaused.store(true);
  Decoded card = DecodeJpeg(CaptureSnapshotJpeg());
  // The ONVIF snapshot keeps showing the screen while paused.
  std::vector<uint8_t> onvif;
  red.Raise();
  const bool onvif_ok = EncodeScreenJpeg(sw / 2, sh / 2, onvif);
  StreamPaused.store(false);
  ASSERT_EQ(card.width, sw);
  ASSERT_EQ(card.height, sh);
  EXPECT_TRUE(Near(PixelAt(card.bgrx, sw, 10, 10), {15, 15, 20}, 3));
  EXPECT_GT(FindInk(card.bgrx, sw, 0, sh, RedAtLeast(200)).first, 0) << "the card's first line is missing";
  ASSERT_TRUE(onvif_ok);
  Decoded screen = DecodeJpeg(onvif);
  EXPECT_TRUE(Near(PixelAt(screen.bgrx, sw / 2, sw / 4, sh / 4), {200, 30, 10}, 8));
}

// Web and ONVIF connection threads take snapshots at the same time as the
// producer draws the paused picture: every caller gets whole, correct pictures.
TEST(StillJpeg, ConcurrentCallersGetWholePictures) {
  int sw = 0, sh = 0;
  if (!PrimaryScreenSize(&sw, &sh)) GTEST_SKIP() << "no X display";
  std::vector<uint8_t> reference;
  FillPausedPicture(320, 180, reference);
  ASSERT_FALSE(reference.empty());

  constexpr int kThreads = 4, kRounds = 3;
  std::atomic<int> bad_preview{0}, bad_onvif{0}, bad_paused{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      for (int round = 0; round < kRounds; ++round) {
        const Decoded preview = DecodeJpeg(CaptureSnapshotJpeg());
        if (preview.width != sw || preview.height != sh) ++bad_preview;
        std::vector<uint8_t> jpeg;
        const bool ok = EncodeScreenJpeg(320, 180, jpeg);
        const Decoded small = DecodeJpeg(jpeg);
        if (!ok || small.width != 320 || small.height != 180) ++bad_onvif;
        std::vector<uint8_t> paused;
        FillPausedPicture(320, 180, paused);
        if (paused != reference) ++bad_paused;
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(bad_preview.load(), 0);
  EXPECT_EQ(bad_onvif.load(), 0);
  EXPECT_EQ(bad_paused.load(), 0);
}

}  // namespace
}  // namespace lcx
