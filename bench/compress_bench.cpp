// Speed of the compression streams on tile-like payloads (32-byte patterns from a small set with
// some noise, as tile data looks): deflate and bzip2 compression into a temporary file, and
// deflate, bzip2 and LZMA decompression from one.
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <lzma.h>

#include "compress/bzip2_fast.h"
#include "compress/bzip2_parallel.h"
#include "compress/streams.h"
#include "platform/file.h"
#include "platform/fs.h"
#include "platform/thread_pool.h"

namespace {

using zelvo::Error;
using zelvo::File;
using zelvo::Result;
using Bytes = std::vector<std::uint8_t>;

Bytes tileLikePayload(std::size_t size) {
  std::mt19937 rng(1234);
  Bytes patterns(32 * 256);
  for (auto& b : patterns) b = std::uint8_t(rng());
  Bytes out(size);
  for (std::size_t i = 0; i < size; i += 32) {
    const std::uint8_t* p = patterns.data() + 32 * (rng() % 256);
    for (std::size_t j = 0; j < 32 && i + j < size; ++j) out[i + j] = p[j];
    if (rng() % 4 == 0) out[i + rng() % 32] ^= std::uint8_t(rng());
  }
  return out;
}

File scratchFile(const char* name) {
  Result<File> file = File::createTemporary(zelvo::joinPath(
      zelvo::tempDirectory(), std::string("zelvo-bench-") + name + std::to_string(::getpid())));
  return file ? std::move(*file) : File();
}

template <class Compressor> bool compressInto(File& file, const Bytes& payload) {
  Compressor c;
  return file.seek(0) && c.Write(file, payload.data(), payload.size()) && c.Finish(file);
}

template <class Compressor> void BM_Compress(benchmark::State& state) {
  const Bytes payload = tileLikePayload(std::size_t(state.range(0)) << 20);
  File file = scratchFile("c");
  std::uint64_t written = 0;
  for (auto _ : state) {
    const Result<std::uint64_t> end =
        compressInto<Compressor>(file, payload) ? file.position() : Result<std::uint64_t>(Error{});
    if (!end) {
      state.SkipWithError("compression failed");
      break;
    }
    written = *end;
  }
  state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(payload.size()));
  state.counters["ratio"] = double(payload.size()) / double(written ? written : 1);
}

