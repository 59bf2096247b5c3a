// The producer on a real X display with the real encoder: who gets which
// frame when, and the fixed-schedule clock of live frames.
#include "video/stream_producer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <thread>

#include "core/log.h"
#include "platform/system.h"
#include "video/motion_detector.h"
#include "video/requirements_testing.h"
#include "video/screen_grabber.h"
#include "video/x_server_testing.h"

namespace lcx {
namespace {

TEST(FramePacer, KeepsTheStreamClockOnTheWallClock) {
  constexpr int64_t kPeriod = 100;  // any unit; the pacer only adds and divides
  struct Step {
    int64_t work_done_at;  // when the frame's work ended, from its due time 0
    int64_t periods;       // time-stamp steps to the next frame
    int64_t next_due;
  };
  struct Case {
    const char* name;
    std::vector<Step> steps;
  } cases[] = {
      {"work fits: one step per frame, due times one period apart",
       {{25, 1, 100}, {125, 1, 200}, {290, 1, 300}}},
      {"overrun of 2.5 periods: capture at once, two steps",
       {{250, 2, 200}, {260, 1, 300}}},
      {"exactly one period of work is an overrun of one",
       {{100, 1, 100}, {150, 1, 200}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FramePacer p;
    p.period_ns = kPeriod;
    p.Restart(0);
    int64_t stamp = 0;
    for (const auto& s : c.steps) {
      stamp += p.Advance(s.work_done_at);
      EXPECT_EQ(p.due_ns, s.next_due);
    }
    int64_t expected = 0;
    for (const auto& s : c.steps) expected += s.periods;
    EXPECT_EQ(stamp, expected);
    // The stream clock never runs ahead of the time that really passed.
    EXPECT_LE(stamp * kPeriod, c.steps.back().work_done_at + kPeriod);
  }
}

// The start-up frame supplies the parameter sets every SDP carries: a
// failed encode must leave the channel as it was and say why, so that
// StartEngine can turn the stream off instead of offering an empty SDP.
TEST(StartParameterSets, StoredOnlyFromAGoodFirstFrame) {
  std::vector<uint8_t> px(64 * 64 * 4, 0x40);
  StreamChannel failed;
  H264Encoder closed;  // encodes nothing
  const char* why = StoreStartParameterSets(closed, px.data(), 64, 64, failed);
  ASSERT_NE(why, nullptr);
  EXPECT_STREQ(why, "its first frame could not be encoded");
  std::vector<uint8_t> sps, pps;
  std::string profile;
  CopyParameterSets(failed, sps, pps, profile);
  EXPECT_TRUE(sps.empty());
  EXPECT_TRUE(pps.empty());
  EXPECT_EQ(profile, "42C020");

  H264Encoder encoder;
  if (!encoder.Open(64, 64, 10, 256)) LCX_SKIP_OR_FAIL("OpenH264 library not installed");
  StreamChannel good;
  EXPECT_EQ(StoreStartParameterSets(encoder, px.data(), 64, 64, good), nullptr);
  CopyParameterSets(good, sps, pps, profile);
  ASSERT_FALSE(sps.empty());
  EXPECT_EQ(sps[0] & 0x1F, 7);
  EXPECT_EQ(pps[0] & 0x1F, 8);
  EXPECT_TRUE(good.queue.empty()) << "the start-up frame is not queued";
}

// OpenH264 opens at sizes under 16 but refuses to encode them: the sub-stream
// must go off (its SDP would carry empty parameter sets) and the main stay.
TEST(StartEngine, SubStreamWithoutAFirstFrameIsTurnedOff) {
  int w = 0, h = 0;
  if (!PrimaryScreenSize(&w, &h)) LCX_SKIP_OR_FAIL("no X display");
  H264Encoder probe;
  if (!probe.Open(16, 16, 10, 256)) LCX_SKIP_OR_FAIL("OpenH264 library not installed");
  VideoSettings s;
  s.fps = 10;
  s.main_scale_width = 320;
  s.main_scale_height = 180;
  s.sub_on = true;
  s.sub_width = 8;
  s.sub_height = 8;
  VideoEngine engine;
  ASSERT_TRUE(StartEngine(engine, s));
  EXPECT_FALSE(engine.sub_on);
  EXPECT_NE(ReadLog().find("Video: sub-stream at 8x8 turned off: its first frame could not be encoded\n"),
            std::string::npos);
  std::vector<uint8_t> sps, pps;
  std::string profile;
  CopyParameterSets(engine.sub_channel, sps, pps, profile);
  EXPECT_TRUE(sps.empty());
  CopyParameterSets(engine.main_channel, sps, pps, profile);
  EXPECT_FALSE(sps.empty()) << "the main stream is unaffected";
}

class ProducerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    int w = 0, h = 0;
    if (!PrimaryScreenSize(&w, &h)) LCX_SKIP_OR_FAIL("no X display");
    VideoSettings s;
    s.fps = 10;
    s.main_scale_width = 320;  // small pictures keep the encodes cheap
    s.main_scale_height = 180;
    s.sub_on = true;
    s.sub_width = 160;
    s.sub_height = 90;
    StreamPaused.store(false);
    {
      H264Encoder probe;
      if (!probe.Open(64, 64, 10, 256)) LCX_SKIP_OR_FAIL("OpenH264 library not installed");
    }
    // With the screen and the encoder at hand the engine must start.
    ASSERT_TRUE(StartEngine(engine_, s));
    producer_ = std::thread([this] { RunProducer(engine_); });
  }
  void TearDown() override {
    if (producer_.joinable()) {
      {
        std::lock_guard lock(engine_.viewer_mutex);
        engine_.stop = true;
      }
      engine_.wake_up.notify_all();
      producer_.join();
    }
    StreamPaused.store(false);
  }
  void Watch() {
    {
      std::lock_guard lock(engine_.viewer_mutex);
      if (engine_.ViewerCount.fetch_add(1) == 0) engine_.KeyframeRequest = true;
    }
    engine_.wake_up.notify_all();
  }
  std::vector<FrameEntry> Take(StreamChannel& ch, int n) {
    std::vector<FrameEntry> out;
    std::optional<uint64_t> cursor;
    for (int i = 0; i < n; ++i) {
      FrameEntry e = WaitNextFrame(ch, cursor, std::chrono::milliseconds(3000));
      if (!e.access_unit) break;
      out.push_back(e);
    }
    return out;
  }

  VideoEngine engine_;
  std::thread producer_;
};

TEST_F(ProducerTest, StartStoresParameterSetsOfBothStreams) {
  EXPECT_TRUE(engine_.main_scaled);
  EXPECT_EQ(engine_.main_width, 320);
  EXPECT_TRUE(engine_.sub_on);
  for (StreamChannel* ch : {&engine_.main_channel, &engine_.sub_channel}) {
    std::vector<uint8_t> sps, pps;
    std::string profile;
    CopyParameterSets(*ch, sps, pps, profile);
    ASSERT_GE(sps.size(), 4u);
    EXPECT_EQ(sps[0] & 0x1F, 7);
    EXPECT_EQ(pps[0] & 0x1F, 8);
    EXPECT_EQ(profile.size(), 6u);
  }
  EXPECT_TRUE(engine_.main_channel.queue.empty()) << "start-up frames are not queued";
}

TEST_F(ProducerTest, NobodyWatchingGrabsNothingThenLiveStartsWithAKeyFrame) {
  SleepMs(500);
  EXPECT_EQ(engine_.frames_grabbed.load(), 0u);
  Watch();
  auto main = Take(engine_.main_channel, 12);
  auto sub = Take(engine_.sub_channel, 3);
  ASSERT_EQ(main.size(), 12u);
  ASSERT_EQ(sub.size(), 3u);
  EXPECT_TRUE(main[0].key);
  EXPECT_TRUE(sub[0].key);
  EXPECT_FALSE(main[1].key) << "the first viewer's request gives one IDR, not two";
  EXPECT_FALSE(sub[1].key);
  int one_step = 0;
  for (size_t i = 1; i < main.size(); ++i) {
    EXPECT_EQ(main[i].sequence, main[i - 1].sequence + 1);
    const uint32_t delta = main[i].timestamp - main[i - 1].timestamp;
    EXPECT_EQ(delta % 9000, 0u);
    EXPECT_GE(delta, 9000u);
    one_step += delta == 9000;
  }
  EXPECT_GE(one_step, 8) << "small frames fit in the period";
  int keys = 0;
  for (size_t i = 2; i < main.size(); ++i) keys += main[i].key;
  EXPECT_GE(keys, 1) << "the encoder makes one IDR per fps frames";
}

TEST_F(ProducerTest, PausedStreamCarriesThePausedPictureTwiceASecond) {
  StreamPaused.store(true);
  Watch();
  auto main = Take(engine_.main_channel, 3);
  ASSERT_EQ(main.size(), 3u);
  EXPECT_TRUE(main[0].key);
  EXPECT_EQ(main[1].timestamp - main[0].timestamp, 45000u);
  EXPECT_EQ(main[2].timestamp - main[1].timestamp, 45000u);
  StreamPaused.store(false);
  std::optional<uint64_t> cursor = main.back().sequence;
  // Resuming forces an IDR of the live picture: at most one more paused
  // frame (not a key frame) can come before it.
  const uint64_t grabbed = engine_.frames_grabbed.load();
  bool key_seen = false;
  for (int i = 0; i < 2 && !key_seen; ++i) {
    FrameEntry next = WaitNextFrame(engine_.main_channel, cursor, std::chrono::milliseconds(3000));
    ASSERT_TRUE(next.access_unit);
    key_seen = next.key;
  }
  EXPECT_TRUE(key_seen);
  EXPECT_GT(engine_.frames_grabbed.load(), grabbed) << "live capture resumed";
}

// A window over the whole screen, mapped until destroyed.
class CoverWindow {
 public:
  explicit CoverWindow(unsigned long rgb) : dpy_(XOpenDisplay(nullptr)) {
    if (!dpy_) return;
    const int screen = DefaultScreen(dpy_);
    XSetWindowAttributes attrs{};
    attrs.override_redirect = True;
    attrs.background_pixel = rgb;
    win_ = XCreateWindow(dpy_, RootWindow(dpy_, screen), 0, 0, static_cast<unsigned>(DisplayWidth(dpy_, screen)),
                         static_cast<unsigned>(DisplayHeight(dpy_, screen)), 0, CopyFromParent, InputOutput,
                         CopyFromParent, CWOverrideRedirect | CWBackPixel, &attrs);
    XMapRaised(dpy_, win_);
    XSync(dpy_, False);
  }
  ~CoverWindow() {
    if (!dpy_) return;
    XDestroyWindow(dpy_, win_);
    XCloseDisplay(dpy_);
  }
  CoverWindow(const CoverWindow&) = delete;
  CoverWindow& operator=(const CoverWindow&) = delete;

