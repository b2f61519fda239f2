#include "tiles/tiles_file.h"

#include "compress/section_reader.h"
#include "compress/streams.h"
#include "platform/fs.h"
#include "tiles/header_blocks.h"

#include <cstring>
#include <new>
#include <optional>

namespace zelvo {

TileCounts countsOf(const TilesFileHeader& header) {
  TileCounts counts;
  counts.palettes = header.paletteCount;
  counts.patterns = header.patternCount;
  for (int g = 0; g < kGroupCount; ++g) counts.groups[g] = header.groupCounts[g];
  return counts;
}

Status checkTileCounts(const TileCounts& counts, const std::string& path) {
  auto beyond = [&](std::uint64_t count, std::uint32_t ceiling, const char* what) {
    return makeError(ErrorCause::LimitExceeded, path,
                     std::to_string(count) + " " + what + "; at most " + std::to_string(ceiling) +
                         " are read");
  };
  if (counts.palettes > kMaxTilesPalettes) return beyond(counts.palettes, kMaxTilesPalettes, "palettes");
  if (counts.patterns > kMaxTilesPatterns) return beyond(counts.patterns, kMaxTilesPatterns, "patterns");
  std::uint64_t entries = 0;
  for (std::uint32_t c : counts.groups) entries += c;
  if (entries > kMaxTileEntries) return beyond(entries, kMaxTileEntries, "tile entries");
  return {};
}

Result<TilesFilePreamble> readTilesPreamble(File& file, const std::string& path) {
  TilesFilePreamble read;
  if (Status s = readExactly(file, &read.header, sizeof read.header, path, "the header"); !s)
    return s.error();
  if (std::memcmp(read.header.magic, kTilesMagic, sizeof kTilesMagic) != 0)
    return makeError(ErrorCause::BadFormat, path, "not a tiles file (no MSTILES magic)");
  if (const std::uint32_t undefined = read.header.flags & ~kTilesKnownFlags)
    return undefinedFlags(undefined, path);
  read.hasDigest = read.header.flags & kTilesFlagDigest;
  Status blocks = readHeaderBlocks(file, read.hasDigest ? &read.digest : nullptr,
                                   read.header.flags & kTilesFlagExtraBlock, path);
  if (!blocks) return blocks.error();
  const TileCounts counts = countsOf(read.header);
  if (Status s = checkTileCounts(counts, path); !s) return s.error();
  // Within the ceilings the payload always fits in 32 bits.
  if (!payloadSizeOf(counts, read.payloadSize))
    return makeError(ErrorCause::LimitExceeded, path, "the counts make a payload beyond 4 GiB");
  return read;
}

Result<Md5Digest> digestTilesPayload(File& file, const TilesFilePreamble& preamble, const std::string& path) {
  // An empty payload is not looked at, its compression field included.
  if (preamble.payloadSize == 0) return md5Of(nullptr, 0);
  return digestSection(file, preamble.header.compression, preamble.payloadSize, path);
}

Status readTilesFile(TileSet& set, File& file, const std::string& path) {
  Result<TilesFilePreamble> preamble = readTilesPreamble(file, path);
  if (!preamble) return preamble.error();
  const std::uint32_t size = preamble->payloadSize;
  if (size == 0) {
    // Nothing to read: neither the compression nor the digest is looked at.
    installTileBlock(set, nullptr, TileCounts{});
    return {};
  }
  Result<SectionBlock> payload = readSectionBlock(file, preamble->header.compression, size, 0, path);
  if (!payload) return payload.error();
  if (preamble->hasDigest && payload->digest != preamble->digest)
    return makeError(ErrorCause::DigestMismatch, path, "the payload does not match its MD5 digest");
  installTileBlock(set, std::move(payload->data), countsOf(preamble->header));
  return {};
}

Status readTilesFile(TileSet& set, const std::string& path) {
  Result<File> file = File::openRead(path);
  if (!file) return file.error();
  return readTilesFile(set, *file, path);
}

Status findTilesBeside(const std::string& path, std::unique_ptr<TileSet>& slot) {
  const std::size_t separator = lastSeparator(path);
  const std::string folder = separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
  const Result<std::vector<DirEntry>> names = listMatching(folder, "*.mstiles");
  if (!names) return names.error();
  std::optional<Error> first;
  for (const DirEntry& entry : *names) {
    if (entry.directory) continue;
    std::unique_ptr<TileSet> set = createTileSet();
    const Status read = readTilesFile(*set, folder + entry.name);
    if (read) {
      slot = std::move(set);
      return {};
    }
    if (!first) first = read.error();
  }
  const std::string where = folder.empty() ? std::string("the current folder") : folder;
  if (!first) return makeError(ErrorCause::NotFound, where, "no .mstiles file in the folder");
  return makeError(first->cause, where, "no valid .mstiles file in the folder (" + first->message() + ")");
}

Status writeTilesFile(const TileSet& set, File& file) {
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
  if (!payloadSizeOf(countsOf(header), size))
    return makeError(ErrorCause::LimitExceeded, {}, "the tiles do not fit in a tiles file");
  for (const Table& t : tables)
    if (t.bytes && !t.data)
      return makeError(ErrorCause::InvalidArgument, {}, "a table of the tiles is missing");

  header.flags = kTilesFlagDigest;
  header.compression = kMethodDeflate;
  if (Status s = file.writeAll(&header, sizeof header); !s) return s;
  Md5 md5;
  for (const Table& t : tables)
    if (t.bytes) md5.update(t.data, t.bytes);
  const Md5Digest digest = md5.final();
  if (Status s = file.writeAll(digest.data(), digest.size()); !s) return s;

  std::unique_ptr<CDeflateCompressor> compressor(new (std::nothrow) CDeflateCompressor);
  if (!compressor) return makeError(ErrorCause::OutOfMemory, {}, "no memory to compress the tiles");
  for (const Table& t : tables) {
    if (!t.bytes) continue;
    if (Status written = compressor->Write(file, t.data, t.bytes); !written) return written;
  }
  return compressor->Finish(file);
}

} // namespace zelvo
