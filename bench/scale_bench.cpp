// Speed of the Scale2x / Scale3x enlargement: the 32-bit row operations on long rows, and an
// 8x8 tile enlarged 1x to 4x by enlargeTileBlock.
#include <cstdint>
#include <random>
#include <vector>

#include <benchmark/benchmark.h>

#include "render/scale.h"

namespace {

// Pixel art of a few colours, so the equal-neighbour branches are taken as in real tiles.
std::vector<std::uint32_t> fewColourPixels(std::size_t count, std::uint32_t seed) {
  static constexpr std::uint32_t kColours[] = {0xFF000000, 0xFFFFFFFF, 0xFF3050A0, 0x00000000};
  std::mt19937 rng(seed);
  std::vector<std::uint32_t> pixels(count);
  for (std::uint32_t& p : pixels) p = kColours[rng() % 4];
  return pixels;
}

constexpr std::uint32_t kRowWidth = 256;

void BM_Scale2xRow32(benchmark::State& state) {
  const auto source = fewColourPixels(3 * kRowWidth, 1);
  const std::uint32_t* above = source.data();
  const std::uint32_t* centre = above + kRowWidth;
  const std::uint32_t* below = centre + kRowWidth;
  std::vector<std::uint32_t> upper(2 * kRowWidth), lower(2 * kRowWidth);
  for (auto _ : state) {
    zelvo::Scale2xRow32(centre, above, below, upper.data(), lower.data(), kRowWidth);
    benchmark::DoNotOptimize(upper.data());
    benchmark::DoNotOptimize(lower.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(std::int64_t(state.iterations()) * kRowWidth);
}
BENCHMARK(BM_Scale2xRow32);

void BM_Scale3xRow32(benchmark::State& state) {
  const auto source = fewColourPixels(3 * kRowWidth, 2);
  const std::uint32_t* above = source.data();
  const std::uint32_t* centre = above + kRowWidth;
  const std::uint32_t* below = centre + kRowWidth;
  std::vector<std::uint32_t> top(3 * kRowWidth), middle(3 * kRowWidth), bottom(3 * kRowWidth);
  for (auto _ : state) {
    zelvo::Scale3xRow32(centre, above, below, top.data(), middle.data(), bottom.data(), kRowWidth);
    benchmark::DoNotOptimize(top.data());
    benchmark::DoNotOptimize(middle.data());
    benchmark::DoNotOptimize(bottom.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(std::int64_t(state.iterations()) * kRowWidth);
}
BENCHMARK(BM_Scale3xRow32);

// An 8x8 block enlarged as every tile of a build, an export, the viewer and a preview is; items
// are tiles.
void BM_EnlargeTileBlock(benchmark::State& state) {
  const auto scale = std::uint32_t(state.range(0));
  const auto block = fewColourPixels(64, 3);
  std::vector<std::uint8_t> tile(std::size_t(256) * scale * scale);
  for (auto _ : state) {
    zelvo::enlargeTileBlock(reinterpret_cast<const std::uint8_t*>(block.data()), scale, tile.data());
    benchmark::DoNotOptimize(tile.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(std::int64_t(state.iterations()));
}
BENCHMARK(BM_EnlargeTileBlock)->Arg(1)->Arg(2)->Arg(3)->Arg(4);

} // namespace
