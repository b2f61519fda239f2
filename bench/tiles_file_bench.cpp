// Speed of loading a tiles file as a played-through game leaves it (200 palettes, 8,000 patterns,
// 20,000 entries over the nine groups): the header, digest check and decompression straight into
// the set's block, stored, raw deflate (what the system writes) and bzip2.
#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <unistd.h>

#include "compress/md5.h"
#include "compress/streams.h"
#include "platform/file.h"
#include "platform/fs.h"
#include "tiles/tiles_file.h"

namespace {

using zelvo::File;
using zelvo::Result;

constexpr std::uint32_t kPalettes = 200, kPatterns = 8000, kEntriesPerGroup = 20000 / zelvo::kGroupCount;

// The payload of a large game: random palettes and patterns with order keys, entries naming them.
std::vector<std::uint8_t> largePayload(zelvo::TileCounts& counts) {
  std::mt19937 rng(77);
  counts.palettes = kPalettes;
  counts.patterns = kPatterns;
  for (auto& g : counts.groups) g = kEntriesPerGroup;
  std::uint32_t size = 0;
  zelvo::payloadSizeOf(counts, size);
  std::vector<std::uint8_t> payload(size);
  std::uint8_t* at = payload.data();
  for (std::uint32_t i = 0; i < kPalettes; ++i, at += sizeof(zelvo::PaletteEntry)) {
    zelvo::PaletteEntry p{};
    for (auto& c : p.colours) c = std::uint8_t(rng() & 0x3F);
    p.orderKeyMajor = rng() % 1000;
    std::memcpy(at, &p, sizeof p);
  }
  for (std::uint32_t i = 0; i < kPatterns; ++i, at += sizeof(zelvo::PatternEntry)) {
    zelvo::PatternEntry p{};
    for (auto& b : p.planes) b = std::uint8_t(rng() % 3 == 0 ? rng() : 0);
    p.orderKeyMajor = rng() % 1000;
    std::memcpy(at, &p, sizeof p);
  }
  for (int g = 0; g < zelvo::kGroupCount; ++g) {
    for (std::uint32_t i = 0; i < kEntriesPerGroup; ++i, at += sizeof(zelvo::TileEntry)) {
      const zelvo::TileEntry e{std::uint32_t(rng() % kPalettes), std::uint32_t(rng() % kPatterns), 0,
                               rng() % 1000};
      std::memcpy(at, &e, sizeof e);
    }
  }
  return payload;
}

// A tiles file of the payload with its digest, stored with `method`; its path, or "" on failure.
std::string writeLargeTilesFile(std::uint32_t method, std::size_t& payloadBytes, double& fileKiB) {
  zelvo::TileCounts counts;
  const std::vector<std::uint8_t> payload = largePayload(counts);
  payloadBytes = payload.size();
  const std::string path =
      zelvo::joinPath(zelvo::tempDirectory(), "zelvo-bench-tiles-" + std::to_string(method) + "-" +
                                                  std::to_string(::getpid()) + ".mstiles");
  Result<File> created = File::create(path);
  if (!created) return {};
  File& file = *created;
  zelvo::TilesFileHeader header{};
  std::memcpy(header.magic, zelvo::kTilesMagic, sizeof zelvo::kTilesMagic);
  header.flags = zelvo::kTilesFlagDigest;
  header.paletteCount = counts.palettes;
  header.patternCount = counts.patterns;
  std::memcpy(header.groupCounts, counts.groups, sizeof counts.groups);
  header.compression = method;
  zelvo::Md5 md5;
  md5.update(payload.data(), payload.size());
  const zelvo::Md5Digest digest = md5.final();
  bool ok = file.writeAll(&header, sizeof header) && file.writeAll(digest.data(), digest.size());
  if (ok && method == zelvo::kMethodStored) {
    ok = file.writeAll(payload.data(), payload.size()).ok();
  } else if (ok) {
    std::unique_ptr<zelvo::ICompressor> compressor;
    if (method == zelvo::kMethodDeflate) compressor = std::make_unique<zelvo::CDeflateCompressor>();
    if (method == zelvo::kMethodBZip2) compressor = std::make_unique<zelvo::CBZip2Compressor>();
    ok = compressor && compressor->Write(file, payload.data(), payload.size()) && compressor->Finish(file);
  }
  const Result<std::uint64_t> fileBytes = ok ? file.size() : Result<std::uint64_t>(zelvo::Error{});
  fileKiB = fileBytes ? double(*fileBytes) / 1024.0 : 0.0;
  if (!file.close() || !fileBytes) {
    (void)zelvo::deleteFile(path);
    return {};
  }
  return path;
}

void BM_LoadTilesFile(benchmark::State& state) {
  const auto method = std::uint32_t(state.range(0));
  std::size_t payloadBytes = 0;
  double fileKiB = 0;
  const std::string path = writeLargeTilesFile(method, payloadBytes, fileKiB);
  if (path.empty()) {
    state.SkipWithError("could not write the tiles file");
    return;
  }
  for (auto _ : state) {
    auto set = zelvo::createTileSet();
    if (!set || !zelvo::readTilesFile(*set, path)) {
      state.SkipWithError("loading failed");
      break;
    }
    benchmark::DoNotOptimize(set->block.get());
  }
  // Throughput in payload bytes (what ends up in memory), whatever the file's size.
  state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(payloadBytes));
  state.counters["fileKiB"] = fileKiB;
  (void)zelvo::deleteFile(path);
}
BENCHMARK(BM_LoadTilesFile)
    ->Arg(zelvo::kMethodStored)
    ->Arg(zelvo::kMethodDeflate)
    ->Arg(zelvo::kMethodBZip2)
    ->Unit(benchmark::kMillisecond);

} // namespace
