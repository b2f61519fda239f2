#include "pipeline/pack_format.h"

#include "compress/bzip2_parallel.h"
#include "compress/md5.h"
#include "compress/rom_rules.h"
#include "compress/section_reader.h"
#include "compress/streams.h"
#include "tiles/header_blocks.h"
#include "tiles/tiles_file.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

namespace zelvo {

namespace {

constexpr std::uint64_t kProgressBytes = 1u << 16; // payload bytes between two progress reports
constexpr std::uint32_t kReadBytes = 1u << 18;     // store bytes read at once

// A table the section can be written from: generated tiles, consistent counts, and offsets that
// all point at a whole tile inside the tile data.
bool tableIsComplete(const HiResTileTable& table) {
  if (!table.tempFile.isOpen() || table.scale < kMinTileScale || table.scale > kMaxTileScale) return false;
  if (table.tileBytes != hiResTileBytes(table.scale)) return false;
  if (table.entryCount == 0 || !table.entryOffsets) return false;
  std::uint64_t sum = 0;
  for (std::uint32_t count : table.groupCounts) sum += count;
  if (sum != table.entryCount) return false;
  const std::uint64_t dataBytes = std::uint64_t(table.tileCount) * table.tileBytes;
  for (std::uint32_t i = 0; i < table.entryCount; ++i) {
    const std::uint32_t offset = table.entryOffsets[i];
    if (offset % table.tileBytes != 0 || offset >= dataBytes) return false;
  }
  return true;
}

// Reads exactly `size` bytes at `offset`, or says why not.
Status readAt(File& file, void* buffer, std::size_t size, std::uint64_t offset, const std::string& path,
              const char* what) {
  std::uint64_t fileSize = 0;
  if (!file.size(fileSize)) return systemError(file.lastError(), path, "reading the file size");
  if (offset + size > fileSize)
    return makeError(ErrorCause::Truncated, path, std::string("the file ends inside ") + what);
  if (!file.readAt(buffer, size, offset) || !file.seek(offset + size))
    return systemError(file.lastError(), path, "reading");
  return {};
}

} // namespace

Result<PackLayout> readPackLayout(File& file, const std::string& path) {
  PackLayout layout;
  PackHeader& header = layout.header;
  if (Status s = readAt(file, &header, sizeof header, 0, path, "the pack header"); !s) return s.error();
  if (std::memcmp(header.magic, kPackMagic, sizeof kPackMagic) != 0)
    return makeError(ErrorCause::BadFormat, path, "not a pack (no MSHIROM magic)");
  if (!file.size(layout.fileSize)) return systemError(file.lastError(), path, "reading the file size");
  struct Section {
    const char* name;
    std::uint32_t size;
    std::uint64_t* start;
  } sections[] = {{"ROM", header.romSectionSize, &layout.romStart},
                  {"tiles", header.tilesSectionSize, &layout.tilesStart},
                  {"hi-res", header.hiResSectionSize, &layout.hiResStart}};
  std::uint64_t at = sizeof header;
  for (const Section& section : sections) {
    *section.start = at;
    const std::uint64_t left = layout.fileSize > at ? layout.fileSize - at : 0;
    if (section.size > left)
      return makeError(ErrorCause::Truncated, path,
                       std::string("the ") + section.name + " section claims " + sizeText(section.size) +
                           " but only " + sizeText(left) + " follow its start");
    at += section.size;
  }
  layout.end = at;
  return layout;
}

Result<RomSectionHead> readRomSectionHead(File& file, const PackLayout& layout, const std::string& path) {
  RomSectionHead head{};
  if (layout.header.romSectionSize < sizeof head)
    return makeError(ErrorCause::Truncated, path, "the ROM section is shorter than its head");
  if (Status s = readAt(file, &head, sizeof head, layout.romStart, path, "the ROM section"); !s)
    return s.error();
  if (head.romSize > kRomMaxSize)
    return makeError(ErrorCause::LimitExceeded, path,
                     "the ROM section claims a ROM of " + sizeText(head.romSize) + "; a ROM holds at most " +
                         std::to_string(kRomMaxSize) + " bytes");
  if (Status fits =
          checkExpansion(head.compression, layout.header.romSectionSize - sizeof head, head.romSize, path);
      !fits)
    return fits.error();
  return head;
}

Result<HiResSectionHead> readHiResSectionHead(File& file, const PackLayout& layout, const std::string& path) {
  HiResSectionHead head;
  HiResSectionHeader& header = head.header;
  if (layout.header.hiResSectionSize < kHiResStreamOffset)
    return makeError(ErrorCause::Truncated, path, "the hi-res section is shorter than its header and digest");
  if (Status s = readAt(file, &header, sizeof header, layout.hiResStart, path, "the hi-res section"); !s)
    return s.error();
  if (Status s = readAt(file, head.digest.data(), head.digest.size(), layout.hiResStart + kHiResDigestOffset,
                        path, "the hi-res section");
      !s)
    return s.error();
  auto bad = [&](ErrorCause cause, const std::string& detail) { return makeError(cause, path, detail); };
  if (std::memcmp(header.magic, kHiResMagic, sizeof kHiResMagic) != 0)
    return bad(ErrorCause::BadFormat, "the hi-res section has no MSHITIL magic");
  if (const std::uint32_t undefined = header.flags & ~kHiResFlagDigest)
    return undefinedFlags(undefined, path, " in the hi-res section");
  if (!(header.flags & kHiResFlagDigest))
    return bad(ErrorCause::Unsupported, "the hi-res section has no digest");
  if (header.scale < kMinTileScale || header.scale > kMaxTileScale)
    return bad(ErrorCause::BadFormat, "the hi-res scale " + std::to_string(header.scale) + " is not 1 to 4");
  std::uint64_t entries = 0;
  for (std::uint32_t c : header.groupCounts) entries += c;
  if (entries != header.entryCount)
    return bad(ErrorCause::BadFormat, "the hi-res entry count " + std::to_string(header.entryCount) +
                                          " is not the sum of its group counts, " + std::to_string(entries));
  if (header.entryCount > kMaxTileEntries)
    return bad(ErrorCause::LimitExceeded, std::to_string(header.entryCount) +
                                              " hi-res tile entries; at most " +
                                              std::to_string(kMaxTileEntries) + " are read");
  if (header.tileCount > header.entryCount)
    return bad(ErrorCause::BadFormat, std::to_string(header.tileCount) + " hi-res tiles for " +
                                          std::to_string(header.entryCount) + " tile entries");
  head.payloadSize = hiResPayloadSize(header.tileCount, header.scale, header.entryCount);
  const std::uint64_t streamBytes = layout.header.hiResSectionSize - kHiResStreamOffset;
  if (Status fits = checkExpansion(header.compression, streamBytes, head.payloadSize, path); !fits)
    return fits.error();
  return head;
}

Status checkHiResCounts(const HiResSectionHeader& header, const TileSet& tiles, const std::string& path) {
  for (int g = 0; g < kGroupCount; ++g)
    if (header.groupCounts[g] != tiles.groups[g].count)
      return makeError(ErrorCause::BadFormat, path,
                       "the hi-res section counts " + std::to_string(header.groupCounts[g]) +
                           " entries in group " + std::to_string(g) + ", the tiles section " +
                           std::to_string(tiles.groups[g].count));
  return {};
}

namespace {

Error hiResWriteFailed(const File& output) {
  return systemError(output.lastError(), {}, "writing the hi-res section of the pack");
}
// The compressor's reason: its library's result, or the file failing under it.
Error hiResCompressFailed(const Error& why) {
  return makeError(why.cause, {}, "compressing the hi-res section of the pack: " + why.detail);
}

// The section's header, then a placeholder for the payload's digest at `digestPosition`.
Status writeHiResHeader(const HiResTileTable& table, File& output, std::uint64_t& digestPosition) {
  HiResSectionHeader header{};
  std::memcpy(header.magic, kHiResMagic, sizeof header.magic);
  header.flags = kHiResFlagDigest;
  header.tileCount = table.tileCount;
  header.entryCount = table.entryCount;
  std::memcpy(header.groupCounts, table.groupCounts, sizeof header.groupCounts);
  header.scale = table.scale & 0xFFu;
  header.compression = kMethodBZip2;
  if (!output.writeAll(&header, sizeof header)) return hiResWriteFailed(output);
  if (!output.position(digestPosition)) return hiResWriteFailed(output);
  const std::uint8_t placeholder[16] = {};
  if (!output.writeAll(placeholder, sizeof placeholder)) return hiResWriteFailed(output);
  return {};
}

// The payload's tiles, read from the store a run at a time at known offsets, digested and
// compressed; progress as payload bytes of `payloadBytes`.
Status compressTiles(HiResTileTable& table, File& output, ICompressor& compressor, Md5& digest,
                     ProgressSink* progress, std::uint64_t payloadBytes) {
  const std::uint32_t tilesPerRead =
      table.tileBytes ? std::max<std::uint32_t>(1, kReadBytes / table.tileBytes) : 1;
  std::unique_ptr<std::uint8_t[]> tiles(new (std::nothrow)
                                            std::uint8_t[std::size_t(tilesPerRead) * table.tileBytes]);
  if (!tiles) return makeError(ErrorCause::OutOfMemory, {}, "no memory to compress the hi-res tiles");
  std::uint64_t done = 0;
  std::uint64_t reported = 0;
  for (std::uint32_t t = 0; t < table.tileCount;) {
    if (cancelRequested(progress)) return cancelledError();
    const std::uint32_t count = std::min(tilesPerRead, table.tileCount - t);
    const std::size_t bytes = std::size_t(count) * table.tileBytes;
    if (!table.tempFile.readAt(tiles.get(), bytes, std::uint64_t(t) * table.tileBytes))
      return systemError(table.tempFile.lastError(), {}, "reading the hi-res tile store");
    digest.update(tiles.get(), bytes);
    if (Status written = compressor.Write(output, tiles.get(), bytes); !written)
      return hiResCompressFailed(written.error());
    t += count;
    done += bytes;
    if (done - reported >= kProgressBytes) {
      reportProgress(progress, ProgressStage::CompressingHiRes, done, payloadBytes);
      reported = done;
      if (cancelRequested(progress)) return cancelledError();
    }
  }
  return {};
}

} // namespace

Status writeHiResSection(HiResTileTable& table, File& output, ProgressSink* progress, ThreadPool* pool,
                         Md5Digest* payloadDigest, BZip2Encoder encoder) {
  if (!tableIsComplete(table))
    return makeError(ErrorCause::InvalidArgument, {}, "the hi-res tiles are not complete");
  std::uint64_t digestPosition = 0;
  if (Status s = writeHiResHeader(table, output, digestPosition); !s) return s;

  std::unique_ptr<ICompressor> compressor(new (std::nothrow)
                                              ParallelBZip2Compressor(pool, kBZip2BlockSize100k, encoder));
  if (!compressor) return makeError(ErrorCause::OutOfMemory, {}, "no memory to compress the hi-res tiles");
  Md5 digest;
  const std::uint64_t payloadBytes = hiResPayloadSize(table.tileCount, table.scale, table.entryCount);
  if (Status s = compressTiles(table, output, *compressor, digest, progress, payloadBytes); !s) return s;

  // The entry table as held in memory: little-endian 32-bit offsets.
  const std::uint64_t tableBytes = std::uint64_t(table.entryCount) * 4;
  const void* offsets = table.entryOffsets.get();
  digest.update(offsets, std::size_t(tableBytes));
  if (Status written = compressor->Write(output, offsets, std::size_t(tableBytes)); !written)
    return hiResCompressFailed(written.error());
  const Status finished = compressor->Finish(output);
  compressor.reset();
  if (!finished) return hiResCompressFailed(finished.error());
  reportProgress(progress, ProgressStage::CompressingHiRes, payloadBytes, payloadBytes);

  const Md5Digest sum = digest.final();
  std::uint64_t end = 0;
  if (!output.position(end) || !output.seek(digestPosition) || !output.writeAll(sum.data(), sum.size()) ||
      !output.seek(end))
    return hiResWriteFailed(output);
  if (payloadDigest) *payloadDigest = sum;
  return {};
}

} // namespace zelvo
