// The choice of capture at start-up and the rectangle arithmetic the sources
// share. No state but the share-again request.
#include "video/capture_source.h"

#include <algorithm>
#include <cstring>

#include "core/log.h"

namespace lcx {

std::atomic<bool> ShareScreenAgain{false};

void AskToShareScreenAgain() {
  ShareScreenAgain.store(true);
  LogLine("Screen: asked to share the screen again\n");
}

CaptureKind ChooseCaptureKind(std::string_view setting, const char* wayland_display, const char* session_type) {
  if (setting == "x11") return CaptureKind::kX11;
  if (setting == "portal") return CaptureKind::kPortal;
  if (wayland_display && *wayland_display) return CaptureKind::kPortal;
  if (session_type && std::strcmp(session_type, "wayland") == 0) return CaptureKind::kPortal;
  return CaptureKind::kX11;
}

const char* CaptureKindName(CaptureKind kind) {
  return kind == CaptureKind::kPortal ? "the ScreenCast portal" : "X11";
}

PictureArea UniteAreas(const PictureArea& a, const PictureArea& b) {
  if (a.empty()) return b;
  if (b.empty()) return a;
  const int x0 = std::min(a.x, b.x), y0 = std::min(a.y, b.y);
  const int x1 = std::max(a.x + a.width, b.x + b.width), y1 = std::max(a.y + a.height, b.y + b.height);
  return {x0, y0, x1 - x0, y1 - y0};
}

PictureArea ClipArea(const PictureArea& a, int width, int height) {
  if (a.empty()) return {};
  // 64-bit ends: a compositor's rectangle may sit anywhere in int range.
  const long long x0 = std::max<long long>(a.x, 0), y0 = std::max<long long>(a.y, 0);
  const long long x1 = std::min<long long>(static_cast<long long>(a.x) + a.width, width);
  const long long y1 = std::min<long long>(static_cast<long long>(a.y) + a.height, height);
  if (x1 <= x0 || y1 <= y0) return {};
  return {static_cast<int>(x0), static_cast<int>(y0), static_cast<int>(x1 - x0), static_cast<int>(y1 - y0)};
}

}  // namespace lcx
