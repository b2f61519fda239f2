// Helpers for the stream tests: sample payloads, whole-file access, and the libraries' own one-shot
// encoders and decoders, which serve as the reference for our streaming classes.
#pragma once

#include "compress/streams.h"
#include "platform/file.h"
#include "support/temp_dir.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <random>
#include <vector>

namespace zelvo::test {

using Bytes = std::vector<std::uint8_t>;

inline Bytes randomBytes(std::size_t size, std::uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes out(size);
  for (auto& b : out) b = std::uint8_t(rng());
  return out;
}

// Tile-like data: 32-byte patterns drawn from a small set, with a little noise.
inline Bytes tileLikeBytes(std::size_t size, std::uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes patterns = randomBytes(32 * 64, seed + 1);
  Bytes out(size);
  for (std::size_t i = 0; i < size; i += 32) {
    const std::uint8_t* p = patterns.data() + 32 * (rng() % 64);
    for (std::size_t j = 0; j < 32 && i + j < size; ++j) out[i + j] = p[j];
    if (rng() % 8 == 0) out[i + rng() % std::min<std::size_t>(32, size - i)] ^= std::uint8_t(rng());
  }
  return out;
}

// Writes `data` through the compressor in pieces whose sizes cycle through `pieces` (empty data as
// one empty Write), then finishes the stream.
inline Status compressInPieces(ICompressor& c, File& file, const Bytes& data,
                               const std::vector<std::size_t>& pieces) {
  if (data.empty()) {
    if (Status written = c.Write(file, data.data(), 0); !written) return written;
    return c.Finish(file);
  }
  std::size_t at = 0, k = 0;
  while (at < data.size()) {
    const std::size_t n = std::min(pieces[k++ % pieces.size()], data.size() - at);
    if (Status written = c.Write(file, data.data() + at, n); !written) return written;
    at += n;
  }
  return c.Finish(file);
}

// Reads `size` bytes through the decompressor in pieces whose sizes cycle through `pieces`.
inline std::optional<Bytes> decompressInPieces(IDecompressor& d, File& file, std::size_t size,
                                               const std::vector<std::size_t>& pieces) {
  Bytes out(size);
  std::size_t at = 0, k = 0;
  while (at < size) {
    const std::size_t n = std::min(pieces[k++ % pieces.size()], size - at);
    if (!d.Read(file, out.data() + at, n)) return std::nullopt;
    at += n;
  }
  return out;
}

// Whole file contents; the file position is left at the end.
inline Bytes allBytes(File& file) {
  std::uint64_t size = 0;
  Bytes out;
  if (!test::into(file.size(), size) || !file.seek(0)) return out;
  out.resize(std::size_t(size));
  if (!file.readExact(out.data(), out.size())) out.clear();
  return out;
}

inline std::uint64_t positionOf(File& file) {
  std::uint64_t p = ~std::uint64_t(0);
  test::into(file.position(), p);
  return p;
}

// One-shot library coding with the parameters the streams use.
Bytes zlibRawDeflate(const Bytes& data);
std::optional<Bytes> zlibInflate(const Bytes& stream, std::size_t size, int windowBits);
Bytes bzip2Compress(const Bytes& data);
std::optional<Bytes> bzip2Decompress(const Bytes& stream, std::size_t size);
// libbz2's one stream of `data` at any block size, fed as CBZip2Compressor feeds it: every byte
// with BZ_RUN, then BZ_FINISH without input (which ends a block that filled on the last byte
// before the run in progress, unlike a single BZ_FINISH call).
Bytes bzip2RunThenFinish(const Bytes& data, int blockSize100k);

} // namespace zelvo::test
