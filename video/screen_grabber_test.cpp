// gtest before Xlib: Xlib's macros (None, Bool) clash with gtest's names.
#include <gtest/gtest.h>

#include "video/screen_grabber.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xrandr.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <utility>
#include <vector>

#include "core/log.h"
#include "platform/system.h"
#include "video/convert.h"
#include "video/scale.h"
#include "video/x_server_testing.h"

// Counts heap allocations so the capture path can be shown to allocate
// nothing per frame.
static std::atomic<long> g_allocations{0};
// Out of line, new and delete alike: once inlined into the library's code,
// GCC pairs malloc with the built-in delete (or free with the built-in new)
// and warns of a mismatch.
[[gnu::noinline]] void* operator new(std::size_t n) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
[[gnu::noinline]] void operator delete(void* p) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace lcx {
namespace {

// A window covering the screen in one colour, so the grab has known content.
class SolidWindow {
 public:
  // The whole screen, or the rectangle given.
  explicit SolidWindow(unsigned long rgb, int x = 0, int y = 0, int w = 0, int h = 0) : dpy_(XOpenDisplay(nullptr)) {
    if (!dpy_) return;
    int screen = DefaultScreen(dpy_);
    XSetWindowAttributes attrs{};
    attrs.override_redirect = True;
    attrs.background_pixel = rgb;
    x_ = x, y_ = y;
    w_ = w ? w : DisplayWidth(dpy_, screen);
    h_ = h ? h : DisplayHeight(dpy_, screen);
    win_ = XCreateWindow(dpy_, RootWindow(dpy_, screen), x_, y_, static_cast<unsigned>(w_),
                         static_cast<unsigned>(h_), 0, CopyFromParent, InputOutput, CopyFromParent,
                         CWOverrideRedirect | CWBackPixel, &attrs);
    XMapRaised(dpy_, win_);
    XSync(dpy_, False);
    // Waits until the server has painted the background (seconds on a busy machine).
    for (const uint64_t until = BootTickMs() + 10000; !Painted(rgb) && BootTickMs() < until;) SleepMs(20);
  }
  ~SolidWindow() {
    if (!dpy_) return;
    XDestroyWindow(dpy_, win_);
    XCloseDisplay(dpy_);
  }
  bool ok() const { return dpy_ != nullptr; }

 private:
  // The window's first and last pixel read back in its colour.
  bool Painted(unsigned long rgb) {
    const int screen = DefaultScreen(dpy_);
    for (auto [x, y] : {std::pair{x_, y_}, std::pair{x_ + w_ - 1, y_ + h_ - 1}}) {
      XImage* image = XGetImage(dpy_, RootWindow(dpy_, screen), x, y, 1, 1, AllPlanes, ZPixmap);
      if (!image) return false;
      const unsigned long pixel = XGetPixel(image, 0, 0) & 0xFFFFFF;
      XDestroyImage(image);
      if (pixel != rgb) return false;
    }
    return true;
  }

  Display* dpy_;
  Window win_ = 0;
  int x_ = 0, y_ = 0, w_ = 0, h_ = 0;
};

TEST(ScreenGrabber, CopiesThePrimaryMonitorWithoutAllocating) {
  int w = 0, h = 0;
  if (!PrimaryScreenSize(&w, &h)) GTEST_SKIP() << "no X display";
  SolidWindow red(0xC81E0A);  // R 200, G 30, B 10
  ASSERT_TRUE(red.ok());

  ScreenGrabber grabber;
  ASSERT_TRUE(grabber.Open());
  EXPECT_EQ(grabber.width(), w);
  EXPECT_EQ(grabber.height(), h);
  EXPECT_TRUE(grabber.uses_shared_memory()) << "Xvfb offers MIT-SHM";

  const uint8_t* px = grabber.Grab();
  ASSERT_NE(px, nullptr);
  for (size_t at : {size_t{0}, static_cast<size_t>(w) * h / 2 + 7, static_cast<size_t>(w) * h - 1}) {
    EXPECT_EQ(px[at * 4 + 0], 10);
    EXPECT_EQ(px[at * 4 + 1], 30);
    EXPECT_EQ(px[at * 4 + 2], 200);
  }

  // Capture, scaling and conversion into buffers sized once: no allocation.
  const int sw = 640, sh = (640 * h / w) & ~1;
  std::vector<uint8_t> scaled(static_cast<size_t>(sw) * sh * 4), i420(static_cast<size_t>(sw) * sh * 3 / 2);
  long before = g_allocations.load();
  for (int frame = 0; frame < 5; ++frame) {
    const uint8_t* shot = grabber.Grab();
    ScaleNearest(shot, w, h, scaled.data(), sw, sh);
    ConvertBgraToI420(scaled.data(), sw, sw, sh, i420.data(), i420.data() + sw * sh,
                      i420.data() + sw * sh + sw * sh / 4);
  }
  EXPECT_EQ(g_allocations.load(), before);
  EXPECT_EQ(i420[0], 84) << "Y of (200, 30, 10)";
}

TEST(ScreenGrabber, NoDisplayFailsCleanly) {
  const char* saved = std::getenv("DISPLAY");
  std::string keep = saved ? saved : "";
  setenv("DISPLAY", ":999", 1);
  ScreenGrabber grabber;
  EXPECT_FALSE(grabber.Open());
  EXPECT_NE(ReadLog().find("Screen: cannot open display \":999\"\n"), std::string::npos) << "the reason is logged";
  EXPECT_EQ(grabber.Grab(), nullptr);
  int w = 0, h = 0;
  EXPECT_FALSE(PrimaryScreenSize(&w, &h));
  if (saved) setenv("DISPLAY", keep.c_str(), 1); else unsetenv("DISPLAY");
}

// Whether the picture changed, told without copying by the X server's
// damage reports, or by comparing copies when the server has no DAMAGE.
TEST(ScreenGrabber, GrabChangesTellsAChangedScreenFromAStillOne) {
  struct Case {
    const char* name;
    std::vector<std::string> server_args;
    bool damage;
  } cases[] = {
      {"damage reports", {}, true},
      {"server without DAMAGE: copies compared", {"-extension", "DAMAGE"}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testing_x::TestXServer server;
    if (!server.Start("640x480x24", c.server_args)) GTEST_SKIP() << "no Xvfb";
    ScreenGrabber grabber;
    ASSERT_TRUE(grabber.Open());
    EXPECT_EQ(grabber.uses_damage(), c.damage);
    bool changed = false;
    ASSERT_NE(grabber.GrabChanges(&changed), nullptr);
    EXPECT_TRUE(changed) << "the first picture after Open";
    EXPECT_EQ(grabber.changed_area(), 640 * 480);
    grabber.GrabChanges(&changed);
    EXPECT_FALSE(changed) << "nothing drawn";
    EXPECT_EQ(grabber.changed_area(), 0);

    for (unsigned long colour : {0xC81E0Aul, 0x0A1EC8ul}) {
      SolidWindow drawn(colour);  // the whole screen in one colour
      ASSERT_TRUE(drawn.ok());
      const uint8_t* px = grabber.GrabChanges(&changed);
      EXPECT_TRUE(changed);
      EXPECT_EQ(px[0], colour & 0xFF) << "and the copy shows it";
      EXPECT_EQ(grabber.changed_area(), 640 * 480);
      grabber.GrabChanges(&changed);
      EXPECT_FALSE(changed);
    }
    grabber.GrabChanges(&changed);  // the last window's removal
    // How much changed, for the motion detection: the damaged rectangle, or
    // the rows between the first and last that differ.
    SolidWindow small(0x20A040, 100, 200, 64, 32);
    ASSERT_TRUE(small.ok());
    grabber.GrabChanges(&changed);
    EXPECT_TRUE(changed);
    EXPECT_EQ(grabber.changed_area(), c.damage ? 64 * 32 : 32 * 640);
  }
}

// A log-out or a crash of the X server must not end the process (Xlib's
// default is exit(1)): the grab fails, the grabber says it is lost, and a
// new server on the same display can be opened again.
TEST(ScreenGrabber, LostDisplayFailsTheGrabUntilReopenedOnANewServer) {
  testing_x::TestXServer server;
  if (!server.Start()) GTEST_SKIP() << "no Xvfb";
  ScreenGrabber grabber;
  ASSERT_TRUE(grabber.Open());
  ASSERT_NE(grabber.Grab(), nullptr);
  EXPECT_FALSE(grabber.lost());

  server.Kill();
  EXPECT_EQ(grabber.Grab(), nullptr);
  EXPECT_TRUE(grabber.lost());
  EXPECT_EQ(grabber.Grab(), nullptr) << "a dead connection stays failed";
  int w = 0, h = 0;
  EXPECT_FALSE(PrimaryScreenSize(&w, &h));
  const std::string log_before = ReadLog();
  std::string why;
  EXPECT_FALSE(grabber.TryOpen(&why));
  EXPECT_EQ(why, "cannot open display \"" + server.name() + "\"");
  EXPECT_EQ(ReadLog(), log_before) << "a retry's failure is the caller's to log";

  ASSERT_TRUE(server.Start("800x600x24"));
  ASSERT_TRUE(grabber.TryOpen(&why)) << why;
  EXPECT_FALSE(grabber.lost());
  EXPECT_EQ(grabber.width(), 800);
  EXPECT_NE(grabber.Grab(), nullptr);
}

}  // namespace
}  // namespace lcx

namespace lcx {
namespace {

// The key "monitor" names a RandR monitor (an output's name); a name the
// display does not have means the primary, as before.
TEST(ScreenGrabber, MonitorByNameElseThePrimary) {
  testing_x::TestXServer server;
  if (!server.Start("1280x480x24")) GTEST_SKIP() << "no Xvfb";
  Display* dpy = XOpenDisplay(nullptr);
  ASSERT_NE(dpy, nullptr);
  // Xvfb's one output is the primary; a second monitor covers its right part.
  XRRScreenResources* resources = XRRGetScreenResources(dpy, DefaultRootWindow(dpy));
  ASSERT_NE(resources, nullptr);
  ASSERT_GE(resources->noutput, 1);
  XRRSetOutputPrimary(dpy, DefaultRootWindow(dpy), resources->outputs[0]);
  XRRFreeScreenResources(resources);
  XRRMonitorInfo right{};
  right.name = XInternAtom(dpy, "RIGHT-1", False);
  right.x = 800;
  right.width = 480;
  right.height = 360;
  right.mwidth = 100;
  right.mheight = 75;
  right.noutput = 0;
  XRRSetMonitor(dpy, DefaultRootWindow(dpy), &right);
  XSync(dpy, False);

  struct Case {
    const char* monitor;
    int width, height;
  } cases[] = {{"RIGHT-1", 480, 360}, {"", 1280, 480}, {"HDMI-9", 1280, 480}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.monitor);
    int w = 0, h = 0;
    ASSERT_TRUE(MonitorSize(c.monitor, &w, &h));
    EXPECT_EQ(w, c.width);
    EXPECT_EQ(h, c.height);
    ScreenGrabber grabber;
    grabber.set_monitor(c.monitor);
    ASSERT_TRUE(grabber.Open());
    EXPECT_EQ(grabber.width(), c.width);
    EXPECT_NE(grabber.Grab(), nullptr);
  }
  XCloseDisplay(dpy);
}

}  // namespace
}  // namespace lcx
