// The encoder on three kinds of screen at 1920x1080, 2 Mbit/s, 10 fps
// (full-frame motion, a 480x270 window moving over a still desktop,
// scrolling text), main stream and the 640x360 sub-stream, with the decoded
// stream's luma PSNR against the encoder's input as a counter, so a cheaper
// setting cannot pass unnoticed as a worse picture.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "video/convert.h"
#include "video/h264_encoder.h"
#include "video/h264_testing.h"
#include "video/scale.h"

namespace lcx {
namespace {

constexpr int kW = 1920, kH = 1080;

enum class Scene { kFullMotion, kWindow, kScrollingText };

// A busy textured pattern, as video is; `t` moves it.
void Texture(uint8_t* p, int x, int y, int t) {
  const int u = x + 3 * t, v = y + 2 * t;
  p[0] = static_cast<uint8_t>((u * 7 + v * 3) ^ (v >> 2));
  p[1] = static_cast<uint8_t>(128 + 100 * std::sin((u + v) * 0.05));
  p[2] = static_cast<uint8_t>((u * v) >> 6);
  p[3] = 0;
}

// Dark "glyphs" on white in 16-pixel lines, scrolled up 4 rows a frame.
void Text(uint8_t* p, int x, int y, int t) {
  const int row = y + 4 * t, line = row / 16, in_line = row % 16, col = x % 9;
  const unsigned seed = static_cast<unsigned>(line * 131 + x / 9) * 2654435761u;
  const bool ink = in_line >= 3 && in_line < 13 && col < 7 && ((seed >> (in_line + col)) & 1) && (seed >> 28) != 0;
  const uint8_t c = ink ? 30 : 250;
  p[0] = p[1] = p[2] = c;
  p[3] = 0;
}

void Draw(Scene scene, int t, std::vector<uint8_t>& px) {
  px.resize(static_cast<size_t>(kW) * kH * 4);
  const int wx = 200 + 20 * t, wy = 300 + 8 * t;  // the window's corner
  for (int y = 0; y < kH; ++y) {
    for (int x = 0; x < kW; ++x) {
      uint8_t* p = &px[(static_cast<size_t>(y) * kW + x) * 4];
      switch (scene) {
        case Scene::kFullMotion: Texture(p, x, y, t); break;
        case Scene::kScrollingText: Text(p, x, y, t); break;
        case Scene::kWindow:
          if (x >= wx % 1400 && x < wx % 1400 + 480 && y >= wy % 780 && y < wy % 780 + 270) {
            Texture(p, x, y, t);
          } else {
            Text(p, x, y, 0);
          }
          break;
      }
    }
  }
}

constexpr int kFrames = 10;

double Psnr(const uint8_t* a, const std::vector<uint8_t>& b, size_t n) {
  double sum = 0;
  for (size_t i = 0; i < n; ++i) {
    const double d = double(a[i]) - b[i];
    sum += d * d;
  }
  return sum == 0 ? 99 : 10 * std::log10(255.0 * 255.0 * double(n) / sum);
}

// One stream's encodes of kFrames pictures; the PSNR over them, decoded.
void EncodeScene(benchmark::State& state, Scene scene, bool sub) {
  const int w = sub ? 640 : kW, h = sub ? 360 : kH;
  std::vector<std::vector<uint8_t>> pictures(kFrames);
  std::vector<uint8_t> full;
  for (int t = 0; t < kFrames; ++t) {
    Draw(scene, t, full);
    if (sub) {
      pictures[t].resize(static_cast<size_t>(w) * h * 4);
      ScaleNearest(full.data(), kW, kH, pictures[t].data(), w, h);
    } else {
      pictures[t] = full;
    }
  }
  H264Encoder encoder;
  const EncoderUsage usage = state.range(2) ? EncoderUsage::kCamera : EncoderUsage::kScreen;
  if (!encoder.Open(w, h, 10, sub ? 512 : 2000, usage)) {
    state.SkipWithError("OpenH264 not installed");
    return;
  }
  std::vector<uint8_t> au, i420(static_cast<size_t>(w) * h * 3 / 2), luma;
  double psnr = 0, bytes = 0;
  int64_t frames = 0;
  for (auto _ : state) {
    testing_h264::TestDecoder decoder;
    for (int t = 0; t < kFrames; ++t) {
      au.clear();
      encoder.Encode(pictures[t].data(), w, h, au, t == 0);
      state.PauseTiming();
      bytes += double(au.size());
      ConvertBgraToI420(pictures[t].data(), w, w, h, i420.data(), i420.data() + w * h, i420.data() + w * h * 5 / 4);
      if (decoder.Decode(au, luma) && luma.size() == static_cast<size_t>(w) * h) {
        psnr += Psnr(i420.data(), luma, luma.size());
      }
      ++frames;
      state.ResumeTiming();
    }
  }
  state.counters["psnr_db"] = psnr / double(frames);
  state.counters["kbit_s"] = bytes * 8 * 10 / 1000 / double(frames);
}

void BM_EncodeScene(benchmark::State& state) {
  EncodeScene(state, static_cast<Scene>(state.range(0)), state.range(1) != 0);
}
// Args: scene (0 full motion, 1 window, 2 scrolling text), sub-stream,
// usage type (0 screen, 1 camera). One iteration is ten frames, so its time
// / 10 is the cost of a frame.
BENCHMARK(BM_EncodeScene)
    ->Name("BM_EncodeScene/scene_sub_camera")
    ->ArgsProduct({{0, 1, 2}, {0, 1}, {0, 1}})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace lcx
