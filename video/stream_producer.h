// The video engine: one capture source, one encoder per stream, and the
// producer thread that captures, encodes and queues frames for both streams
// while at least one client watches (the paused picture while StreamPaused,
// a notice picture while the screen cannot be seen).
// Threads: StartEngine runs before the producer exists; afterwards only the
// producer touches the capture source's frames, encoders and buffers. viewer_mutex guards the
// producer's idle wait on wake_up; ViewerCount, KeyframeRequest and
// StreamPaused are atomics read without locks. Each channel has its own mutex.
// A frame period in which the screen did not change runs no encoder (see
// frame_sequencer.h).
// While the display is gone the streams carry the paused picture (the "no
// screen" one when there never was a display) and the producer reconnects
// at a bounded rate; a portal source reconnects by itself.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/subsystem_settings.h"
#include "video/frame_sequencer.h"
#include "video/h264_encoder.h"
#include "video/capture_source.h"
#include "video/paused_picture.h"
#include "video/stream_channel.h"

namespace lcx {

// Process-wide: true while the administrator has stopped the stream.
extern std::atomic<bool> StreamPaused;

struct VideoEngine {
  VideoSettings settings;
  int main_width = 0;  // even size the main stream is encoded at
  int main_height = 0;
  int sub_width = 0;
  int sub_height = 0;
  bool main_scaled = false;
  bool sub_on = false;

  CaptureSource* capture = nullptr;            // the program's shared source, or own_capture
  std::unique_ptr<CaptureSource> own_capture;  // made by StartEngine when there is no shared one
  bool capture_lost = false;                   // the display was there and went away
  int screen_width = 0;  // the screen at start: what both streams are made from
  int screen_height = 0;
  H264Encoder main_encoder, sub_encoder;
  FrameSequencer main_sequence, sub_sequence;  // what each stream sends for a still screen
  std::vector<uint8_t> main_scaled_buffer, sub_scaled_buffer;
  // A display that came back at another size, scaled to the size at start.
  std::vector<uint8_t> resized_screen;
  int64_t changed_pixels = 0, captured_pixels = 0;  // of the last capture, for the motion detector

  StreamChannel main_channel, sub_channel;

  std::atomic<int32_t> ViewerCount{0};      // clients in the streaming phase
  std::atomic<bool> KeyframeRequest{false};  // raised when ViewerCount goes 0 -> 1
  std::mutex viewer_mutex;
  std::condition_variable wake_up;  // notified after ViewerCount changes

  // For tests and benchmarks: RunProducer returns soon after this is set
  // (set it under viewer_mutex and notify wake_up). The program never sets it.
  std::atomic<bool> stop{false};
  std::atomic<uint64_t> frames_grabbed{0};  // screens captured by the producer
};

// Takes the shared capture source (StartSharedCapture) with its start size,
// or, without one, opens an X11 source of its own; opens the encoders and
// stores each stream's SPS, PPS and profile-level-id. A shared source that
// cannot show the screen yet is no failure: the streams start with a notice
// picture. False when an own source or the main encoder cannot open or the
// first main frame lacks SPS or PPS. A sub encoder that fails to open or
// to give a first frame with SPS and PPS only turns the sub-stream off
// (sub_on false). Every failure is logged once with its reason.
bool StartEngine(VideoEngine& engine, const VideoSettings& settings);

// Encodes the start-up picture as an IDR with `encoder` and stores its SPS,
// PPS and profile-level-id in `channel`: the ones every later SDP carries.
// Null on success; otherwise why not, and the channel is left as it was.
const char* StoreStartParameterSets(H264Encoder& encoder, const uint8_t* pixels, int stride_px, int height,
                                    StreamChannel& channel);

// Body of the producer thread. Runs until engine.stop is set (never, in the
// program).
void RunProducer(VideoEngine& engine);

// Live frames are paced on a fixed schedule: every due time is the previous
// one plus one period, and time stamps advance by the number of whole periods
// that really passed, so the stream's clock keeps to the wall clock.
struct FramePacer {
  int64_t period_ns = 100'000'000;
  int64_t due_ns = 0;  // due time of the frame being produced

  void Restart(int64_t now_ns) { due_ns = now_ns; }
  // Called after a frame's work at `now_ns`: moves to the next due time and
  // returns how many periods the next frame's time stamp must advance (1
  // while the work fits in the period, more after an overrun, in which case
  // the next due time is already here and the next frame is captured at once).
  int64_t Advance(int64_t now_ns);
};

}  // namespace lcx
