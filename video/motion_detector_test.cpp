#include "video/motion_detector.h"

#include <gtest/gtest.h>

#include <vector>

namespace lcx {
namespace {

constexpr int64_t kScreen = 1280 * 720;

// A scene fed at 10 captures a second for `seconds`, each capture changing
// `px`; returns the state after each second.
std::vector<bool> Capture(MotionDetector& d, int64_t& now_ms, double seconds, int64_t px) {
  std::vector<bool> out;
  for (int i = 1; i <= static_cast<int>(seconds * 10); ++i) {
    now_ms += 100;
    bool m = d.Feed(px, kScreen, now_ms);
    if (i % 10 == 0) out.push_back(m);
  }
  return out;
}

TEST(MotionDetector, SmallChangesStayStillLargeOnesMove) {
  struct Case {
    const char* name;
    int64_t px_per_capture;
    bool motion;
  } cases[] = {
      {"nothing", 0, false},
      // A text cursor of 2 x 18 pixels, drawn or erased at every capture.
      {"blinking cursor", 2 * 18, false},
      // A clock of 80 x 20 pixels redrawn at every capture (more than it ticks).
      {"ticking clock", 80 * 20, false},
      {"a window of 400 x 300 moving", 2 * 400 * 300, true},
      {"a 320 x 180 video playing", 320 * 180, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MotionDetector d;
    int64_t now = 1000;
    std::vector<bool> states = Capture(d, now, 3, c.px_per_capture);
    EXPECT_EQ(states.back(), c.motion);
  }
}

TEST(MotionDetector, RaisedAtOnceHeldThenCleared) {
  MotionDetector d({2, 3});
  int64_t now = 5000;
  Capture(d, now, 2, 0);
  now += 100;
  EXPECT_TRUE(d.Feed(kScreen / 10, kScreen, now)) << "one large change raises it";
  // Still from here: held for the hold time after that change (not after
  // it leaves the one-second window), then cleared.
  std::vector<bool> states = Capture(d, now, 5, 0);
  EXPECT_EQ(states, (std::vector<bool>{true, true, false, false, false}));
}

TEST(MotionDetector, SmallChangesAddUpWithinOneSecondOnly) {
  MotionDetector d({2, 1});
  int64_t now = 0;
  // 1% of the screen twice a second: 2% within every second.
  for (int i = 0; i < 4; ++i) {
    now += 500;
    d.Feed(kScreen / 100, kScreen, now);
  }
  EXPECT_TRUE(d.motion());
  MotionDetector slow({2, 1});
  now = 0;
  // The same amount once every 1.1 s: never 2% within a second.
  for (int i = 0; i < 6; ++i) {
    now += 1100;
    EXPECT_FALSE(slow.Feed(kScreen / 50 - 1, kScreen, now));
  }
}

TEST(MotionDetector, OffAndStill) {
  MotionDetector off({0, 5});
  EXPECT_FALSE(off.Feed(kScreen, kScreen, 100)) << "sensitivity 0 turns detection off";
  MotionDetector d;
  EXPECT_TRUE(d.Feed(kScreen, kScreen, 100));
  EXPECT_FALSE(d.Still()) << "paused: no motion, whatever was held";
  EXPECT_FALSE(d.Feed(0, kScreen, 200));
}

TEST(MotionBoard, TellsTheListenerOnChangesOnly) {
  std::vector<bool> heard;
  SetMotionListener([&](bool m) { heard.push_back(m); });
  PublishMotion(false);
  PublishMotion(true);
  PublishMotion(true);
  PublishMotion(false);
  SetMotionListener(nullptr);
  EXPECT_EQ(heard, (std::vector<bool>{true, false}));
  EXPECT_FALSE(CurrentMotion());
}

}  // namespace
}  // namespace lcx
