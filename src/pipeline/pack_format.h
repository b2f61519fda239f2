// The hi-res ROM pack (*.zrm): a 48-byte header, then the ROM section (deflate), the tiles
// section (a complete tiles file) and the hi-res section (bzip2), back to back. All integers are
// unsigned 32-bit little-endian; the records are held in memory exactly as in the file.
//
// Bounds a reader holds a pack to before it decompresses anything: every section lies within the
// file; the ROM image is at most kRomMaxSize bytes; the hi-res scale is 1 to 4, the entry count is
// the sum of the group counts and at most kMaxTileEntries (as in a tiles file), the tile count is
// at most the entry count, and the payload these give is one the section's stream could hold.
#pragma once

#include "compress/bzip2_parallel.h"
#include "compress/md5.h"
#include "pipeline/hires_tiles.h"
#include "platform/error.h"
#include "platform/file.h"
#include "platform/progress.h"
#include "tiles/tile_store.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace zelvo {

class ThreadPool;

// The first 8 bytes of a pack: "MSHIROM" followed by a zero byte.
inline constexpr char kPackMagic[8] = {'M', 'S', 'H', 'I', 'R', 'O', 'M', '\0'};
// Whether the first `length` bytes of a file start with kPackMagic. The ROM loader is given this
// test, so that a pack named (or zipped) in place of the ROM is handed over to be refused as one.
inline bool hasPackMagic(const std::uint8_t* head, std::size_t length) {
  return length >= sizeof kPackMagic && std::memcmp(head, kPackMagic, sizeof kPackMagic) == 0;
}
inline constexpr char kHiResMagic[8] = {'M', 'S', 'H', 'I', 'T', 'I', 'L', '\0'};
inline constexpr std::uint32_t kHiResFlagDigest = 1; // the payload's MD5 follows the header

// TileScale: a hi-res tile is 8 x scale pixels square, 4 bytes a pixel.
inline constexpr std::uint32_t kMinTileScale = 1;
inline constexpr std::uint32_t kMaxTileScale = 4;
constexpr std::uint32_t hiResTileBytes(std::uint32_t scale) { return 256u * scale * scale; }
// The hi-res payload: the tiles, then one 32-bit offset per tile entry.
constexpr std::uint64_t hiResPayloadSize(std::uint32_t tileCount, std::uint32_t scale,
                                         std::uint32_t entryCount) {
  return std::uint64_t(tileCount) * hiResTileBytes(scale) + std::uint64_t(entryCount) * 4u;
}

struct PackHeader {
  char magic[8];                  // kPackMagic
  std::uint32_t reserved0;        // 0
  std::uint32_t scale;            // TileScale, 1 to 4
  std::uint8_t romDigest[16];     // MD5 of the ROM image as the ROM section holds it
  std::uint32_t reserved1;        // 0
  std::uint32_t romSectionSize;   // R, the 8-byte head included
  std::uint32_t tilesSectionSize; // T
  std::uint32_t hiResSectionSize; // H
};
static_assert(sizeof(PackHeader) == 48);

// Head of the ROM section; the raw deflate stream of the ROM image follows.
struct RomSectionHead {
  std::uint32_t romSize;     // bytes of the ROM image, without a copier header
  std::uint32_t compression; // CompressionMethod 1 (deflate)
};
static_assert(sizeof(RomSectionHead) == 8);

struct HiResSectionHeader {
  char magic[8];                          // kHiResMagic
  std::uint32_t flags;                    // kHiResFlagDigest
  std::uint32_t tileCount;                // distinct tiles in the payload
  std::uint32_t entryCount;               // sum of the group counts
  std::uint32_t groupCounts[kGroupCount]; // groups 0 to 7, then the sprite group
  std::uint32_t scale;                    // TileScale: one byte, three zero bytes
  std::uint32_t compression;              // CompressionMethod 2 (bzip2)
};
static_assert(sizeof(HiResSectionHeader) == 64);

