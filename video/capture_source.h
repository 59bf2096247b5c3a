// Where the screen comes from: the X11 grabber or the ScreenCast portal's
// PipeWire stream, behind one interface, so the producer, the skipped
// pictures and the stills see no difference. The kind is chosen once at
// start-up from the session and the key "capture".
// Threads: a source is used by one thread (the producer); the portal source
// also answers LatestPicture from any thread (see portal_capture.h).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace lcx {

enum class CaptureKind { kX11, kPortal };

// `setting` is the key "capture": "x11" and "portal" force a kind, anything
// else ("auto", empty) follows the session: WAYLAND_DISPLAY set, or
// XDG_SESSION_TYPE "wayland", means the portal (Xwayland's root window holds
// nothing of the desktop), otherwise X11.
CaptureKind ChooseCaptureKind(std::string_view setting, const char* wayland_display, const char* session_type);
const char* CaptureKindName(CaptureKind kind);

// A rectangle of the picture; width or height 0 means nothing.
struct PictureArea {
  int x = 0, y = 0, width = 0, height = 0;
  bool empty() const { return width <= 0 || height <= 0; }
};
// The smallest rectangle holding both.
PictureArea UniteAreas(const PictureArea& a, const PictureArea& b);
// `a` cut to a width x height picture.
PictureArea ClipArea(const PictureArea& a, int width, int height);

// What a source has for the current frame period.
enum class CaptureState {
  kFrame,      // the picture below holds the screen
  kWaiting,    // connected, no picture yet (a portal stream sends none while the screen is still)
  kNotShared,  // the portal is missing, refused, or the desktop ended the sharing
  kLost,       // the display went away; Close and open again
};

struct CapturedFrame {
  const uint8_t* pixels = nullptr;  // top-down BGRX, stride width * 4; valid until the next Next
  int width = 0, height = 0;
  bool changed = true;  // differs from what the previous Next returned
  PictureArea area;     // what changed (the whole picture when the source cannot tell)
  int64_t changed_pixels = 0;  // how many of its pixels changed (damage counted by area), for motion
};

class CaptureSource {
 public:
  virtual ~CaptureSource() = default;
  // Connects; false with the reason in *why when it cannot (yet). A portal
  // source only starts its session here and reports the outcome by Next.
  virtual bool TryOpen(std::string* why) = 0;
  virtual CaptureState Next(CapturedFrame* frame) = 0;
  virtual void Close() = 0;
  virtual bool is_open() const = 0;
  // The screen's size; 0 until it is known.
  virtual int width() const = 0;
  virtual int height() const = 0;
  // For log lines: "display \":1\"", "the ScreenCast portal".
  virtual std::string Describe() const = 0;
};

std::unique_ptr<CaptureSource> MakeX11Capture(const std::string& monitor);

// The size streams are made at when the screen's is not known at start (no
// display yet, a portal still asking): a later screen is scaled to it.
constexpr int kFallbackScreenWidth = 1920, kFallbackScreenHeight = 1080;

struct CaptureChoice {
  CaptureKind kind = CaptureKind::kX11;
  std::string monitor;     // X11: a RandR output name; empty: the primary
  std::string token_path;  // portal: where the restore token is kept
};

// The program's one capture source, made on the main thread at start-up
// before any server and never destroyed (detached threads use it until the
// process ends). Opens it once (the portal: starts its session and waits up
// to `wait_ms` for the stream's size) and gives the size the streams are
// made at: the screen's, or the fallback size when it is not known yet.
CaptureSource& StartSharedCapture(const CaptureChoice& choice, int wait_ms, int* width, int* height);
// Null before StartSharedCapture (tests that start an engine directly).
CaptureSource* SharedCapture();
// True when the program's screen comes through the ScreenCast portal.
bool CaptureIsPortal();
// The size StartSharedCapture gave, and the X11 monitor it was told.
void SharedCaptureStartSize(int* width, int* height);
std::string SharedCaptureMonitor();

// Raised by "Share the screen again" (tray, desktop window, web panel): the
// portal source starts a new session, asking the desktop again when needed.
extern std::atomic<bool> ShareScreenAgain;
// Raises it, with one log line.
void AskToShareScreenAgain();

}  // namespace lcx
