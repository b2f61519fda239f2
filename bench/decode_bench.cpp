// Speed of tile decoding: tiles per second in mode 1 through the plain and the vector path (and
// their ratio, measured side by side in one benchmark), the transparent decode, and
// DecodeTileAlpha. Tiles are random patterns and palettes decoded into consecutive 8x8 blocks
// at pitch 32, as the hi-res tile generation does.
#include <chrono>
#include <cstdint>
#include <random>
#include <vector>

#include <benchmark/benchmark.h>

#include "render/tile_decode.h"

namespace {

constexpr std::size_t kTiles = 1024;

struct Tiles {
  Tiles() : patterns(32 * kTiles), palettes(16 * kTiles), pixels(256 * kTiles) {
    std::mt19937 rng(9);
    for (auto& b : patterns) b = static_cast<std::uint8_t>(rng());
    for (auto& b : palettes) b = static_cast<std::uint8_t>(rng());
  }
  std::vector<std::uint8_t> patterns, palettes, pixels;
};

using DecodeFn = void (*)(const std::uint8_t*, const std::uint8_t*, std::uint8_t*, std::uint32_t,
                          std::uint32_t, std::uint32_t);

void decodeAll(Tiles& t, DecodeFn decode, std::uint32_t flip) {
  for (std::size_t i = 0; i < kTiles; ++i)
    decode(&t.patterns[32 * i], &t.palettes[16 * i], &t.pixels[256 * i], 32, flip, zelvo::PixelArgb32);
  benchmark::ClobberMemory();
}

template <DecodeFn Decode> void BM_DecodeTileMode1(benchmark::State& state) {
  Tiles t;
  const auto flip = static_cast<std::uint32_t>(state.range(0));
  for (auto _ : state) decodeAll(t, Decode, flip);
  state.SetItemsProcessed(std::int64_t(state.iterations()) * kTiles);
  state.SetLabel(zelvo::SimdAvailable() ? "vector path available" : "no vector path");
}
BENCHMARK_TEMPLATE(BM_DecodeTileMode1, zelvo::DecodeTilePlain)->Arg(0)->Arg(1536);
BENCHMARK_TEMPLATE(BM_DecodeTileMode1, zelvo::DecodeTileSimd)->Arg(0)->Arg(1536);

// Both paths in turns within one run; counters give tiles per second of each and simd/plain.
void BM_DecodeTileMode1PlainVsSimd(benchmark::State& state) {
  Tiles t;
  using Clock = std::chrono::steady_clock;
  Clock::duration plain{}, simd{};
  for (auto _ : state) {
    const auto start = Clock::now();
    decodeAll(t, zelvo::DecodeTilePlain, 0);
    const auto middle = Clock::now();
    decodeAll(t, zelvo::DecodeTileSimd, 0);
    simd += Clock::now() - middle;
    plain += middle - start;
  }
  const double tiles = double(state.iterations()) * kTiles;
  const double plainSeconds = std::chrono::duration<double>(plain).count();
  const double simdSeconds = std::chrono::duration<double>(simd).count();
  state.counters["plain_tiles/s"] = tiles / plainSeconds;
  state.counters["simd_tiles/s"] = tiles / simdSeconds;
  state.counters["simd_speedup"] = plainSeconds / simdSeconds;
}
BENCHMARK(BM_DecodeTileMode1PlainVsSimd);

template <void (*Decode)(const std::uint8_t*, const std::uint8_t*, std::uint8_t*, std::uint32_t)>
void BM_DecodeTileTransparent(benchmark::State& state) {
  Tiles t;
  for (auto _ : state) {
    for (std::size_t i = 0; i < kTiles; ++i)
      Decode(&t.patterns[32 * i], &t.palettes[16 * i], &t.pixels[256 * i], 32);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(std::int64_t(state.iterations()) * kTiles);
}
BENCHMARK_TEMPLATE(BM_DecodeTileTransparent, zelvo::DecodeTileTransparentPlain);
BENCHMARK_TEMPLATE(BM_DecodeTileTransparent, zelvo::DecodeTileTransparentSimd);

void BM_DecodeTileAlpha(benchmark::State& state) {
  Tiles t;
  const auto flip = static_cast<std::uint32_t>(state.range(0));
  for (auto _ : state) {
    for (std::size_t i = 0; i < kTiles; ++i)
      zelvo::DecodeTileAlpha(&t.patterns[32 * i], &t.palettes[16 * i], &t.pixels[256 * i], 32, flip);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(std::int64_t(state.iterations()) * kTiles);
}
BENCHMARK(BM_DecodeTileAlpha)->Arg(0)->Arg(1536);

} // namespace
