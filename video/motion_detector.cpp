// Motion state from changed areas, and the process-wide board.
#include "video/motion_detector.h"

#include <mutex>

namespace lcx {

bool MotionDetector::Feed(int64_t changed_px, int64_t total_px, int64_t now_ms) {
  if (options_.sensitivity_percent <= 0 || total_px <= 0) return motion_ = false;
  const double share = changed_px <= 0 ? 0.0 : static_cast<double>(changed_px) / static_cast<double>(total_px);
  window_.emplace_back(now_ms, share);
  if (share > 0) last_change_ms_ = now_ms;
  window_share_ += share;
  while (!window_.empty() && now_ms - window_.front().first >= 1000) {
    window_share_ -= window_.front().second;
    window_.pop_front();
  }
  if (window_.size() == 1) window_share_ = window_.front().second;  // no drift from the running sum
  if (window_share_ * 100.0 + 1e-9 >= options_.sensitivity_percent) {  // sums of shares are not exact
    // Held from the last change, not from when the window lets it go, so
    // motion ends motion_hold_s after the screen stood still.
    last_over_ms_ = last_change_ms_;
    motion_ = true;
  } else if (motion_ && now_ms - last_over_ms_ >= static_cast<int64_t>(options_.hold_s) * 1000) {
    motion_ = false;
  }
  return motion_;
}

bool MotionDetector::Still() {
  window_.clear();
  window_share_ = 0;
  return motion_ = false;
}

namespace {

std::mutex listener_mutex;
std::function<void(bool)>& Listener() {
  static std::function<void(bool)> listener;
  return listener;
}
std::atomic<bool> current{false};

}  // namespace

std::atomic<int64_t> MotionWatchedUntilMs{0};

void SetMotionListener(std::function<void(bool motion)> listener) {
  std::lock_guard lock(listener_mutex);
  Listener() = std::move(listener);
}

void PublishMotion(bool motion) {
  if (current.exchange(motion) == motion) return;
  std::lock_guard lock(listener_mutex);
  if (Listener()) Listener()(motion);
}

bool CurrentMotion() { return current.load(); }

}  // namespace lcx
