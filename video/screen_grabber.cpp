// X11 capture of the primary monitor. With MIT-SHM the server copies the
// monitor straight into one shared segment that is reused for every frame,
// so a grab allocates nothing; without it XGetImage is the slow fallback.
#include "video/screen_grabber.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xdamage.h>
#include <X11/extensions/Xfixes.h>
#include <X11/extensions/Xrandr.h>

#include <atomic>
#include <algorithm>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "core/log.h"
#include "platform/shared_memory.h"

namespace lcx {
namespace {

// Xlib's default error handler ends the process; a failed request (a shared
// segment the server cannot attach, a rectangle off the screen after a
// resolution change) must only fail that request.
std::atomic<int> g_x_errors{0};
int CountXError(Display*, XErrorEvent*) {
  g_x_errors.fetch_add(1);
  return 0;
}

// Opening and closing display connections from several threads at once
// corrupts Xlib's extension bookkeeping (seen as crashes in XCloseDisplay
// when snapshots run in parallel), so connections are made and ended one at
// a time. Grabs on distinct connections still run in parallel.
std::mutex g_connection_mutex;

// A dropped connection (the X server ended, the user logged out) goes to the
// I/O error handler and then to the connection's exit handler, whose default
// calls exit(): RTSP, ONVIF and discovery would end with the display. Ours
// return, which libX11 1.7 and later allow: the connection is flagged dead,
// every later request on it fails at once, and the owner reconnects.
int IgnoreIOError(Display*) { return 0; }
void MarkLost(Display*, void* lost_flag) { *static_cast<bool*>(lost_flag) = true; }

void InitXlibOnce() {
  static std::once_flag once;
  std::call_once(once, [] {
    XInitThreads();  // snapshots open their own connections from other threads
    XSetErrorHandler(&CountXError);
    XSetIOErrorHandler(&IgnoreIOError);
  });
}

struct Rect {
  int x = 0, y = 0, width = 0, height = 0;
};

// The rectangle of the monitor called `wanted`, else the primary output's,
// else the first monitor's; the root window when XRandR lists nothing.
Rect PrimaryRect(Display* dpy, const std::string& wanted = {}) {
  Window root = DefaultRootWindow(dpy);
  Rect r;
  int event_base = 0, error_base = 0;
  if (XRRQueryExtension(dpy, &event_base, &error_base)) {
    int count = 0;
    XRRMonitorInfo* monitors = XRRGetMonitors(dpy, root, True, &count);
    if (monitors) {
      int pick = -1;
      for (int i = 0; i < count && !wanted.empty() && pick < 0; ++i) {
        char* name = XGetAtomName(dpy, monitors[i].name);
        if (name && wanted == name) pick = i;
        if (name) XFree(name);
      }
      for (int i = 0; i < count && pick < 0; ++i) {
        if (monitors[i].primary) {
          pick = i;
          break;
        }
      }
      if (pick < 0 && count > 0) pick = 0;
      if (pick >= 0) r = {monitors[pick].x, monitors[pick].y, monitors[pick].width, monitors[pick].height};
      XRRFreeMonitors(monitors);
    }
  }
  if (r.width < 1 || r.height < 1) {
    r = {0, 0, DisplayWidth(dpy, DefaultScreen(dpy)), DisplayHeight(dpy, DefaultScreen(dpy))};
  }
  return r;
}

struct DisplayCloser {
  void operator()(Display* d) const {
    if (d) XCloseDisplay(d);
  }
};
using DisplayPtr = std::unique_ptr<Display, DisplayCloser>;

// Connects to $DISPLAY with `*lost_flag` raised, instead of the process
// ending, when the server drops the connection.
DisplayPtr OpenDisplay(bool* lost_flag) {
  DisplayPtr dpy(XOpenDisplay(nullptr));
  if (dpy) XSetIOErrorExitHandler(dpy.get(), &MarkLost, lost_flag);
  return dpy;
}

}  // namespace

std::string DisplayName() {
  const char* name = XDisplayName(nullptr);
  return name && *name ? name : "(unset)";
}

struct ScreenGrabber::X11State {
  bool lost = false;  // raised by Xlib on this thread when the server drops the connection
  DisplayPtr display;
  Rect rect;
  XImage* shm_image = nullptr;
  XShmSegmentInfo shm{};  // the server's view of `segment`
  SharedMemory segment;
  bool shm_attached = false;
  std::vector<uint8_t> plain;  // fallback buffer (no MIT-SHM)
  Damage damage = 0;           // on the root window; 0 without the extension
  XserverRegion damaged = 0;   // receives what changed since the last GrabChanges
  bool copied = false;         // GrabChanges has copied since Open
  std::vector<uint8_t> previous;  // without damage reports: the last picture, to compare with

