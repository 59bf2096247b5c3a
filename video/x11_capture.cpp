// The X11 capture source: the XShm grabber with its damage reports, behind
// the capture interface. Threads: the owner's only.
#include <memory>
#include <string>

#include "video/capture_source.h"
#include "video/screen_grabber.h"

namespace lcx {
namespace {

class X11Capture final : public CaptureSource {
 public:
  explicit X11Capture(const std::string& monitor) { grabber_.set_monitor(monitor); }

  bool TryOpen(std::string* why) override { return grabber_.TryOpen(why); }

  CaptureState Next(CapturedFrame* frame) override {
    bool changed = true;
    const uint8_t* pixels = grabber_.GrabChanges(&changed);
    if (!pixels) return CaptureState::kLost;
    frame->pixels = pixels;
    frame->width = grabber_.width();
    frame->height = grabber_.height();
    frame->changed = changed;
    // The damage reports only say whether the monitor was hit.
    frame->area = changed ? PictureArea{0, 0, frame->width, frame->height} : PictureArea{};
    frame->changed_pixels = changed ? grabber_.changed_area() : 0;
    return CaptureState::kFrame;
  }

  void Close() override { grabber_.Close(); }
  bool is_open() const override { return grabber_.is_open(); }
  int width() const override { return grabber_.width(); }
  int height() const override { return grabber_.height(); }
  std::string Describe() const override { return "display \"" + DisplayName() + "\""; }

 private:
  ScreenGrabber grabber_;
};

}  // namespace

std::unique_ptr<CaptureSource> MakeX11Capture(const std::string& monitor) {
  return std::make_unique<X11Capture>(monitor);
}

}  // namespace lcx
