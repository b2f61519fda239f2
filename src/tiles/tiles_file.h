// The tiles file (*.mstiles): a 64-byte header, an optional digest and an optional unused block,
// then one compressed stream holding the payload of a TileSet (its eleven tables in order).
//
// Ceilings: a file may hold at most kMaxTilesPalettes palettes, kMaxTilesPatterns patterns and
// kMaxTileEntries tile entries (all nine groups together); a header that counts more is refused
// before anything is decompressed. A whole game's capture comes nowhere near them (a few thousand
// patterns and palettes, tens of thousands of entries), and they keep the largest payload, and so
// the memory a tiles file can make the program take, near 34 MB.
#pragma once

#include "compress/md5.h"
#include "platform/error.h"
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

inline constexpr std::uint32_t kMaxTilesPalettes = 131072;
inline constexpr std::uint32_t kMaxTilesPatterns = 131072;
inline constexpr std::uint32_t kMaxTileEntries = 1000000;

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
  std::uint32_t payloadSize = 0; // from the counts
};

// Reads the header and the optional blocks from the current position and checks them: the magic,
// the flags, and the counts against the ceilings. The file then stands at the stream. `path` only
// names the file in the error.
Result<TilesFilePreamble> readTilesPreamble(File& file, const std::string& path);
// Whether the counts stay within the ceilings; the error names the first count beyond them.
Status checkTileCounts(const TileCounts& counts, const std::string& path);

// Decompresses the payload that follows `preamble` and digests it, keeping nothing: every check of
// readTilesFile but the comparison with the stored digest (an empty payload is not read at all).
Result<Md5Digest> digestTilesPayload(File& file, const TilesFilePreamble& preamble, const std::string& path);

// Reads one tiles file from the current position into `set`. On failure `set` keeps its contents
// and the error says why: Truncated (the file ends early, or is too short for what its header
// claims), BadFormat (magic, undefined flag bits, a damaged stream), Unsupported (compression
// method), LimitExceeded (counts beyond the ceilings), DigestMismatch, or a read error.
Status readTilesFile(TileSet& set, File& file, const std::string& path = {});
// Opens `path` for reading and reads it.
Status readTilesFile(TileSet& set, const std::string& path);
// Loads the first valid "*.mstiles" file of the folder of `path` (the current folder when the path
// has no separator) into a new TileSet stored into `slot`; on failure `slot` is unchanged and the
// error names the folder (and why its first candidate was refused, if there was one).
Status findTilesBeside(const std::string& path, std::unique_ptr<TileSet>& slot);

// Writes `set` at the current position: an empty set as a bare header, any other with flags 1
// (digest) and compression 1 (deflate). The file then stands right after the stream. The error
// names no file: LimitExceeded for a set beyond the format, InvalidArgument for a set whose
// tables are missing, else the write's or the compressor's reason.
Status writeTilesFile(const TileSet& set, File& file);

} // namespace zelvo