 private:
  Display* dpy_;
  Window win_ = 0;
};

bool MotionBecomes(bool want) {
  for (const uint64_t until = BootTickMs() + 15000; BootTickMs() < until; SleepMs(10)) {
    if (CurrentMotion() == want) return true;
  }
  return false;
}

// Motion comes from what the captures found changed: with a viewer, and
// for a motion subscriber alone (captured then, never encoded); paused,
// there is none.
TEST_F(ProducerTest, MotionFromTheCapturesWithOrWithoutViewers) {
  ASSERT_TRUE(MotionBecomes(false));
  MotionWatchedUntilMs.store(INT64_MAX);
  {
    CoverWindow cover(0xC81E0A);
    EXPECT_TRUE(MotionBecomes(true)) << "a subscriber alone";
  }
  std::optional<uint64_t> cursor;
  EXPECT_EQ(WaitNextFrame(engine_.main_channel, cursor, std::chrono::milliseconds(300)).access_unit, nullptr)
      << "nothing encoded for a subscriber";
  StreamPaused.store(true);
  EXPECT_TRUE(MotionBecomes(false)) << "paused";
  StreamPaused.store(false);
  MotionWatchedUntilMs.store(0);

  Watch();
  ASSERT_EQ(Take(engine_.main_channel, 2).size(), 2u);
  CoverWindow cover(0x0A1EC8);
  EXPECT_TRUE(MotionBecomes(true)) << "with a viewer";
}

TEST_F(ProducerTest, AViewerWhoComesLaterGetsNoFrameFromBeforeTheIdleTime) {
  Watch();
  auto first = Take(engine_.main_channel, 5);
  ASSERT_EQ(first.size(), 5u);
  {
    std::lock_guard lock(engine_.viewer_mutex);
    engine_.ViewerCount.fetch_sub(1);
  }
  engine_.wake_up.notify_all();
  // The producer notices within its idle wait; the queue must then be empty.
  bool emptied = false;
  for (int i = 0; i < 300 && !emptied; ++i) {
    SleepMs(10);
    std::lock_guard lock(engine_.main_channel.mutex);
    emptied = engine_.main_channel.queue.empty();
  }
  EXPECT_TRUE(emptied) << "old frames still queued while nobody watches";
  Watch();
  auto later = Take(engine_.main_channel, 1);
  ASSERT_EQ(later.size(), 1u);
  EXPECT_TRUE(later[0].key);
  EXPECT_GT(later[0].sequence, first.back().sequence);
}

// The producer on its own X server, which the test ends and restarts.
class DisplayLossTest : public ProducerTest {
 protected:
  void SetUp() override {
    if (!server_.Start("640x480x24")) LCX_SKIP_OR_FAIL("no Xvfb");
    ProducerTest::SetUp();
  }
  static size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
  }
  // Reads frames until one is followed by a time-stamp step of `step`; that
  // frame, the first of the new period. False after `limit` frames.
  bool FirstOfRun(std::optional<uint64_t>& cursor, uint32_t step, int limit, FrameEntry& first) {
    FrameEntry prev = WaitNextFrame(engine_.main_channel, cursor, std::chrono::milliseconds(3000));
    for (int i = 0; i < limit && prev.access_unit; ++i) {
      FrameEntry next = WaitNextFrame(engine_.main_channel, cursor, std::chrono::milliseconds(3000));
      if (!next.access_unit) return false;
      if (next.timestamp - prev.timestamp == step) {
        first = prev;
        return true;
      }
      prev = next;
    }
    return false;
  }

