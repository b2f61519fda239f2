#include "tiles/tiles_file.h"

#include "compress/streams.h"
#include "platform/fs.h"

#include <cstring>
#include <new>

namespace zelvo {

namespace {

// Upper bounds on how much a compressed stream can expand, used to refuse a header whose payload
// could not possibly come out of the rest of the file before any memory is taken for it:
// - stored: the payload is the bytes themselves.
// - deflate: the best a stream can do is a 258-byte match in 2 bits (1-bit length and distance
//   codes), 1032 bytes per input byte.
// - bzip2: a block holds at most 900,000 bytes after the first run-length stage, each 5 of which
//   (4 equal bytes and a count up to 251) stand for at most 255 bytes, so under 46,000,000 bytes per
//   block; a block costs at least 17 bytes (48-bit magic, 32-bit CRC, randomised bit, 24-bit origin
//   pointer, 32 bits of symbol map), and the stream a further 4.
// - LZMA: the range coder's probabilities stay within 31/2048 of certainty, so each binary decision
//   costs at least log2(2048/2017) bits and a byte of input pays for at most ~363 decisions; the
//   cheapest output is a 273-byte repeat in 14 decisions, under 7,100 bytes per input byte. 16384
//   leaves more than twice that.
constexpr std::uint64_t kDeflateMaxRatio = 1032;
constexpr std::uint64_t kBZip2MaxPerBlock = 46000000;
constexpr std::uint64_t kBZip2MinBlockBytes = 17;
constexpr std::uint64_t kLzmaMaxRatio = 16384;

} // namespace

TileCounts countsOf(const TilesFileHeader& header) {
  TileCounts counts;
  counts.palettes = header.paletteCount;
  counts.patterns = header.patternCount;
  for (int g = 0; g < kGroupCount; ++g) counts.groups[g] = header.groupCounts[g];
  return counts;
}

bool readTilesPreamble(File& file, TilesFilePreamble& preamble) {
  TilesFilePreamble read;
  if (!file.readExact(&read.header, sizeof read.header)) return false;
  if (std::memcmp(read.header.magic, kTilesMagic, sizeof kTilesMagic) != 0) return false;
  if (read.header.flags & ~kTilesKnownFlags) return false;
  if (read.header.flags & kTilesFlagDigest) {
    if (!file.readExact(read.digest.data(), read.digest.size())) return false;
    read.hasDigest = true;
  }
  if (read.header.flags & kTilesFlagExtraBlock) {
    std::uint8_t unused[16];
    if (!file.readExact(unused, sizeof unused)) return false;
  }
  preamble = read;
  return true;
}

bool payloadFitsFile(File& file, std::uint32_t method, std::uint64_t payloadSize) {
  std::uint64_t position = 0, size = 0;
  if (!file.position(position) || !file.size(size)) return false;
  const std::uint64_t remaining = size > position ? size - position : 0;
  switch (method) {
  case kMethodStored:
    return payloadSize <= remaining;
  case kMethodDeflate:
    return payloadSize <= (remaining + 1) * kDeflateMaxRatio;
  case kMethodBZip2:
    return remaining >= 4 + kBZip2MinBlockBytes &&
           payloadSize <= (remaining - 4) / kBZip2MinBlockBytes * kBZip2MaxPerBlock;
  case kMethodLZMA:
    return payloadSize <= (remaining + 1) * kLzmaMaxRatio;
  default:
    return false;
  }
}

bool loadTilesFile(TileSet& set, File& file) {
  TilesFilePreamble preamble;
  if (!readTilesPreamble(file, preamble)) return false;
  const TileCounts counts = countsOf(preamble.header);
  std::uint32_t size = 0;
  if (!payloadSizeOf(counts, size)) return false;
  if (size == 0) {
    // Nothing to read: neither the compression nor the digest is looked at.
    installTileBlock(set, nullptr, TileCounts{});
    return true;
  }
  const std::uint32_t method = preamble.header.compression;
  if (method > kMethodLZMA || !payloadFitsFile(file, method, size)) return false;
  std::unique_ptr<std::uint8_t[]> block(new (std::nothrow) std::uint8_t[size]);
  if (!block) return false;
  {
    std::unique_ptr<IDecompressor> decompressor = CreateDecompressor(method);
    if (!decompressor || !decompressor->Read(file, block.get(), size)) return false;
  }
  if (preamble.hasDigest && md5Of(block.get(), size) != preamble.digest) return false;
  installTileBlock(set, std::move(block), counts);
  return true;
}

bool openTilesFile(TileSet& set, const std::string& path) {
  File file = File::openRead(path);
  return file && loadTilesFile(set, file);
}

bool writeTilesFile(const TileSet& set, File& file) {
  struct Table {
    const void* data;
    std::size_t bytes;
  };
  Table tables[2 + kGroupCount];
  tables[0] = {set.palettes, std::size_t(set.paletteCount) * sizeof(PaletteEntry)};
  tables[1] = {set.patterns, std::size_t(set.patternCount) * sizeof(PatternEntry)};
  TilesFileHeader header{};
  std::memcpy(header.magic, kTilesMagic, sizeof kTilesMagic);
  header.paletteCount = set.paletteCount;
  header.patternCount = set.patternCount;
  bool empty = set.paletteCount == 0 && set.patternCount == 0;
  for (int g = 0; g < kGroupCount; ++g) {
    header.groupCounts[g] = set.groups[g].count;
    tables[2 + g] = {set.groups[g].entries, std::size_t(set.groups[g].count) * sizeof(TileEntry)};
    empty = empty && set.groups[g].count == 0;
  }
  if (empty) return file.writeAll(&header, sizeof header);

  // A set whose payload does not fit the format, or whose tables are missing, is not written.
  std::uint32_t size = 0;
  if (!payloadSizeOf(countsOf(header), size)) return false;
  for (const Table& t : tables)
    if (t.bytes && !t.data) return false;

  header.flags = kTilesFlagDigest;
  header.compression = kMethodDeflate;
  if (!file.writeAll(&header, sizeof header)) return false;
  Md5 md5;
  for (const Table& t : tables)
    if (t.bytes) md5.update(t.data, t.bytes);
  const Md5Digest digest = md5.final();
  if (!file.writeAll(digest.data(), digest.size())) return false;

  std::unique_ptr<CDeflateCompressor> compressor(new (std::nothrow) CDeflateCompressor);
  if (!compressor) return false;
  for (const Table& t : tables)
    if (t.bytes && !compressor->Write(file, t.data, t.bytes)) return false;
  return compressor->Finish(file);
}

bool findTilesFileBeside(const std::string& path, std::unique_ptr<TileSet>& slot) {
  const std::size_t separator = lastSeparator(path);
  const std::string folder = separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
  for (const DirEntry& entry : listMatching(folder, "*.mstiles")) {
    if (entry.directory) continue;
    std::unique_ptr<TileSet> set = createTileSet();
    if (!set) continue;
    if (openTilesFile(*set, folder + entry.name)) {
      slot = std::move(set);
      return true;
    }
  }
  return false;
}

} // namespace zelvo
