// The hi-res ROM pack (*.zrm): a 48-byte header, then the ROM section (deflate), the tiles
// section (a complete tiles file) and the hi-res section (bzip2), back to back. All integers are
// unsigned 32-bit little-endian; the records are held in memory exactly as in the file.
#pragma once

#include "pipeline/hires_tiles.h"
#include "platform/file.h"
#include "platform/progress.h"
#include "tiles/tile_store.h"

#include <cstdint>

namespace zelvo {

class ThreadPool;

inline constexpr char kPackMagic[8] = {'M', 'S', 'H', 'I', 'R', 'O', 'M', '\0'};
inline constexpr char kHiResMagic[8] = {'M', 'S', 'H', 'I', 'T', 'I', 'L', '\0'};
inline constexpr std::uint32_t kHiResFlagDigest = 1; // the payload's MD5 follows the header

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

// Writes the hi-res section of `table` at the current position of `output`: the header, the MD5
// of the payload, then the bzip2 stream of the payload (the tile file's first tileCount x
// tileBytes bytes, then the entry table). The tiles stream from the table's file one at a time
// and the digest is taken in the same pass, then written back over its placeholder. True when
// the whole section was written, `output` then standing right after it. The table's counts and
// offsets stay as they are; its tile file is read from the start. Fails without writing when the
// table holds no generated tiles or an offset lies outside its tiles.
// Progress: ProgressStage::CompressingHiRes, payload bytes compressed of the payload size; the
// section fails as soon as the sink asks to stop. The payload's blocks are compressed on `pool`
// when there is one (the stream is the same byte for byte), else on the calling thread.
bool WriteHiResSection(HiResTileTable& table, File& output, ProgressSink* progress = nullptr,
                       ThreadPool* pool = nullptr);

} // namespace zelvo
