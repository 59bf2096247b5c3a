// Engine start and the producer thread: one capture per frame feeds both
// streams, one encode per stream per frame whatever the number of clients.
#include "video/stream_producer.h"

#include <chrono>
#include <thread>

#include "core/log.h"
#include "video/motion_detector.h"
#include "video/paused_picture.h"
#include "video/scale.h"

namespace lcx {

std::atomic<bool> StreamPaused{false};

namespace {

using Clock = std::chrono::steady_clock;

int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

// Motion from what the capture found changed; nothing new is computed.
void FeedMotion(const VideoEngine& e, MotionDetector& motion) {
  PublishMotion(motion.Feed(e.changed_pixels, e.captured_pixels, NowNs() / 1'000'000));
}

// Queues one frame period's access unit of a stream; a failed or empty
// encode queues nothing.
void SendFrame(FrameSequencer& sequence, H264Encoder& encoder, const uint8_t* pixels, int stride_px, int height,
               bool changed, bool key_request, StreamChannel& channel, uint32_t timestamp, size_t max_length) {
  std::vector<uint8_t> au;
  if (!sequence.Next(encoder, pixels, stride_px, height, changed, key_request, au) || au.empty()) return;
  const bool key = HasNalType(au.data(), au.size(), 5);
  PushFrame(channel, std::move(au), key, timestamp, max_length);
}

// Prepares a stream's still-screen shortcut from the parameter sets stored
// at start; without it the stream encodes every frame, as said in the log.
void StartSequence(FrameSequencer& sequence, int fps, StreamChannel& channel, const char* stream) {
  std::vector<uint8_t> sps, pps;
  std::string profile, why;
  CopyParameterSets(channel, sps, pps, profile);
  // About a second of rest before the sharp picture.
  if (!sequence.Start(fps, sps, pps, &why, fps > 0 ? fps : 1)) {
    LogLine("Video: %s encodes every frame, also of a still screen (%s)\n", stream, why.c_str());
  }
}

// Sleeps until `deadline_ns` or until the engine is told to stop.
void SleepUntil(VideoEngine& engine, int64_t deadline_ns) {
  std::unique_lock lock(engine.viewer_mutex);
  engine.wake_up.wait_until(lock, Clock::time_point(std::chrono::nanoseconds(deadline_ns)),
                            [&] { return engine.stop.load(); });
}

// A display that went away is tried again once a second: opening a missing
// display costs a failed connect, and nobody waits for it.
constexpr int64_t kReconnectPeriodNs = 1'000'000'000;

// Tries to open a source that is not open (the display went away, or was
// never there), at most once per kReconnectPeriodNs; one log line when it
// is there.
void ReconnectScreen(VideoEngine& e, int64_t& next_try_ns) {
  const int64_t now = NowNs();
  if (now < next_try_ns) return;
  next_try_ns = now + kReconnectPeriodNs;
  std::string why;
  if (!e.capture->TryOpen(&why)) return;  // still gone: said once when it went
  const char* how = e.capture_lost ? "is back" : "is there";
  if (e.capture->width() == e.screen_width && e.capture->height() == e.screen_height) {
    LogLine("Screen: %s %s\n", e.capture->Describe().c_str(), how);
    return;
  }
  // The streams keep the size they were started at (their SDP says it).
  LogLine("Screen: %s %s at %dx%d, scaled to %dx%d\n", e.capture->Describe().c_str(), how, e.capture->width(),
          e.capture->height(), e.screen_width, e.screen_height);
}

// The current screen at the size the engine started with, *changed whether
// it differs from the last one. Null with the notice to show instead when
// the source has no picture; a lost display is logged and closed.
const uint8_t* GrabScreen(VideoEngine& e, bool* changed, ScreenNotice* notice) {
  CapturedFrame frame;
  const CaptureState state = e.capture->Next(&frame);
  if (state == CaptureState::kLost) {
    LogLine("Screen: %s lost; streaming the paused picture until it returns\n", e.capture->Describe().c_str());
    e.capture->Close();
    e.capture_lost = true;
    *notice = ScreenNotice::kPaused;
    return nullptr;
  }
  if (state != CaptureState::kFrame) {
    *notice = state == CaptureState::kWaiting ? ScreenNotice::kWaiting : ScreenNotice::kNotShared;
    return nullptr;
  }
  *changed = frame.changed;
  e.changed_pixels = frame.changed ? frame.changed_pixels : 0;
  e.captured_pixels = static_cast<int64_t>(frame.width) * frame.height;
  if (frame.width == e.screen_width && frame.height == e.screen_height) return frame.pixels;
  const size_t bytes = static_cast<size_t>(e.screen_width) * e.screen_height * 4;
  if (e.resized_screen.size() != bytes) {
    e.resized_screen.resize(bytes);
    *changed = true;
  }
  if (*changed) ScaleNearest(frame.pixels, frame.width, frame.height, e.resized_screen.data(), e.screen_width,
                             e.screen_height);
  return e.resized_screen.data();
}

// What to show when the screen is not in the stream.
ScreenNotice NoticeWithoutScreen(const VideoEngine& e) {
  if (StreamPaused.load() || e.capture_lost) return ScreenNotice::kPaused;
  return ScreenNotice::kNoScreen;
}

}  // namespace

int64_t FramePacer::Advance(int64_t now_ns) {
  const int64_t next_due = due_ns + period_ns;
  if (now_ns < next_due) {
    due_ns = next_due;
    return 1;
  }
  // Overrun: the next frame is captured at once, stamped with every whole
  // period that has really passed since this frame was due.
  const int64_t periods = (now_ns - due_ns) / period_ns;
  due_ns += periods * period_ns;
  return periods;
}

const char* StoreStartParameterSets(H264Encoder& encoder, const uint8_t* pixels, int stride_px, int height,
                                    StreamChannel& channel) {
  std::vector<uint8_t> au, sps, pps;
  std::string profile;
  if (!encoder.Encode(pixels, stride_px, height, au, true)) return "its first frame could not be encoded";
  if (!ExtractParameterSets(au, sps, pps, profile)) return "its first frame lacks SPS or PPS";
  std::lock_guard lock(channel.mutex);
  channel.sps = std::move(sps);
  channel.pps = std::move(pps);
  if (!profile.empty()) channel.profile_level_id = profile;
  return nullptr;
}

bool StartEngine(VideoEngine& e, const VideoSettings& s) {
  e.settings = s;
  e.sub_width = s.sub_width & ~1;
  e.sub_height = s.sub_height & ~1;
  e.sub_on = s.sub_on && e.sub_width >= 1 && e.sub_height >= 1;

  int screen_w = 0, screen_h = 0;
  if (CaptureSource* shared = SharedCapture()) {
    e.capture = shared;
    SharedCaptureStartSize(&screen_w, &screen_h);
  } else {
    e.own_capture = MakeX11Capture({});
    e.capture = e.own_capture.get();
    std::string why;
    if (!e.capture->TryOpen(&why)) {
      LogLine("Screen: %s\n", why.c_str());
      return false;
    }
    screen_w = e.capture->width();
    screen_h = e.capture->height();
  }
  e.screen_width = screen_w;
  e.screen_height = screen_h;

  e.main_scaled = s.main_scale_width > 0 && s.main_scale_height > 0 && (s.main_scale_width & ~1) < screen_w;
  if (e.main_scaled) {
    e.main_width = s.main_scale_width & ~1;
    e.main_height = s.main_scale_height & ~1;
    e.main_scaled_buffer.assign(static_cast<size_t>(e.main_width) * e.main_height * 4, 0);
  } else {
    e.main_width = screen_w;
    e.main_height = screen_h;
  }
  // The camera usage type only at the sizes the encoder benchmark measured
  // it better (1080p and up); smaller pictures keep the screen type.
  const EncoderUsage main_usage = static_cast<int64_t>(e.main_width) * e.main_height >= 1920 * 1080
                                      ? EncoderUsage::kCamera
                                      : EncoderUsage::kScreen;
  if (!e.main_encoder.Open(e.main_width, e.main_height, s.fps, s.main_bitrate_kbps, main_usage)) {
    LogLine("Video: main stream encoder could not be opened at %dx%d\n", e.main_width, e.main_height);
    return false;
  }

  // The parameter sets come from a first picture: the screen when it is
  // there, else the notice the streams begin with.
  std::vector<uint8_t> first;
  const uint8_t* shot = nullptr;
  if (e.capture->is_open()) {
    bool changed = true;
    ScreenNotice notice = ScreenNotice::kNoScreen;
    shot = GrabScreen(e, &changed, &notice);
    if (!shot) FillNoticePicture(screen_w, screen_h, notice, first);
  } else {
    FillNoticePicture(screen_w, screen_h, NoticeWithoutScreen(e), first);
  }
  if (!shot) shot = first.data();
  if (!shot) {
    LogLine("Video: no first picture at %dx%d\n", screen_w, screen_h);
    return false;
  }
  const uint8_t* main_src = shot;
  if (e.main_scaled) {
    ScaleNearest(shot, screen_w, screen_h, e.main_scaled_buffer.data(), e.main_width, e.main_height);
    main_src = e.main_scaled_buffer.data();
  }
  if (const char* why = StoreStartParameterSets(e.main_encoder, main_src, e.main_scaled ? e.main_width : screen_w,
                                                e.main_height, e.main_channel)) {
    LogLine("Video: main stream at %dx%d: %s\n", e.main_width, e.main_height, why);
    return false;
  }

  // Without parameter sets the sub-stream's SDP would be unusable: a sub
  // encoder that fails in any way turns only the sub-stream off.
  StartSequence(e.main_sequence, s.fps, e.main_channel, "main stream");

  if (e.sub_on) {
    const char* why = nullptr;
    if (!e.sub_encoder.Open(e.sub_width, e.sub_height, s.fps, s.sub_bitrate_kbps)) {
      why = "its encoder could not be opened";
    } else {
      e.sub_scaled_buffer.assign(static_cast<size_t>(e.sub_width) * e.sub_height * 4, 0);
      ScaleNearest(shot, screen_w, screen_h, e.sub_scaled_buffer.data(), e.sub_width, e.sub_height);
      why = StoreStartParameterSets(e.sub_encoder, e.sub_scaled_buffer.data(), e.sub_width, e.sub_height,
                                    e.sub_channel);
    }
    if (why) {
      LogLine("Video: sub-stream at %dx%d turned off: %s\n", e.sub_width, e.sub_height, why);
      e.sub_on = false;
      e.sub_encoder.Close();
      e.sub_scaled_buffer = {};
    } else {
      StartSequence(e.sub_sequence, s.fps, e.sub_channel, "sub-stream");
    }
  }
  return true;
}

void RunProducer(VideoEngine& e) {
  const int fps = e.settings.fps;
  const int rate = fps > 0 ? fps : 10;
  const uint32_t step = static_cast<uint32_t>(90000 / rate);
  const int64_t max_len_signed = static_cast<int64_t>(fps) + 2 * (static_cast<int64_t>(fps) + 2);
  const size_t max_length = static_cast<size_t>(max_len_signed > 1 ? max_len_signed : 1);
  const int main_stride = e.main_scaled ? e.main_width : e.screen_width;

  FramePacer pacer;
  pacer.period_ns = 1'000'000'000LL / rate;
  uint32_t main_ts = 0, sub_ts = 0;
  bool live = false, force = true, notice_shown = false;
  ScreenNotice shown = ScreenNotice::kPaused;  // the notice on the streams while notice_shown
  // Each notice's picture per stream, drawn the first time it is needed.
  std::vector<uint8_t> notice_main[4], notice_sub[4];
  int64_t next_reconnect_ns = 0;
  MotionDetector motion({e.settings.motion_sensitivity, e.settings.motion_hold_s});

  while (!e.stop.load()) {
    if (!e.capture->is_open()) ReconnectScreen(e, next_reconnect_ns);
    {
      std::unique_lock lock(e.viewer_mutex);
      if (e.ViewerCount.load() < 1) {
        e.wake_up.wait_for(lock, std::chrono::milliseconds(200),
                           [&] { return e.ViewerCount.load() > 0 || e.stop.load(); });
      }
    }
    if (e.stop.load()) break;
    if (e.ViewerCount.load() == 0) {
      // Nobody watches, so what the queues hold grows old: a viewer who
      // comes later would be sent that stale picture (and a jump in its time
      // stamps) before the fresh key frame.
      if (live || notice_shown) {
        ClearFrames(e.main_channel);
        ClearFrames(e.sub_channel);
      }
      live = false;
      notice_shown = false;
      // Motion subscribers without a viewer: captured at the idle wait's
      // pace, never encoded.
      bool changed = false;
      ScreenNotice idle_notice = ScreenNotice::kNoScreen;
      if (MotionWatchedUntilMs.load() > NowNs() / 1'000'000 && !StreamPaused.load() && e.capture->is_open() &&
          GrabScreen(e, &changed, &idle_notice)) {
        FeedMotion(e, motion);
      } else {
        PublishMotion(motion.Still());
      }
      continue;
    }

    ScreenNotice notice = NoticeWithoutScreen(e);
    if (!StreamPaused.load() && e.capture->is_open()) {
      bool changed = true;
      const uint8_t* shot = GrabScreen(e, &changed, &notice);
      if (shot) {
        FeedMotion(e, motion);
        notice_shown = false;
        if (!live) {
          live = true;
          force = true;
          pacer.Restart(NowNs());
        }
        e.frames_grabbed.fetch_add(1, std::memory_order_relaxed);
        // The request is taken even when the frame is forced: a first viewer's
        // request left standing would make the next frame a second IDR.
        const bool key_request = e.KeyframeRequest.exchange(false) || force;
        // After a notice or an idle spell the encoders last saw something
        // else: the screen counts as changed. The scaled buffers still hold
        // an unchanged screen.
        changed = changed || force;

        const uint8_t* main_src = shot;
        if (e.main_scaled) {
          if (changed) {
            ScaleNearest(shot, e.screen_width, e.screen_height, e.main_scaled_buffer.data(), e.main_width,
                         e.main_height);
          }
          main_src = e.main_scaled_buffer.data();
        }
        SendFrame(e.main_sequence, e.main_encoder, main_src, main_stride, e.main_height, changed, key_request,
                  e.main_channel, main_ts, max_length);
        if (e.sub_on) {
          if (changed) {
            ScaleNearest(shot, e.screen_width, e.screen_height, e.sub_scaled_buffer.data(), e.sub_width,
                         e.sub_height);
          }
          SendFrame(e.sub_sequence, e.sub_encoder, e.sub_scaled_buffer.data(), e.sub_width, e.sub_height, changed,
                    key_request, e.sub_channel, sub_ts, max_length);
        }
        force = false;

        const int64_t periods = pacer.Advance(NowNs());
        main_ts += step * static_cast<uint32_t>(periods);
        sub_ts += step * static_cast<uint32_t>(periods);
        SleepUntil(e, pacer.due_ns);
        continue;
      }
      if (!e.capture->is_open()) continue;  // the display is gone: the paused picture from the next round
    }

    // Paused, or no screen to show: the notice's picture, twice a second,
    // drawn once per size. A portal that begins to send is seen at the next
    // round.
    PublishMotion(motion.Still());
    const bool fresh = !notice_shown || notice != shown;
    std::vector<uint8_t>& main_picture = notice_main[static_cast<int>(notice)];
    if (main_picture.empty()) FillNoticePicture(e.main_width, e.main_height, notice, main_picture);
    const bool key_request = e.KeyframeRequest.exchange(false) || fresh;
    // Only its first frame is encoded; the rest repeat it.
    SendFrame(e.main_sequence, e.main_encoder, main_picture.data(), e.main_width, e.main_height, fresh, key_request,
              e.main_channel, main_ts, max_length);
    if (e.sub_on) {
      std::vector<uint8_t>& sub_picture = notice_sub[static_cast<int>(notice)];
      if (sub_picture.empty()) FillNoticePicture(e.sub_width, e.sub_height, notice, sub_picture);
      SendFrame(e.sub_sequence, e.sub_encoder, sub_picture.data(), e.sub_width, e.sub_height, fresh, key_request,
                e.sub_channel, sub_ts, max_length);
      sub_ts += 45000;
    }
    main_ts += 45000;
    notice_shown = true;
    shown = notice;
    live = false;
    SleepUntil(e, NowNs() + 500'000'000);
  }
}

}  // namespace lcx
