// Speed of the scale stage and of the hi-res section writer on a synthetic tile set of 20,000
// entries over the nine groups: generateHiResTiles at scales 1 to 4 (tile entries per second),
// writeHiResSection (payload MB/s in), and plain one-shot bzip2 (block size 6) of the same payload
// in the same run, the floor the section writer is measured against.
#include <bzlib.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "pipeline/hires_tiles.h"
#include "pipeline/pack_format.h"
#include "platform/file.h"
#include "platform/fs.h"
#include "platform/temp_files.h"
#include "tiles/tile_store.h"

namespace {

using namespace zelvo;

constexpr std::uint32_t kEntries = 20000;
// Share of the entries per group: mostly plain background and sprites, as games draw them.
constexpr std::uint32_t kGroupShare[kGroupCount] = {40, 8, 6, 3, 8, 3, 2, 2, 28};

// Patterns are made of a few hundred distinct rows (as game art repeats outlines and fills);
// entries pick from a few thousand patterns and 32 palettes, so some of them repeat.
std::unique_ptr<TileSet> syntheticSet() {
  std::mt19937 random(2024);
  TileCounts counts;
  counts.palettes = 32;
  counts.patterns = 6000;
  std::uint32_t assigned = 0;
  for (int g = 0; g < kGroupCount; ++g) {
    counts.groups[g] = kEntries * kGroupShare[g] / 100;
    assigned += counts.groups[g];
  }
  counts.groups[0] += kEntries - assigned;
  std::uint32_t size = 0;
  if (!payloadSizeOf(counts, size)) return nullptr;
  std::unique_ptr<std::uint8_t[]> block(new std::uint8_t[size]());
  auto* palettes = reinterpret_cast<PaletteEntry*>(block.get());
  auto* patterns = reinterpret_cast<PatternEntry*>(palettes + counts.palettes);
  auto* entries = reinterpret_cast<TileEntry*>(patterns + counts.patterns);
  for (std::uint32_t i = 0; i < counts.palettes; ++i)
    for (auto& c : palettes[i].colours) c = std::uint8_t(random() % 64);
  std::vector<std::uint32_t> rows(300);
  for (auto& r : rows) r = random() & random(); // sparse planes, few colours per row
  for (std::uint32_t i = 0; i < counts.patterns; ++i) {
    for (int r = 0; r < 8; ++r) {
      const std::uint32_t row = rows[random() % rows.size()];
      std::memcpy(patterns[i].planes + 4 * r, &row, 4);
    }
  }
  for (std::uint32_t i = 0; i < kEntries; ++i) {
    entries[i].paletteIndex = random() % counts.palettes;
    entries[i].patternIndex = random() % (i < kEntries / 2 ? counts.patterns : 600); // a popular few
  }
  auto set = createTileSet();
  installTileBlock(*set, std::move(block), counts);
  return set;
}

const TileSet& sharedSet() {
  static std::unique_ptr<TileSet> set = syntheticSet();
  return *set;
}

void BM_GenerateHiResTiles(benchmark::State& state) {
  const auto scale = std::uint32_t(state.range(0));
  const TileSet& set = sharedSet();
  auto table = std::make_unique<HiResTileTable>();
  for (auto _ : state) {
    if (!generateHiResTiles(*table, set, scale)) {
      state.SkipWithError("generation failed");
      return;
    }
  }
  state.SetItemsProcessed(std::int64_t(state.iterations()) * kEntries);
  state.counters["tiles"] = table->tileCount;
  state.counters["file_MiB"] = double(table->tileCount) * table->tileBytes / (1024.0 * 1024.0);
}
BENCHMARK(BM_GenerateHiResTiles)->DenseRange(1, 4)->Unit(benchmark::kMillisecond)->UseRealTime();

// One generated table per scale, kept for the writer benchmarks.
HiResTileTable* tableAt(std::uint32_t scale) {
  static std::map<std::uint32_t, std::unique_ptr<HiResTileTable>> tables;
  auto& slot = tables[scale];
  if (!slot) {
    slot = std::make_unique<HiResTileTable>();
    if (!generateHiResTiles(*slot, sharedSet(), scale)) slot.reset();
  }
  return slot.get();
}

std::vector<char> payloadOf(HiResTileTable& table) {
  const std::size_t data = std::size_t(table.tileCount) * table.tileBytes;
  std::vector<char> payload(data + 4 * std::size_t(table.entryCount));
  if (!table.tempFile.seek(0) || !table.tempFile.readExact(payload.data(), data)) return {};
  std::memcpy(payload.data() + data, table.entryOffsets.get(), 4 * std::size_t(table.entryCount));
  return payload;
}

File scratchOutput() {
  Result<File> file = createScratchFile();
  return file ? std::move(*file) : File();
}

void BM_WriteHiResSection(benchmark::State& state) {
  HiResTileTable* table = tableAt(std::uint32_t(state.range(0)));
  File output = scratchOutput();
  if (!table || !output) {
    state.SkipWithError("no table or output");
    return;
  }
  const double payload = double(table->tileCount) * table->tileBytes + 4.0 * table->entryCount;
  std::uint64_t size = 0;
  for (auto _ : state) {
    const Result<std::uint64_t> end = output.seek(0) && writeHiResSection(*table, output)
                                          ? output.position()
                                          : Result<std::uint64_t>(Error{});
    if (!end) {
      state.SkipWithError("writing failed");
      return;
    }
    size = *end;
  }
  state.SetBytesProcessed(std::int64_t(double(state.iterations()) * payload));
  state.counters["ratio"] = payload / double(size);
}
BENCHMARK(BM_WriteHiResSection)->DenseRange(1, 4)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_RawBzip2(benchmark::State& state) {
  HiResTileTable* table = tableAt(std::uint32_t(state.range(0)));
  std::vector<char> payload = table ? payloadOf(*table) : std::vector<char>();
  if (payload.empty()) {
    state.SkipWithError("no payload");
    return;
  }
  std::vector<char> out(payload.size() + payload.size() / 100 + 600);
  unsigned int length = 0;
  for (auto _ : state) {
    length = unsigned(out.size());
    if (BZ2_bzBuffToBuffCompress(out.data(), &length, payload.data(), unsigned(payload.size()), 6, 0, 30) !=
        BZ_OK) {
      state.SkipWithError("bzip2 failed");
      return;
    }
  }
  state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(payload.size()));
  state.counters["ratio"] = double(payload.size()) / double(length);
}
BENCHMARK(BM_RawBzip2)->DenseRange(1, 4)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
