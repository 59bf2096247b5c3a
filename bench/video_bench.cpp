// Frame-sized hot paths of the video pipeline: conversion against one
// frame's memcpy (the floor), the plain loop and libyuv (the peer), scaling.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "video/convert.h"
#include "video/scale.h"

#ifdef LCX_BENCH_LIBYUV
#include <libyuv.h>
#endif

namespace lcx {
namespace {

std::vector<uint8_t> RandomPicture(int w, int h) {
  std::vector<uint8_t> px(static_cast<size_t>(w) * h * 4);
  std::mt19937 rng(7);
  for (auto& b : px) b = static_cast<uint8_t>(rng());
  return px;
}

void BM_Memcpy(benchmark::State& state) {
  const int w = 1920, h = 1080;
  auto src = RandomPicture(w, h);
  std::vector<uint8_t> dst(src.size());
  for (auto _ : state) {
    std::memcpy(dst.data(), src.data(), src.size());
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(src.size()));
}
BENCHMARK(BM_Memcpy)->Name("BM_Memcpy/1920x1080")->UseRealTime();

template <bool kReference>
void ConvertBench(benchmark::State& state) {
  const int w = 1920, h = 1080;
  auto src = RandomPicture(w, h);
  std::vector<uint8_t> i420(w * h * 3 / 2);
  uint8_t* y = i420.data();
  uint8_t* u = y + w * h;
  uint8_t* v = u + w * h / 4;
  for (auto _ : state) {
    if (kReference) {
      ConvertBgraToI420Reference(src.data(), w, w, h, y, u, v);
    } else {
      ConvertBgraToI420(src.data(), w, w, h, y, u, v);
    }
    benchmark::DoNotOptimize(i420.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(src.size()));
}
BENCHMARK(ConvertBench<false>)->Name("BM_ConvertBgraToI420/1920x1080")->UseRealTime();
BENCHMARK(ConvertBench<true>)->Name("BM_ConvertBgraToI420Reference/1920x1080")->UseRealTime();

#ifdef LCX_BENCH_LIBYUV
void BM_LibyuvARGBToI420(benchmark::State& state) {
  const int w = 1920, h = 1080;
  auto src = RandomPicture(w, h);
  std::vector<uint8_t> i420(w * h * 3 / 2);
  uint8_t* y = i420.data();
  uint8_t* u = y + w * h;
  uint8_t* v = u + w * h / 4;
  for (auto _ : state) {
    libyuv::ARGBToI420(src.data(), w * 4, y, w, u, w / 2, v, w / 2, w, h);
    benchmark::DoNotOptimize(i420.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(src.size()));
}
BENCHMARK(BM_LibyuvARGBToI420)->Name("BM_LibyuvARGBToI420/1920x1080")->UseRealTime();
#endif

void BM_ScaleNearest(benchmark::State& state) {
  const int sw = 1920, sh = 1080;
  const int dw = static_cast<int>(state.range(0)), dh = static_cast<int>(state.range(1));
  auto src = RandomPicture(sw, sh);
  std::vector<uint8_t> dst(static_cast<size_t>(dw) * dh * 4);
  for (auto _ : state) {
    ScaleNearest(src.data(), sw, sh, dst.data(), dw, dh);
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_ScaleNearest)
    ->Name("BM_ScaleNearest/1920x1080to")
    ->Args({1280, 720})
    ->Args({640, 360})
    ->UseRealTime();

}  // namespace
}  // namespace lcx