// An LZMA section in the ZIP framing, as zip archives carry it.
Bytes lzmaSection(const Bytes& payload) {
  lzma_options_lzma options{};
  if (lzma_lzma_preset(&options, 6)) return {};
  lzma_filter filters[2] = {{LZMA_FILTER_LZMA1, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
  Bytes out = {9, 20, 5, 0, 0, 0, 0, 0, 0};
  if (lzma_properties_encode(&filters[0], out.data() + 4) != LZMA_OK) return {};
  lzma_stream strm = LZMA_STREAM_INIT;
  if (lzma_raw_encoder(&strm, filters) != LZMA_OK) return {};
  out.resize(9 + payload.size() + payload.size() / 2 + 4096);
  strm.next_in = payload.data();
  strm.avail_in = payload.size();
  strm.next_out = out.data() + 9;
  strm.avail_out = out.size() - 9;
  const lzma_ret ret = lzma_code(&strm, LZMA_FINISH);
  out.resize(out.size() - strm.avail_out);
  lzma_end(&strm);
  return ret == LZMA_STREAM_END ? out : Bytes{};
}

template <class Compressor> bool prepareSection(File& file, const Bytes& payload);
template <> bool prepareSection<zelvo::CDeflateCompressor>(File& file, const Bytes& payload) {
  return compressInto<zelvo::CDeflateCompressor>(file, payload);
}
template <> bool prepareSection<zelvo::CBZip2Compressor>(File& file, const Bytes& payload) {
  return compressInto<zelvo::CBZip2Compressor>(file, payload);
}
template <> bool prepareSection<void>(File& file, const Bytes& payload) {
  const Bytes section = lzmaSection(payload);
  return !section.empty() && file.seek(0) && file.writeAll(section.data(), section.size());
}

template <class Compressor> void BM_Decompress(benchmark::State& state, std::uint32_t method) {
  const Bytes payload = tileLikePayload(std::size_t(state.range(0)) << 20);
  File file = scratchFile("d");
  if (!prepareSection<Compressor>(file, payload)) {
    state.SkipWithError("could not prepare the section");
    return;
  }
  Bytes out(payload.size());
  for (auto _ : state) {
    Result<std::unique_ptr<zelvo::IDecompressor>> d = zelvo::CreateDecompressor(method);
    if (!d || !file.seek(0) || !(*d)->Read(file, out.data(), out.size())) {
      state.SkipWithError("decompression failed");
      break;
    }
    benchmark::DoNotOptimize(out.data());
  }
  if (out != payload) state.SkipWithError("decompressed data differ");
  state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(payload.size()));
}

void BM_DeflateCompress(benchmark::State& state) { BM_Compress<zelvo::CDeflateCompressor>(state); }
void BM_BZip2Compress(benchmark::State& state) { BM_Compress<zelvo::CBZip2Compressor>(state); }
// The spliced bzip2 stream (the same bytes as BM_BZip2Compress) on range(1) threads, 1 meaning
// the calling thread alone; real time is what counts.
void BM_ParallelBZip2Compress(benchmark::State& state) {
  const Bytes payload = tileLikePayload(std::size_t(state.range(0)) << 20);
  const unsigned threads = unsigned(state.range(1));
  std::unique_ptr<zelvo::ThreadPool> pool;
  if (threads > 1) pool = std::make_unique<zelvo::ThreadPool>(threads);
  File file = scratchFile("p");
  for (auto _ : state) {
    zelvo::ParallelBZip2Compressor c(pool.get());
    if (!file.seek(0) || !c.Write(file, payload.data(), payload.size()) || !c.Finish(file)) {
      state.SkipWithError("compression failed");
      break;
    }
  }
  state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(payload.size()));
}
// One 600k block of the fast encoder, with range(0) 1 also read back by libbz2 as every build does:
// the difference is what the read-back costs.
void BM_FastBlock(benchmark::State& state) {
  const Bytes payload = tileLikePayload(std::size_t(1) << 20);
  zelvo::BZip2BlockCutter cutter(zelvo::kBZip2BlockSize100k);
  cutter.feed(payload.data(), payload.size());
  const Bytes block = cutter.takeBlock();
  for (auto _ : state) {
    const zelvo::BZip2CompressedBlock encoded =
        zelvo::encodeBZip2BlockFast(block, zelvo::kBZip2BlockSize100k);
    if (!encoded.ok || (state.range(0) && !zelvo::bzip2BlockReadsBack(encoded, block))) {
      state.SkipWithError("the block did not read back");
      break;
    }
  }
  state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(block.size()));
}
void BM_DeflateDecompress(benchmark::State& state) {
  BM_Decompress<zelvo::CDeflateCompressor>(state, zelvo::kMethodDeflate);
}
void BM_BZip2Decompress(benchmark::State& state) {
  BM_Decompress<zelvo::CBZip2Compressor>(state, zelvo::kMethodBZip2);
}
void BM_LZMADecompress(benchmark::State& state) { BM_Decompress<void>(state, zelvo::kMethodLZMA); }

// Payload sizes in MiB.
BENCHMARK(BM_DeflateCompress)->Arg(1)->Arg(4)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BZip2Compress)->Arg(1)->Arg(4)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParallelBZip2Compress)
    ->Args({4, 1})
    ->Args({4, 2})
    ->Args({4, 4})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_FastBlock)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DeflateDecompress)->Arg(1)->Arg(4)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BZip2Decompress)->Arg(1)->Arg(4)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LZMADecompress)->Arg(1)->Arg(4)->Unit(benchmark::kMillisecond);

} // namespace
