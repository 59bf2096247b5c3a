// A moving test picture for the end-to-end tests: covers the whole screen of
// $DISPLAY with a desktop-like scene (static panels and text, a bouncing box,
// a colour-cycling tile and a frame counter) and redraws it until killed.
// Usage: lcx_scene [frames-per-second]   (default 20, clamped to 1..60)
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace {

unsigned long Rgb(int r, int g, int b) {
  return (static_cast<unsigned long>(r & 255) << 16) | ((g & 255) << 8) | (b & 255);
}

}  // namespace

int main(int argc, char** argv) {
  int fps = argc > 1 ? std::atoi(argv[1]) : 20;
  if (fps < 1) fps = 1;
  if (fps > 60) fps = 60;
  Display* dpy = XOpenDisplay(nullptr);
  if (!dpy) {
    std::fprintf(stderr, "lcx_scene: cannot open display\n");
    return 1;
  }
  const int screen = DefaultScreen(dpy);
  const int w = DisplayWidth(dpy, screen);
  const int h = DisplayHeight(dpy, screen);
  const Window root = RootWindow(dpy, screen);
  XSetWindowAttributes attrs{};
  attrs.override_redirect = True;
  attrs.background_pixel = Rgb(30, 40, 60);
  const Window win = XCreateWindow(dpy, root, 0, 0, w, h, 0, CopyFromParent, InputOutput,
                                   CopyFromParent, CWOverrideRedirect | CWBackPixel, &attrs);
  XMapRaised(dpy, win);
  const Pixmap back = XCreatePixmap(dpy, win, w, h, DefaultDepth(dpy, screen));
  const GC gc = XCreateGC(dpy, win, 0, nullptr);

  const auto period = std::chrono::microseconds(1000000 / fps);
  auto due = std::chrono::steady_clock::now();
  int box_x = w / 7, box_y = h / 5, dx = w / 160 + 1, dy = h / 120 + 1;
  const int box = h / 8 + 4;
  for (unsigned frame = 0;; ++frame) {
    // Desktop: a few horizontal bands, a "window" with lines of text.
    for (int i = 0; i < 6; ++i) {
      XSetForeground(dpy, gc, Rgb(20 + i * 12, 40 + i * 8, 70 + i * 10));
      XFillRectangle(dpy, back, gc, 0, i * h / 6, w, h / 6 + 1);
    }
    XSetForeground(dpy, gc, Rgb(235, 235, 230));
    XFillRectangle(dpy, back, gc, w / 2, h / 8, w / 3, h / 2);
    XSetForeground(dpy, gc, Rgb(20, 20, 20));
    for (int line = 0; line * 18 < h / 2 - 20; ++line) {
      char text[96];
      int n = std::snprintf(text, sizeof text, "line %02d  the quick brown fox %u", line,
                            (frame / 10 + line) % 1000);
      XDrawString(dpy, back, gc, w / 2 + 10, h / 8 + 18 + line * 18, text, n);
    }
    // Colour-cycling tile and the bouncing box: the parts that change.
    XSetForeground(dpy, gc, Rgb(frame * 7, frame * 3 + 80, 255 - frame * 5));
    XFillRectangle(dpy, back, gc, w / 10, h * 2 / 3, w / 5, h / 5);
    box_x += dx;
    box_y += dy;
    if (box_x < 0 || box_x + box > w) dx = -dx, box_x += 2 * dx;
    if (box_y < 0 || box_y + box > h) dy = -dy, box_y += 2 * dy;
    XSetForeground(dpy, gc, Rgb(250, 180, 40));
    XFillRectangle(dpy, back, gc, box_x, box_y, box, box);
    char counter[32];
    int n = std::snprintf(counter, sizeof counter, "frame %u", frame);
    XSetForeground(dpy, gc, Rgb(255, 255, 255));
    XDrawString(dpy, back, gc, 12, 20, counter, n);

    XCopyArea(dpy, back, win, gc, 0, 0, w, h, 0, 0);
    XSync(dpy, False);
    due += period;
    const auto now = std::chrono::steady_clock::now();
    if (due < now) due = now;
    std::this_thread::sleep_until(due);
  }
}
