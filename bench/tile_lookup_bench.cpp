// Speed of resolving one screen's 896 cells (palette, pattern, then tile entry) against a large
// tile set, through the hashed lookups and through plain scans, and of the sort by order keys.
#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include <benchmark/benchmark.h>

#include "tiles/tile_store.h"

namespace {

using namespace zelvo;

struct Fixture {
  std::unique_ptr<TileSet> set;
  std::vector<PaletteEntry> cellPalettes;
  std::vector<PatternEntry> cellPatterns;
  std::vector<int> cellGroups;
};

Fixture makeFixture(std::uint32_t entries) {
  std::mt19937 rng(42);
  TileCounts counts;
  counts.palettes = 64;
  counts.patterns = entries / 2;
  for (int g = 0; g < kGroupCount; ++g) counts.groups[g] = g == 0 ? entries / 2 : entries / 16;
  std::uint32_t size = 0;
  payloadSizeOf(counts, size);
  std::unique_ptr<std::uint8_t[]> block(new std::uint8_t[size]);
  for (std::uint32_t i = 0; i < size; ++i) block[i] = std::uint8_t(rng());
  Fixture f;
  f.set = createTileSet();
  installTileBlock(*f.set, std::move(block), counts);
  TileSet& s = *f.set;
  for (int g = 0; g < kGroupCount; ++g)
    for (std::uint32_t i = 0; i < s.groups[g].count; ++i) {
      s.groups[g].entries[i].paletteIndex = rng() % s.paletteCount;
      s.groups[g].entries[i].patternIndex = rng() % s.patternCount;
    }
  invalidateLookups(s);
  // Cells that show recorded tiles (the common case), from the groups' own entries.
  for (int c = 0; c < 896; ++c) {
    const int g = c % 8 == 0 ? int(rng() % 8) : 0;
    const TileEntry& e = s.groups[g].entries[rng() % s.groups[g].count];
    f.cellPalettes.push_back(s.palettes[e.paletteIndex]);
    f.cellPatterns.push_back(s.patterns[e.patternIndex]);
    f.cellGroups.push_back(g);
  }
  return f;
}

std::uint32_t scanPalette(const TileSet& s, const std::uint8_t* key) {
  for (std::uint32_t i = 0; i < s.paletteCount; ++i)
    if (std::memcmp(s.palettes[i].colours, key, 16) == 0) return i;
  return kNotFound;
}
std::uint32_t scanPattern(const TileSet& s, const std::uint8_t* key) {
  for (std::uint32_t i = 0; i < s.patternCount; ++i)
    if (std::memcmp(s.patterns[i].planes, key, 32) == 0) return i;
  return kNotFound;
}
std::uint32_t scanEntry(const TileGroup& g, std::uint32_t pal, std::uint32_t pat) {
  for (std::uint32_t i = 0; i < g.count; ++i)
    if (g.entries[i].paletteIndex == pal && g.entries[i].patternIndex == pat) return i;
  return kNotFound;
}

void BM_ResolveScreenHashed(benchmark::State& state) {
  Fixture f = makeFixture(std::uint32_t(state.range(0)));
  const TileSet& s = *f.set;
  for (auto _ : state) {
    std::uint32_t found = 0;
    for (std::size_t c = 0; c < f.cellGroups.size(); ++c) {
      const std::uint32_t pal = findPalette(s, f.cellPalettes[c].colours);
      const std::uint32_t pat = findPattern(s, f.cellPatterns[c].planes);
      found += findTileEntry(s.groups[f.cellGroups[c]], pal, pat) != kNotFound;
    }
    benchmark::DoNotOptimize(found);
  }
  state.SetItemsProcessed(std::int64_t(state.iterations()) * 896);
}
BENCHMARK(BM_ResolveScreenHashed)->Arg(4096)->Arg(65536);

void BM_ResolveScreenScan(benchmark::State& state) {
  Fixture f = makeFixture(std::uint32_t(state.range(0)));
  const TileSet& s = *f.set;
  for (auto _ : state) {
    std::uint32_t found = 0;
    for (std::size_t c = 0; c < f.cellGroups.size(); ++c) {
      const std::uint32_t pal = scanPalette(s, f.cellPalettes[c].colours);
      const std::uint32_t pat = scanPattern(s, f.cellPatterns[c].planes);
      found += scanEntry(s.groups[f.cellGroups[c]], pal, pat) != kNotFound;
    }
    benchmark::DoNotOptimize(found);
  }
  state.SetItemsProcessed(std::int64_t(state.iterations()) * 896);
}
BENCHMARK(BM_ResolveScreenScan)->Arg(4096)->Arg(65536);

// Building the indexes once after a load: the first screen pays for it.
void BM_BuildLookups(benchmark::State& state) {
  Fixture f = makeFixture(std::uint32_t(state.range(0)));
  const TileSet& s = *f.set;
  for (auto _ : state) {
    invalidateLookups(s);
    benchmark::DoNotOptimize(findPalette(s, f.cellPalettes[0].colours));
    benchmark::DoNotOptimize(findPattern(s, f.cellPatterns[0].planes));
    for (int g = 0; g < kGroupCount; ++g) benchmark::DoNotOptimize(findTileEntry(s.groups[g], 0, 0));
  }
}
BENCHMARK(BM_BuildLookups)->Arg(65536);

void BM_SortByOrderKeys(benchmark::State& state) {
  Fixture f = makeFixture(std::uint32_t(state.range(0)));
  const std::vector<std::uint8_t> original(f.set->block.get(), f.set->block.get() + f.set->blockSize);
  for (auto _ : state) {
    state.PauseTiming();
    std::memcpy(f.set->block.get(), original.data(), original.size());
    state.ResumeTiming();
    sortByOrderKeys(*f.set);
  }
}
BENCHMARK(BM_SortByOrderKeys)->Arg(65536);

} // namespace
