// Screen-dependent costs: XShm capture against one frame's memcpy, the two
// JPEG snapshots, the encoder, and the whole producer's CPU share over 20 s.
// The screen benchmarks need $DISPLAY at 1920x1080 (bench/run_on_xvfb.sh
// starts one with the moving test scene) and skip without it.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <optional>
#include <thread>
#include <vector>

#include "video/convert.h"
#include "video/h264_encoder.h"
#include "video/scale.h"
#include "video/screen_grabber.h"
#include "video/snapshot.h"
#include "video/stream_producer.h"

// Heap allocations of the whole binary, to show the capture path allocates
// nothing per frame (reported as allocs_per_frame).
static std::atomic<long> g_allocations{0};
// Out of line, new and delete alike: once inlined into the library's code,
// GCC pairs malloc with the built-in delete (or free with the built-in new)
// and warns of a mismatch.
[[gnu::noinline]] void* operator new(std::size_t n) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
[[gnu::noinline]] void operator delete(void* p) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace lcx {
namespace {

bool ScreenIs1080p(benchmark::State& state) {
  int w = 0, h = 0;
  if (!PrimaryScreenSize(&w, &h)) {
    state.SkipWithError("no display (run bench/run_on_xvfb.sh)");
    return false;
  }
  if (w != 1920 || h != 1080) {
    state.SkipWithError("display is not 1920x1080");
    return false;
  }
  return true;
}

void BM_CaptureXShm(benchmark::State& state) {
  if (!ScreenIs1080p(state)) return;
  ScreenGrabber grabber;
  if (!grabber.Open() || !grabber.uses_shared_memory()) {
    state.SkipWithError("no MIT-SHM");
    return;
  }
  grabber.Grab();
  const long before = g_allocations.load();
  for (auto _ : state) benchmark::DoNotOptimize(grabber.Grab());
  state.counters["allocs_per_frame"] =
      static_cast<double>(g_allocations.load() - before) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_CaptureXShm)->Name("BM_CaptureXShm/1920x1080")->UseRealTime();

// Capture, both scalings and both conversions of one produced frame.
void BM_CaptureScaleConvert(benchmark::State& state) {
  if (!ScreenIs1080p(state)) return;
  ScreenGrabber grabber;
  if (!grabber.Open()) return state.SkipWithError("grabber failed");
  std::vector<uint8_t> sub(640 * 360 * 4), main_i420(1920 * 1080 * 3 / 2), sub_i420(640 * 360 * 3 / 2);
  const long before = g_allocations.load();
  for (auto _ : state) {
    const uint8_t* px = grabber.Grab();
    ScaleNearest(px, 1920, 1080, sub.data(), 640, 360);
    ConvertBgraToI420(px, 1920, 1920, 1080, main_i420.data(), main_i420.data() + 1920 * 1080,
                      main_i420.data() + 1920 * 1080 * 5 / 4);
    ConvertBgraToI420(sub.data(), 640, 640, 360, sub_i420.data(), sub_i420.data() + 640 * 360,
                      sub_i420.data() + 640 * 360 * 5 / 4);
    benchmark::ClobberMemory();
  }
  state.counters["allocs_per_frame"] =
      static_cast<double>(g_allocations.load() - before) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_CaptureScaleConvert)->Name("BM_CaptureScaleConvert/1920x1080")->UseRealTime();

// A desktop-like picture with a moving block, so frames differ like a screen.
void DrawFrame(std::vector<uint32_t>& px, int w, int h, int frame) {
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      px[static_cast<size_t>(y) * w + x] = ((y / 40) % 2 ? 0x203050u : 0x304060u) + (x / 200) * 0x080808u;
  const int bx = (frame * 17) % (w - 100), by = (frame * 11) % (h - 100);
  for (int y = by; y < by + 100; ++y)
    for (int x = bx; x < bx + 100; ++x) px[static_cast<size_t>(y) * w + x] = 0xF0B020u + frame;
}

void BM_Encode(benchmark::State& state) {
  const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
  H264Encoder enc;
  if (!enc.Open(w, h, 10, w > 1000 ? 2000 : 512)) return state.SkipWithError("no OpenH264");
  std::vector<std::vector<uint32_t>> frames(8, std::vector<uint32_t>(static_cast<size_t>(w) * h));
  for (int i = 0; i < 8; ++i) DrawFrame(frames[i], w, h, i);
  std::vector<uint8_t> out;
  int i = 0;
  int64_t bytes = 0;
  for (auto _ : state) {
    out.clear();
    enc.Encode(reinterpret_cast<const uint8_t*>(frames[i++ % 8].data()), w, h, out, false);
    bytes += static_cast<int64_t>(out.size());
  }
  state.counters["bytes_per_frame"] = static_cast<double>(bytes) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_Encode)->Name("BM_Encode")->Args({1920, 1080})->Args({640, 360})->UseRealTime()
    ->Unit(benchmark::kMillisecond);

void BM_EncodeScreenJpeg(benchmark::State& state) {
  if (!ScreenIs1080p(state)) return;
  std::vector<uint8_t> out;
  for (auto _ : state) {
    if (!EncodeScreenJpeg(1920, 1080, out)) return state.SkipWithError("snapshot failed");
  }
  state.counters["jpeg_bytes"] = static_cast<double>(out.size());
}
BENCHMARK(BM_EncodeScreenJpeg)->Name("BM_EncodeScreenJpeg/1920x1080")->UseRealTime()
    ->Unit(benchmark::kMillisecond);

void BM_CaptureSnapshotJpeg(benchmark::State& state) {
  if (!ScreenIs1080p(state)) return;
  StreamPaused = false;
  size_t size = 0;
  for (auto _ : state) {
    size = CaptureSnapshotJpeg().size();
    if (size == 0) return state.SkipWithError("snapshot failed");
  }
  state.counters["jpeg_bytes"] = static_cast<double>(size);
}
BENCHMARK(BM_CaptureSnapshotJpeg)->Name("BM_CaptureSnapshotJpeg/1920x1080")->UseRealTime()
    ->Unit(benchmark::kMillisecond);

double CpuSeconds() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
         static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

long ResidentKiB() {
  FILE* f = std::fopen("/proc/self/statm", "r");
  long pages = 0, resident = 0;
  if (f) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  return resident * 4;
}

// The real producer on the display: 1080p main at 10 fps plus the 640x360
// sub-stream, one viewer draining each channel, for LCX_BENCH_PRODUCER_S
// seconds (default 20). cpu_percent is of one core, over the whole process.
void BM_ProducerCpu(benchmark::State& state) {
  if (!ScreenIs1080p(state)) return;
  const char* env = std::getenv("LCX_BENCH_PRODUCER_S");
  const int seconds = env ? std::max(1, std::atoi(env)) : 20;
  for (auto _ : state) {
    auto engine = std::make_unique<VideoEngine>();
    VideoSettings s;
    s.fps = 10;
    s.main_bitrate_kbps = 2000;
    s.sub_on = true;
    s.sub_width = 640;
    s.sub_height = 360;
    s.sub_bitrate_kbps = 512;
    if (!StartEngine(*engine, s)) return state.SkipWithError("engine start failed");
    std::atomic<bool> done{false};
    std::atomic<long> frames{0};
    auto viewer = [&](StreamChannel& ch) {
      std::optional<uint64_t> cursor;
      while (!done.load()) {
        if (WaitNextFrame(ch, cursor, std::chrono::milliseconds(100)).access_unit) ++frames;
      }
    };
    std::thread producer([&] { RunProducer(*engine); });
    std::thread main_viewer(viewer, std::ref(engine->main_channel));
    std::thread sub_viewer(viewer, std::ref(engine->sub_channel));
    {
      std::lock_guard lock(engine->viewer_mutex);
      engine->ViewerCount = 1;
      engine->KeyframeRequest = true;
    }
    engine->wake_up.notify_all();
    std::this_thread::sleep_for(std::chrono::seconds(2));  // warm-up
    const long rss_start = ResidentKiB();
    const double cpu0 = CpuSeconds();
    const auto t0 = std::chrono::steady_clock::now();
    const long f0 = frames.load();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const double cpu = CpuSeconds() - cpu0;
    const long f1 = frames.load();
    const long rss_end = ResidentKiB();
    {
      std::lock_guard lock(engine->viewer_mutex);
      engine->stop = true;
    }
    engine->wake_up.notify_all();
    done = true;
    producer.join();
    main_viewer.join();
    sub_viewer.join();
    state.counters["cpu_percent"] = 100.0 * cpu / wall;
    state.counters["frames_per_s"] = static_cast<double>(f1 - f0) / 2.0 / wall;
    state.counters["rss_start_MiB"] = static_cast<double>(rss_start) / 1024.0;
    state.counters["rss_end_MiB"] = static_cast<double>(rss_end) / 1024.0;
  }
}
BENCHMARK(BM_ProducerCpu)->Name("BM_ProducerCpu/1920x1080+640x360@10")->Iterations(1)
    ->UseRealTime()->Unit(benchmark::kSecond);

}  // namespace
}  // namespace lcx
