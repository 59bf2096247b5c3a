// The process-wide capture source and the size the streams start at.
// Threads: written once on the main thread before any server thread starts,
// read-only afterwards.
#include <string>

#include "core/log.h"
#include "video/capture_source.h"
#include "video/portal_capture.h"

namespace lcx {
namespace {

CaptureSource* g_shared = nullptr;
int g_start_width = 0, g_start_height = 0;
std::string* g_monitor = nullptr;

}  // namespace

CaptureSource& StartSharedCapture(const CaptureChoice& choice, int wait_ms, int* width, int* height) {
  int w = 0, h = 0;
  g_monitor = new std::string(choice.monitor);
  if (choice.kind == CaptureKind::kPortal) {
    PortalOptions options;
    options.token_path = choice.token_path;
    auto* portal = new PortalCapture(options);
    LogLine("Screen: Wayland session: capturing through the ScreenCast portal\n");
    std::string why;
    portal->TryOpen(&why);
    if (!portal->WaitForSize(wait_ms, &w, &h)) {
      LogLine("Screen: the portal has not given the screen's size yet; streams start at %dx%d\n",
              kFallbackScreenWidth, kFallbackScreenHeight);
    }
    g_shared = portal;
  } else {
    CaptureSource* x11 = MakeX11Capture(choice.monitor).release();
    std::string why;
    if (x11->TryOpen(&why)) {
      w = x11->width();
      h = x11->height();
    } else {
      LogLine("Screen: %s; streaming the \"no screen\" picture and trying again every second\n", why.c_str());
    }
    g_shared = x11;
  }
  if (w < 1 || h < 1) {
    w = kFallbackScreenWidth;
    h = kFallbackScreenHeight;
  }
  g_start_width = *width = w;
  g_start_height = *height = h;
  return *g_shared;
}

CaptureSource* SharedCapture() { return g_shared; }

bool CaptureIsPortal() { return dynamic_cast<PortalCapture*>(g_shared) != nullptr; }

std::string SharedCaptureMonitor() { return g_monitor ? *g_monitor : std::string(); }

void SharedCaptureStartSize(int* width, int* height) {
  *width = g_start_width;
  *height = g_start_height;
}

}  // namespace lcx