  ~X11State() {
    std::lock_guard lock(g_connection_mutex);
    if (damaged) XFixesDestroyRegion(display.get(), damaged);
    if (damage) XDamageDestroy(display.get(), damage);
    if (shm_attached) XShmDetach(display.get(), &shm);
    if (shm_image) XDestroyImage(shm_image);  // frees the XImage, not the segment
    segment.Reset();
    if (display) XSync(display.get(), False);
    display.reset();
  }
};

bool PrimaryScreenSize(int* width, int* height) { return MonitorSize({}, width, height); }

bool MonitorSize(const std::string& monitor, int* width, int* height) {
  InitXlibOnce();
  std::lock_guard lock(g_connection_mutex);
  bool lost = false;
  DisplayPtr dpy = OpenDisplay(&lost);
  if (!dpy) return false;
  Rect r = PrimaryRect(dpy.get(), monitor);
  *width = r.width;
  *height = r.height;
  return !lost && r.width > 0 && r.height > 0;
}

// Damage on the root window covers every window drawn on the screen. Needs
// XFixes too (the region the reports are fetched into).
void ScreenGrabber::StartDamageReports(X11State& x) {
  Display* dpy = x.display.get();
  int event_base = 0, error_base = 0, major = 1, minor = 1;
  if (XDamageQueryExtension(dpy, &event_base, &error_base) && XDamageQueryVersion(dpy, &major, &minor) &&
      XFixesQueryExtension(dpy, &event_base, &error_base)) {
    int fixes_major = 2, fixes_minor = 0;
    XFixesQueryVersion(dpy, &fixes_major, &fixes_minor);
    const int errors_before = g_x_errors.load();
    x.damage = XDamageCreate(dpy, DefaultRootWindow(dpy), XDamageReportNonEmpty);
    x.damaged = XFixesCreateRegion(dpy, nullptr, 0);
    XSync(dpy, False);
    if (g_x_errors.load() == errors_before) return;
  }
  if (x.damaged) XFixesDestroyRegion(dpy, x.damaged);
  if (x.damage) XDamageDestroy(dpy, x.damage);
  x.damage = 0;
  x.damaged = 0;
  LogLine("Screen: no damage reports from the X server; every frame is compared with the last\n");
  x.previous.assign(static_cast<size_t>(x.rect.width) * x.rect.height * 4, 0);
}

ScreenGrabber::ScreenGrabber() = default;
ScreenGrabber::~ScreenGrabber() { Close(); }

bool ScreenGrabber::Open() {
  std::string why;
  if (TryOpen(&why)) return true;
  LogLine("Screen: %s\n", why.c_str());
  return false;
}

bool ScreenGrabber::TryOpen(std::string* why) {
  Close();
  InitXlibOnce();
  auto x = std::make_unique<X11State>();
  std::unique_lock lock(g_connection_mutex);
  x->display = OpenDisplay(&x->lost);
  if (!x->display) {
    *why = "cannot open display \"" + DisplayName() + "\"";
    return false;
  }
  Display* dpy = x->display.get();
  x->rect = PrimaryRect(dpy, monitor_);
  if (x->lost) {
    *why = "display \"" + DisplayName() + "\" closed the connection";
    return false;
  }
  if (x->rect.width < 1 || x->rect.height < 1) {
    *why = "display \"" + DisplayName() + "\" has no monitor of usable size";
    return false;
  }

  const int screen = DefaultScreen(dpy);
  const int depth = DefaultDepth(dpy, screen);
  Visual* visual = DefaultVisual(dpy, screen);
  // Our pipeline takes BGRX bytes: a 24/32-bit TrueColor visual with red in
  // the high byte, stored little-endian.
  if ((depth != 24 && depth != 32) || visual->red_mask != 0xFF0000 || visual->blue_mask != 0xFF ||
      ImageByteOrder(dpy) != LSBFirst) {
    *why = "unsupported pixel format (depth " + std::to_string(depth) + ")";
    return false;
  }

  if (XShmQueryExtension(dpy)) {
    x->shm_image = XShmCreateImage(dpy, visual, static_cast<unsigned>(depth), ZPixmap, nullptr, &x->shm,
                                   static_cast<unsigned>(x->rect.width), static_cast<unsigned>(x->rect.height));
    if (x->shm_image && x->shm_image->bits_per_pixel == 32 &&
        x->shm_image->bytes_per_line == x->rect.width * 4 &&
        x->segment.Create(static_cast<size_t>(x->shm_image->bytes_per_line) * x->rect.height)) {
      x->shm.shmid = x->segment.id();
      x->shm.shmaddr = x->shm_image->data = static_cast<char*>(x->segment.data());
      x->shm.readOnly = False;
      int errors_before = g_x_errors.load();
      if (XShmAttach(dpy, &x->shm)) {
        XSync(dpy, False);
        x->shm_attached = g_x_errors.load() == errors_before;
      }
      // Marked for removal once the server has attached (or failed to): the
      // segment goes away with its last user, even if this process is killed.
      x->segment.MarkForRemoval();
    }
    if (!x->shm_attached) {
      if (x->shm_image) {
        x->shm_image->data = nullptr;
        XDestroyImage(x->shm_image);
        x->shm_image = nullptr;
      }
      x->segment.Reset();
      x->shm.shmaddr = nullptr;
    }
  }
  if (!x->shm_attached) {
    LogLine("Screen: MIT-SHM unavailable, using XGetImage\n");
    x->plain.assign(static_cast<size_t>(x->rect.width) * x->rect.height * 4, 0);
  }
  StartDamageReports(*x);
  if (x->lost) {
    *why = "display \"" + DisplayName() + "\" closed the connection";
    return false;
  }
  width_ = x->rect.width;
  height_ = x->rect.height;
  x_ = std::move(x);
  return true;
}

const uint8_t* ScreenGrabber::Grab() {
  if (!x_) return nullptr;
  Display* dpy = x_->display.get();
  Window root = DefaultRootWindow(dpy);
  if (x_->lost) return nullptr;
  if (x_->shm_attached) {
    // A failed copy (the rectangle left the screen) keeps the last picture.
    XShmGetImage(dpy, root, x_->shm_image, x_->rect.x, x_->rect.y, AllPlanes);
    if (x_->lost) return nullptr;
    return reinterpret_cast<const uint8_t*>(x_->shm_image->data);
  }
  XImage* img = XGetImage(dpy, root, x_->rect.x, x_->rect.y, static_cast<unsigned>(width_),
                          static_cast<unsigned>(height_), AllPlanes, ZPixmap);
  if (img) {
    const size_t row = static_cast<size_t>(width_) * 4;
    if (img->bits_per_pixel == 32 && img->bytes_per_line >= static_cast<int>(row)) {
      for (int y = 0; y < height_; ++y) {
        std::memcpy(x_->plain.data() + row * y, img->data + static_cast<size_t>(img->bytes_per_line) * y, row);
      }
    }
    XDestroyImage(img);
  }
  if (x_->lost) return nullptr;
  return x_->plain.data();
}

const uint8_t* ScreenGrabber::GrabChanges(bool* changed) {
  *changed = true;
  if (!x_ || x_->lost) return nullptr;
  Display* dpy = x_->display.get();
  if (x_->damage) {
    // Taking the damage before the copy: whatever is drawn after it is
    // reported next time, so no change is ever missed.
    XDamageSubtract(dpy, x_->damage, None, x_->damaged);
    int count = 0;
    XRectangle bounds;
    XRectangle* rects = XFixesFetchRegionAndBounds(dpy, x_->damaged, &count, &bounds);
    bool hit = false;
    const Rect& m = x_->rect;
    changed_area_ = 0;
    // The region's rectangles do not overlap, so their parts on the monitor add up.
    for (int i = 0; i < count; ++i) {
      const int64_t w = std::min<int64_t>(rects[i].x + rects[i].width, m.x + m.width) - std::max<int64_t>(rects[i].x, m.x);
      const int64_t h =
          std::min<int64_t>(rects[i].y + rects[i].height, m.y + m.height) - std::max<int64_t>(rects[i].y, m.y);
      if (w > 0 && h > 0) {
        hit = true;
        changed_area_ += w * h;
      }
    }
    if (rects) XFree(rects);
    while (XPending(dpy) > 0) {  // the damage notifications themselves are not needed
      XEvent event;
      XNextEvent(dpy, &event);
    }
    if (x_->lost) return nullptr;
    if (!hit && x_->copied) {
      *changed = false;
      return x_->shm_attached ? reinterpret_cast<const uint8_t*>(x_->shm_image->data) : x_->plain.data();
    }
  }
  const uint8_t* pixels = Grab();
  if (!pixels) return nullptr;
  if (!x_->damage) {
    // The first and the last rows that differ bound the change; together
    // the two searches read no more than the one comparison did.
    const size_t row = static_cast<size_t>(width_) * 4, rows = row ? x_->previous.size() / row : 0;
    size_t first = 0, last = rows;
    while (x_->copied && first < rows && std::memcmp(pixels + first * row, x_->previous.data() + first * row, row) == 0)
      ++first;
    while (x_->copied && last > first &&
           std::memcmp(pixels + (last - 1) * row, x_->previous.data() + (last - 1) * row, row) == 0)
      --last;
    *changed = !x_->copied || first < rows;
    changed_area_ = static_cast<int64_t>(last - first) * width_;
    if (*changed) std::memcpy(x_->previous.data(), pixels, x_->previous.size());
  } else if (!x_->copied) {
    changed_area_ = static_cast<int64_t>(width_) * height_;
  }
  x_->copied = true;
  return pixels;
}

void ScreenGrabber::Close() {
  x_.reset();
  width_ = height_ = 0;
}

bool ScreenGrabber::uses_shared_memory() const { return x_ && x_->shm_attached; }
bool ScreenGrabber::lost() const { return x_ && x_->lost; }
bool ScreenGrabber::uses_damage() const { return x_ && x_->damage != 0; }

}  // namespace lcx