// Offsets within the hi-res section.
inline constexpr std::uint32_t kHiResDigestOffset = sizeof(HiResSectionHeader);
inline constexpr std::uint32_t kHiResStreamOffset = kHiResDigestOffset + 16;

// The reading side. Each reader says why a pack cannot be read: Truncated (a section runs past
// the end of the file, or claims more than its bytes can hold), BadFormat, Unsupported or
// LimitExceeded (a size or count beyond the bounds above).

// Where the sections lie, from the header at the start of the file. The sections are checked
// against the file one after the other and the first that runs past its end is named; bytes after
// the last section are allowed here (`end` below `fileSize`).
struct PackLayout {
  PackHeader header{};
  std::uint64_t fileSize = 0;
  std::uint64_t romStart = 0, tilesStart = 0, hiResStart = 0, end = 0;
};
Result<PackLayout> readPackLayout(File& file, const std::string& path);

// The head of the ROM section; the file then stands at its stream.
Result<RomSectionHead> readRomSectionHead(File& file, const PackLayout& layout, const std::string& path);

struct HiResSectionHead {
  HiResSectionHeader header{};
  Md5Digest digest{};
  std::uint64_t payloadSize = 0; // hiResPayloadSize of the counts and scale
};
// The header and digest of the hi-res section, checked; the file then stands at its stream.
Result<HiResSectionHead> readHiResSectionHead(File& file, const PackLayout& layout, const std::string& path);
// Whether the hi-res section's group counts are those of the pack's tiles section.
Status checkHiResCounts(const HiResSectionHeader& header, const TileSet& tiles, const std::string& path);

// The hi-res payload is compressed in runs whose bounds depend only on where the tiles lie: each
// run holds as many whole tiles as fit in one bzip2 block (the last run of tiles fewer), and the
// entry table follows in runs of the same byte size. Each run is compressed on its own (into one
// block, or two should its first-stage form overflow one), so a run whose tiles did not change
// compresses to the same bits: the build cache keeps them under the digest of the run's bytes.
std::uint32_t hiResTilesPerRun(std::uint32_t tileBytes);

// What writeHiResSection did.
struct HiResWriteStats {
  std::size_t runs = 0;           // runs of the payload
  std::size_t fromCache = 0;      // of them, the ones the cache held
  std::size_t readBackFailed = 0; // blocks of the fast encoder that did not read back (libbz2 made them)
};

class BuildCache;

// Writes the hi-res section of `table` at the current position of `output`: the header, the MD5
// of the payload, then the bzip2 stream of the payload (the tile file's first tileCount x
// tileBytes bytes, then the entry table) made of its runs (hiResTilesPerRun). The tiles stream from
// the table's file a run at a time and the digest is taken in the same pass, then written back
// over its placeholder. True when the whole section was written, `output` then standing right
// after it. The table's counts and offsets stay as they are; its tile file is read from the start.
// Fails without writing when the table holds no generated tiles or an offset lies outside its
// tiles.
// Progress: ProgressStage::CompressingHiRes, payload bytes compressed of the payload size; a
// sink that asks to stop ends it with ErrorCause::Cancelled. The runs are compressed on `pool`
// when there is one, else on the calling thread; the stream is the same byte for byte either way,
// and with or without `cache` (whose runs are taken instead of compressing them again, and which
// keeps the runs compressed now). `payloadDigest` (if given) receives the payload's MD5 once the
// section is written. `encoder` chooses who compresses the blocks: the fast encoder of our own
// (every block read back by libbz2 before it is spliced), or libbz2.
Status writeHiResSection(HiResTileTable& table, File& output, ProgressSink* progress = nullptr,
                         ThreadPool* pool = nullptr, Md5Digest* payloadDigest = nullptr,
                         BZip2Encoder encoder = BZip2Encoder::Fast, BuildCache* cache = nullptr,
                         HiResWriteStats* stats = nullptr);

} // namespace zelvo
