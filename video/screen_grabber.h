// Copies the primary monitor (or the one named by set_monitor) of $DISPLAY into one reused top-down BGRX buffer.
// The monitor rectangle is read once at Open and kept for the grabber's life.
// MIT-SHM is used when the server offers it (the buffer is then the shared
// segment itself); otherwise XGetImage fills a plain buffer. The DAMAGE
// extension tells whether the monitor changed since the last copy. A connection
// the X server drops (log-out, a crash) marks the grabber lost instead of
// ending the process, as Xlib would by default.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace lcx {

// Size of the primary monitor (XRandR primary output; the root window when
// there is none). False when no display can be opened.
bool PrimaryScreenSize(int* width, int* height);
// As PrimaryScreenSize for the monitor the grabber's set_monitor names.
bool MonitorSize(const std::string& monitor, int* width, int* height);

// The display Xlib connects to ($DISPLAY, or what Xlib assumes), for log lines.
std::string DisplayName();

class ScreenGrabber {
 public:
  ScreenGrabber();
  ~ScreenGrabber();
  ScreenGrabber(const ScreenGrabber&) = delete;
  ScreenGrabber& operator=(const ScreenGrabber&) = delete;

  // Connects to the display and sizes the buffer; false when there is no
  // display, no usable monitor or an unsupported pixel format, logged once.
  bool Open();
  // As Open, for a caller that retries: the reason of a failure goes to *why
  // instead of the log.
  bool TryOpen(std::string* why);
  // The screen's current contents (stride = width()). Always the same buffer;
  // a failed copy leaves the previous contents. Null when not open or when
  // the connection to the X server is lost (lost() then says so; Open again
  // to reconnect).
  const uint8_t* Grab();
  // As Grab, for a caller that repeats it every frame: *changed says whether
  // the picture differs from the one the previous call returned (true on the
  // first call after Open). The X server's damage reports on the monitor
  // decide without copying, so an unchanged screen is not copied at all;
  // without the DAMAGE extension the copy is compared with the previous one.
  const uint8_t* GrabChanges(bool* changed);
  // Pixels of the monitor the last GrabChanges found changed: the damaged
  // area, or without damage reports the rows between the first and the last
  // that differ; the whole monitor after Open.
  int64_t changed_area() const { return changed_area_; }
  void Close();
  // A RandR output name to capture instead of the primary monitor, from the
  // next Open; empty, or a name the display does not have, means the primary.
  void set_monitor(const std::string& name) { monitor_ = name; }

  bool is_open() const { return x_ != nullptr; }
  bool lost() const;

  int width() const { return width_; }
  int height() const { return height_; }
  bool uses_shared_memory() const;
  bool uses_damage() const;

 private:
  struct X11State;
  static void StartDamageReports(X11State& x);
  std::unique_ptr<X11State> x_;
  int64_t changed_area_ = 0;
  std::string monitor_;
  int width_ = 0;
  int height_ = 0;
};

}  // namespace lcx
