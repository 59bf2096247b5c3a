// gtest before Xlib: Xlib's macros (None, Bool) clash with gtest's names.
#include <gtest/gtest.h>

#include "video/snapshot.h"

#include <X11/Xlib.h>
#include <cairo.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/system.h"
#include "video/paused_picture.h"
#include "video/picture_testing.h"
#include "video/stream_producer.h"
#include "video/requirements_testing.h"
#include "video/x_server_testing.h"

namespace lcx {
namespace {

using namespace testing_pictures;

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
  if (!PrimaryScreenSize(&sw, &sh)) LCX_SKIP_OR_FAIL("no X display");
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
  if (!PrimaryScreenSize(&sw, &sh)) LCX_SKIP_OR_FAIL("no X display");
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
  if (!PrimaryScreenSize(&sw, &sh)) LCX_SKIP_OR_FAIL("no X display");
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

// The kept grabber's connection dies with its X server; the next snapshot
// after a new server has come up on the same display must reconnect.
TEST(StillJpeg, SnapshotsFailWhileTheDisplayIsGoneAndResumeOnANewServer) {
  testing_x::TestXServer server;
  if (!server.Start("640x480x24")) LCX_SKIP_OR_FAIL("no Xvfb");
  std::vector<uint8_t> jpeg;
  ASSERT_TRUE(EncodeScreenJpeg(320, 240, jpeg));
  server.Kill();
  EXPECT_FALSE(EncodeScreenJpeg(320, 240, jpeg));
  EXPECT_TRUE(CaptureSnapshotJpeg().empty());
  ASSERT_TRUE(server.Start("640x480x24"));
  ASSERT_TRUE(EncodeScreenJpeg(320, 240, jpeg));
  EXPECT_EQ(DecodeJpeg(jpeg).width, 320);
  EXPECT_EQ(DecodeJpeg(CaptureSnapshotJpeg()).width, 640);
}

}  // namespace
}  // namespace lcx
