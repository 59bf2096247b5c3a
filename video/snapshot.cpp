// Still pictures of the screen: the web preview at native size (or the
// paused card) and the ONVIF snapshot averaged down to a requested size,
// both as JPEG, and the paused picture written as PNG for --dump-screens.
// Threads: calls come from many connection threads at once; buffers and
// encoders are per call. One screen grabber is kept between calls behind its
// own mutex, which is only ever tried; the grabber's X connection lock is
// taken inside it (opening and closing), never the other way round.
#include "video/snapshot.h"

#include <memory>
#include <mutex>
#include <new>

#include "video/cairo_handles.h"  // kMaxSurfaceSide: the card is drawn by Cairo
#include "video/image_codec.h"
#include "video/paused_picture.h"
#include "video/portal_capture.h"
#include "video/scale.h"
#include "video/stream_producer.h"

namespace lcx {
namespace {

// One grabber is kept between snapshots: a display connection and a fresh
// shared-memory segment per picture cost several times the picture itself.
// A caller that finds it busy opens its own for that one picture.
struct SnapshotGrabber {
  std::mutex mutex;
  std::unique_ptr<ScreenGrabber> grabber;  // guarded by mutex
};

}  // namespace

bool ScreenSizeNow(int* w, int* h) {
  if (auto* portal = dynamic_cast<PortalCapture*>(SharedCapture())) {
    *w = portal->width();
    *h = portal->height();
    if (*w < 1 || *h < 1) SharedCaptureStartSize(w, h);
    return *w > 0 && *h > 0;
  }
  return MonitorSize(SharedCaptureMonitor(), w, h);
}

namespace {

// The notice a still shows while the portal shares no screen, at the start
// size; false for a caller that started no capture (tests).
template <typename Use>
bool WithNotice(ScreenNotice notice, Use use) {
  int w = 0, h = 0;
  SharedCaptureStartSize(&w, &h);
  if (!SharedCapture() || w < 1 || h < 1) return false;
  std::vector<uint8_t> picture;
  FillNoticePicture(w, h, notice, picture);
  if (picture.empty()) return false;
  use(picture.data(), w, h);
  return true;
}

// Calls use(pixels, width, height) with the current screen (the portal's
// latest picture, or an X11 copy); the portal's notice picture while it
// shares nothing; false when there is no X display or the copy fails.
template <typename Use>
bool WithScreen(Use use) {
  if (auto* portal = dynamic_cast<PortalCapture*>(SharedCapture())) {
    std::vector<uint8_t> picture;
    int pw = 0, ph = 0;
    const CaptureState state = portal->LatestPicture(picture, &pw, &ph);
    if (state == CaptureState::kFrame) {
      use(picture.data(), pw, ph);
      return true;
    }
    return WithNotice(state == CaptureState::kWaiting ? ScreenNotice::kWaiting : ScreenNotice::kNotShared, use);
  }
  // Never destroyed: detached server threads may take snapshots while the
  // process exits.
  static SnapshotGrabber* shared = new SnapshotGrabber;
  const std::string monitor = SharedCaptureMonitor();
  int w = 0, h = 0;
  // Without a display a still fails, as it always has: recorders count it as no picture.
  if (!MonitorSize(monitor, &w, &h)) return false;
  std::unique_lock lock(shared->mutex, std::try_to_lock);
  if (!lock.owns_lock()) {
    ScreenGrabber own;
    own.set_monitor(monitor);
    const uint8_t* pixels = own.Open() ? own.Grab() : nullptr;
    if (!pixels) return false;
    use(pixels, own.width(), own.height());
    return true;
  }
  std::unique_ptr<ScreenGrabber>& kept = shared->grabber;
  if (kept && (kept->width() != w || kept->height() != h)) kept.reset();  // start over at the new size
  // The kept connection may have died with an X server that has since been
  // replaced (the size was just read from the new one): one fresh try.
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (!kept) {
      auto fresh = std::make_unique<ScreenGrabber>();
      fresh->set_monitor(monitor);
      if (!fresh->Open()) return false;
      kept = std::move(fresh);
    }
    if (const uint8_t* pixels = kept->Grab()) {
      use(pixels, kept->width(), kept->height());
      return true;
    }
    kept.reset();
  }
  return false;
}

}  // namespace

bool SavePausedPng(const std::string& path) { return SaveNoticePng(path, ScreenNotice::kPaused); }

bool SaveNoticePng(const std::string& path, ScreenNotice notice) {
  constexpr int kWidth = 1280, kHeight = 720;
  std::vector<uint8_t> pixels;
  FillNoticePicture(kWidth, kHeight, notice, pixels);
  if (pixels.empty()) return false;
  return WriteBgrxPng(pixels.data(), kWidth, kHeight, path);
}

std::vector<uint8_t> CaptureSnapshotJpeg() {
  constexpr int kQuality = 55;
  if (StreamPaused.load()) {
    int w = 0, h = 0;
    if (!ScreenSizeNow(&w, &h) || w > kMaxSurfaceSide || h > kMaxSurfaceSide) return {};
    std::vector<uint8_t> card;
    try {
      card.resize(static_cast<size_t>(w) * h * 4);
    } catch (const std::bad_alloc&) {
      return {};
    }
    DrawPausedCard(card.data(), w, h);
    return EncodeBgrxJpeg(card.data(), w, h, kQuality);
  }
  std::vector<uint8_t> jpeg;
  WithScreen([&](const uint8_t* screen, int w, int h) { jpeg = EncodeBgrxJpeg(screen, w, h, kQuality); });
  return jpeg;
}

bool EncodeScreenJpeg(int width, int height, std::vector<uint8_t>& out) {
  constexpr int kQuality = 80;
  out.clear();
  if (width < 1 || height < 1 || width > kMaxJpegSide || height > kMaxJpegSide) return false;
  WithScreen([&](const uint8_t* screen, int w, int h) {
    if (w == width && h == height) {
      out = EncodeBgrxJpeg(screen, width, height, kQuality);
      return;
    }
    try {
      std::vector<uint8_t> scaled(static_cast<size_t>(width) * height * 4);
      ScaleArea(screen, w, h, scaled.data(), width, height);
      out = EncodeBgrxJpeg(scaled.data(), width, height, kQuality);
    } catch (const std::bad_alloc&) {
      out.clear();
    }
  });
  return !out.empty();
}

}  // namespace lcx
