// A small clock for the still-screen benchmark: a 240 x 48 window in the
// top right corner of $DISPLAY whose digits change once a second, drawn
// over whatever else is on the screen (a screen where only a clock ticks).
// Usage: lcx_clock   (runs until killed)
#include <X11/Xlib.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <thread>

namespace {

// Seven-segment digits: bit i lights segment i (a b c d e f g).
constexpr unsigned char kSegments[10] = {0x3F, 0x06, 0x5B, 0x4F, 0x66, 0x6D, 0x7D, 0x07, 0x7F, 0x6F};

void DrawDigit(Display* dpy, Window win, GC gc, int x, int digit) {
  const XRectangle segments[7] = {{2, 2, 16, 4},  {18, 4, 4, 18},  {18, 24, 4, 18}, {2, 42, 16, 4},
                                  {0, 24, 4, 18}, {0, 4, 4, 18},   {2, 22, 16, 4}};
  for (int s = 0; s < 7; ++s) {
    if (!(kSegments[digit] >> s & 1)) continue;
    XFillRectangle(dpy, win, gc, x + segments[s].x, segments[s].y, segments[s].width, segments[s].height);
  }
}

}  // namespace

int main() {
  Display* dpy = XOpenDisplay(nullptr);
  if (!dpy) {
    std::fprintf(stderr, "lcx_clock: cannot open display\n");
    return 1;
  }
  const int screen = DefaultScreen(dpy);
  constexpr int kWidth = 240, kHeight = 48;
  XSetWindowAttributes attrs{};
  attrs.override_redirect = True;
  attrs.background_pixel = 0x202020;
  const Window win = XCreateWindow(dpy, RootWindow(dpy, screen), DisplayWidth(dpy, screen) - kWidth - 16, 16, kWidth,
                                   kHeight, 0, CopyFromParent, InputOutput, CopyFromParent,
                                   CWOverrideRedirect | CWBackPixel, &attrs);
  XMapRaised(dpy, win);
  GC gc = XCreateGC(dpy, win, 0, nullptr);
  XSetForeground(dpy, gc, 0xF0F0F0);
  for (;;) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    XClearWindow(dpy, win);
    const int digits[6] = {local.tm_hour / 10, local.tm_hour % 10, local.tm_min / 10,
                           local.tm_min % 10,  local.tm_sec / 10,  local.tm_sec % 10};
    for (int i = 0; i < 6; ++i) DrawDigit(dpy, win, gc, 8 + i * 36 + (i / 2) * 8, digits[i]);
    XFlush(dpy);
    // Wake just after the next whole second.
    const auto next = std::chrono::system_clock::from_time_t(now + 1) + std::chrono::milliseconds(5);
    std::this_thread::sleep_until(next);
  }
}