  testing_x::TestXServer server_;
};

TEST_F(DisplayLossTest, ViewersGetThePausedPictureUntilANewServerBringsTheScreenBack) {
  const std::string lost = "Screen: display \"" + server_.name() + "\" lost; streaming the paused picture until it returns\n";
  // The user logs in again at another resolution: the streams keep their size.
  const std::string back = "Screen: display \"" + server_.name() + "\" is back at 800x600, scaled to 640x480\n";
  Watch();
  std::optional<uint64_t> cursor;
  FrameEntry first;
  ASSERT_TRUE(FirstOfRun(cursor, 9000, 5, first));
  EXPECT_TRUE(first.key) << "live from the start";

  server_.Kill();
  ASSERT_TRUE(FirstOfRun(cursor, 45000, 10, first)) << "the stream goes on at two frames a second";
  EXPECT_TRUE(first.key) << "the paused picture starts with a key frame";
  const uint64_t grabbed = engine_.frames_grabbed.load();

  ASSERT_TRUE(server_.Start("800x600x24"));
  ASSERT_TRUE(FirstOfRun(cursor, 9000, 10, first)) << "live again within a few seconds";
  EXPECT_TRUE(first.key) << "the returning screen starts with a key frame";
  EXPECT_GT(engine_.frames_grabbed.load(), grabbed);
  const std::string log = ReadLog();
  EXPECT_EQ(Count(log, lost), 1u) << log;
  EXPECT_EQ(Count(log, back), 1u) << log;
}

}  // namespace
}  // namespace lcx
