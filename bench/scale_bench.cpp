// Speed of the Scale2x / Scale3x enlargement: the 32-bit row operations on long rows, and an
// 8x8 tile enlarged 2x, 3x and 4x both through the row operations on plain buffers (as the
// hi-res tile generation does) and through the bitmap operations (as the screen renderer does).
#include <cstdint>
#include <random>
#include <vector>

#include <benchmark/benchmark.h>

#include "render/scale.h"

namespace {

using zelvo::FiBitmap;

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

// One square tile buffer, rows bottom-up like a bitmap; the edge rows stand in for their
// missing neighbours.
void tile2x(const std::uint32_t* in, std::uint32_t* out, std::uint32_t size) {
  for (std::uint32_t y = 0; y < size; ++y) {
    const std::uint32_t* centre = in + y * size;
    const std::uint32_t* above = y + 1 < size ? centre + size : centre;
    const std::uint32_t* below = y > 0 ? centre - size : centre;
    zelvo::Scale2xRow32(centre, above, below, out + (2 * y + 1) * 2 * size, out + 2 * y * 2 * size, size);
  }
}

void tile3x(const std::uint32_t* in, std::uint32_t* out, std::uint32_t size) {
  for (std::uint32_t y = 0; y < size; ++y) {
    const std::uint32_t* centre = in + y * size;
    const std::uint32_t* above = y + 1 < size ? centre + size : centre;
    const std::uint32_t* below = y > 0 ? centre - size : centre;
    std::uint32_t* line = out + 3 * y * 3 * size;
    zelvo::Scale3xRow32(centre, above, below, line + 6 * size, line + 3 * size, line, size);
  }
}

// An 8x8 tile enlarged by the row operations; items are tiles.
void BM_TileRows(benchmark::State& state) {
  const auto factor = std::uint32_t(state.range(0));
  const auto tile = fewColourPixels(64, 3);
  std::vector<std::uint32_t> twice(16 * 16), out(64 * factor * factor);
  for (auto _ : state) {
    if (factor == 2) {
      tile2x(tile.data(), out.data(), 8);
    } else if (factor == 3) {
      tile3x(tile.data(), out.data(), 8);
    } else {
      tile2x(tile.data(), twice.data(), 8);
      tile2x(twice.data(), out.data(), 16);
    }
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(std::int64_t(state.iterations()));
}
BENCHMARK(BM_TileRows)->Arg(2)->Arg(3)->Arg(4);

// An 8x8 tile bitmap of `bpp` bits enlarged by the bitmap operations (allocation included).
void BM_TileImage(benchmark::State& state) {
  const auto factor = int(state.range(0));
  const auto bpp = int(state.range(1));
  FiBitmap tile(FreeImage_Allocate(8, 8, bpp));
  const auto pixels = fewColourPixels(64, 4);
  for (unsigned y = 0; y < 8; ++y) {
    BYTE* line = FreeImage_GetScanLine(tile.get(), int(y));
    for (unsigned x = 0; x < 8; ++x)
      for (int b = 0; b < bpp / 8; ++b)
        line[x * unsigned(bpp / 8) + unsigned(b)] = BYTE(pixels[y * 8 + x] >> (8 * b));
  }
  for (auto _ : state) {
    FiBitmap out = factor == 2   ? zelvo::Scale2xImage(tile.get())
                   : factor == 3 ? zelvo::Scale3xImage(tile.get())
                                 : zelvo::Scale4xImage(tile.get());
    if (!out) state.SkipWithError("enlargement failed");
    benchmark::DoNotOptimize(out.get());
  }
  state.SetItemsProcessed(std::int64_t(state.iterations()));
}
BENCHMARK(BM_TileImage)
    ->ArgNames({"scale", "bpp"})
    ->Args({2, 32})
    ->Args({3, 32})
    ->Args({4, 32})
    ->Args({2, 24});

} // namespace
