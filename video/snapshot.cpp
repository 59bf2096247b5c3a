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

// Calls use(pixels, width, height) with the current screen; false when there
// is no display or the copy fails.
template <typename Use>
bool WithScreen(Use use) {
  // Never destroyed: detached server threads may take snapshots while the
  // process exits.
  static SnapshotGrabber* shared = new SnapshotGrabber;
  int w = 0, h = 0;
  if (!PrimaryScreenSize(&w, &h)) return false;  // the size is read afresh for every picture
  std::unique_lock lock(shared->mutex, std::try_to_lock);
  if (!lock.owns_lock()) {
    ScreenGrabber own;
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

bool SavePausedPng(const std::string& path) {
  constexpr int kWidth = 1280, kHeight = 720;
  std::vector<uint8_t> pixels;
  FillPausedPicture(kWidth, kHeight, pixels);
  if (pixels.empty()) return false;
  return WriteBgrxPng(pixels.data(), kWidth, kHeight, path);
}

std::vector<uint8_t> CaptureSnapshotJpeg() {
  constexpr int kQuality = 55;
  if (StreamPaused.load()) {
    int w = 0, h = 0;
    if (!PrimaryScreenSize(&w, &h) || w > kMaxSurfaceSide || h > kMaxSurfaceSide) return {};
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
