// Motion from the screen's changes: fed with the part of the picture that
// changed at each capture (what the damage reports or the frame comparison
// already found, so no pixel is looked at again), it says whether the screen
// moves. The detector is pure and owned by the producer thread; the board at
// the end is process-wide (atomics, and one mutex around the listener).
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <utility>

namespace lcx {

inline constexpr int kDefaultMotionSensitivity = 2;  // percent of the picture in a second
inline constexpr int kDefaultMotionHoldS = 5;

struct MotionOptions {
  // The share of the picture (percent) that must change within a second;
  // 0 turns the detection off. A blinking cursor or a ticking clock stay
  // well below the default, a moved window or a playing video far above.
  int sensitivity_percent = kDefaultMotionSensitivity;
  int hold_s = kDefaultMotionHoldS;  // motion lasts this long after the last change of such a second
};

class MotionDetector {
 public:
  explicit MotionDetector(MotionOptions options = {}) : options_(options) {}
  // `changed_px` of the picture's `total_px` changed in the capture taken at
  // `now_ms` (since the previous capture). Returns the motion state.
  bool Feed(int64_t changed_px, int64_t total_px, int64_t now_ms);
  // Nothing is captured (stream paused, display gone): no motion.
  bool Still();
  bool motion() const { return motion_; }

 private:
  MotionOptions options_;
  std::deque<std::pair<int64_t, double>> window_;  // (time, share) of the last second
  double window_share_ = 0;
  int64_t last_change_ms_ = 0;
  int64_t last_over_ms_ = 0;
  bool motion_ = false;
};

// Process-wide: the latest state the producer found, told to one listener
// (the ONVIF event service) when it changes. The listener is set once
// before the producer starts and called on the producer's thread.
void SetMotionListener(std::function<void(bool motion)> listener);
void PublishMotion(bool motion);
bool CurrentMotion();
// Until when (steady clock, ms) someone subscribes to the motion: till then
// the producer also captures (without encoding) when nobody watches a
// stream. A subscriber that vanishes without unsubscribing stops it at its
// subscription's end.
extern std::atomic<int64_t> MotionWatchedUntilMs;

}  // namespace lcx
