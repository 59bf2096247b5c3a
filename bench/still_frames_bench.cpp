// One frame period of a 1080p stream, changed and still: the encoder's frame
// against the skipped picture, and the capture with and without the damage
// reports (the screen benchmarks need $DISPLAY; bench/run_on_xvfb.sh).
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "video/frame_sequencer.h"
#include "video/screen_grabber.h"

namespace lcx {
namespace {

constexpr int kW = 1920, kH = 1080;

std::vector<uint8_t> Desktop(int frame) {
  std::vector<uint8_t> px(static_cast<size_t>(kW) * kH * 4);
  for (size_t i = 0; i < px.size(); i += 4) {
    const size_t pixel = i / 4, x = pixel % kW, y = pixel / kW;
    const bool moving = x >= 100 + static_cast<size_t>(frame % 50) * 16 && x < 400 + static_cast<size_t>(frame % 50) * 16 &&
                        y >= 200 && y < 500;
    px[i] = static_cast<uint8_t>(moving ? 200 : (x / 64 * 20 + y / 32 * 7));
    px[i + 1] = static_cast<uint8_t>(moving ? 40 : 90);
    px[i + 2] = static_cast<uint8_t>(moving ? 30 : (y / 8));
  }
  return px;
}

void BM_FramePeriod(benchmark::State& state) {
  const bool still = state.range(0) == 1;
  H264Encoder encoder;
  FrameSequencer sequence;
  std::vector<uint8_t> au, sps, pps;
  std::string profile, why;
  std::vector<std::vector<uint8_t>> pictures = {Desktop(0), Desktop(1)};
  if (!encoder.Open(kW, kH, 10, 2000) || !encoder.Encode(pictures[0].data(), kW, kH, au, true) ||
      !ExtractParameterSets(au, sps, pps, profile) || !sequence.Start(10, sps, pps, &why)) {
    state.SkipWithError("OpenH264 not available");
    return;
  }
  int frame = 0;
  for (auto _ : state) {
    au.clear();
    const bool changed = !still || frame == 0;
    sequence.Next(encoder, pictures[frame % 2].data(), kW, kH, changed, frame == 0, au);
    benchmark::DoNotOptimize(au.data());
    ++frame;
  }
  state.counters["encoded"] = static_cast<double>(sequence.encoded());
}
BENCHMARK(BM_FramePeriod)->Name("BM_FramePeriod/1920x1080/changed")->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FramePeriod)->Name("BM_FramePeriod/1920x1080/still")->Arg(1)->Unit(benchmark::kMicrosecond);

void BM_GrabStillScreen(benchmark::State& state) {
  const bool damage = state.range(0) == 1;
  ScreenGrabber grabber;
  if (!grabber.Open()) {
    state.SkipWithError("no X display");
    return;
  }
  bool changed = false;
  for (auto _ : state) {
    const uint8_t* px = damage ? grabber.GrabChanges(&changed) : grabber.Grab();
    benchmark::DoNotOptimize(px);
  }
}
// lcx_scene redraws 20 times a second: most periods see a change, so stop
// it (kill -STOP) for the still figure.
BENCHMARK(BM_GrabStillScreen)->Name("BM_Grab/screen/copy")->Arg(0)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_GrabStillScreen)->Name("BM_Grab/screen/changes")->Arg(1)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace
}  // namespace lcx
