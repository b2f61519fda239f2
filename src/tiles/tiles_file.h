// The tiles file (*.mstiles): a 64-byte header, an optional digest and an optional unused block,
// then one compressed stream holding the payload of a TileSet (its eleven tables in order).
#pragma once

#include "compress/md5.h"
#include "platform/file.h"
#include "tiles/tile_store.h"

#include <cstdint>
#include <memory>
#include <string>

namespace zelvo {

inline constexpr char kTilesMagic[8] = {'M', 'S', 'T', 'I', 'L', 'E', 'S', '\0'};
inline constexpr std::uint32_t kTilesFlagDigest = 1;     // an MD5 of the payload follows the header
inline constexpr std::uint32_t kTilesFlagExtraBlock = 2; // 16 more bytes follow; read and discarded
inline constexpr std::uint32_t kTilesKnownFlags = kTilesFlagDigest | kTilesFlagExtraBlock;

struct TilesFileHeader {
  char magic[8];
  std::uint32_t flags;
  std::uint32_t paletteCount;
  std::uint32_t patternCount;
  std::uint32_t groupCounts[kGroupCount]; // groups 0 to 7, then the sprite group
  std::uint32_t compression;              // CompressionMethod
  std::uint32_t reserved;                 // written as 0, not read
};
static_assert(sizeof(TilesFileHeader) == 64);

TileCounts countsOf(const TilesFileHeader& header);

// What precedes a tiles file's stream: the header, and the digest when flags bit 0 is set.
struct TilesFilePreamble {
  TilesFileHeader header{};
  bool hasDigest = false;
  Md5Digest digest{};
};

// Reads the header and the optional blocks from the current position; false when fewer bytes
// arrive, the magic is wrong or an undefined flag is set. The file then stands at the stream.
bool readTilesPreamble(File& file, TilesFilePreamble& preamble);

// Whether a compressed stream of `method` in the rest of `file` (from its current position) could
// hold `payloadSize` bytes at all; checked before a payload's memory is taken. False for an
// unknown method or when the file's size or position cannot be determined.
bool payloadFitsFile(File& file, std::uint32_t method, std::uint64_t payloadSize);

// Reads one tiles file from the current position into `set`. On failure `set` keeps its contents.
bool loadTilesFile(TileSet& set, File& file);
// Opens `path` for reading, loads it and closes it; an unopenable path is a failure.
bool openTilesFile(TileSet& set, const std::string& path);
// Writes `set` at the current position: an empty set as a bare header, any other with flags 1
// (digest) and compression 1 (deflate). The file then stands right after the stream.
bool writeTilesFile(const TileSet& set, File& file);
// Loads the first valid "*.mstiles" file of the folder of `path` (the current folder when the path
// has no separator) into a new TileSet stored into `slot`; on failure `slot` is unchanged.
bool findTilesFileBeside(const std::string& path, std::unique_ptr<TileSet>& slot);

} // namespace zelvo
