// The scale stage of a build: one high-resolution tile for every tile entry of the nine groups,
// drawn, merged with identical tiles of its group, enlarged and appended to a temporary file.
#pragma once

#include "platform/error.h"
#include "platform/file.h"
#include "platform/progress.h"
#include "render/scale.h"
#include "tiles/tile_store.h"

#include <cstdint>
#include <memory>

namespace zelvo {

// Marks an entry that has a tile of its own while duplicates are looked for.
inline constexpr std::uint32_t kOwnTile = 0xFFFFFFFFu;

// A table owns its tile file and offsets: they go with it (the file, which has no name, with its
// handle).
struct HiResTileTable {
  // The distinct tiles, `tileBytes` each, back to back in the order of generation. Closed until
  // a generation succeeds; the file has no name and disappears when the handle closes or the
  // process dies.
  File tempFile;
  // For every tile entry (groups 0 to 7, then the sprite group; entry order within a group), the
  // byte offset of its tile in `tempFile`.
  std::unique_ptr<std::uint32_t[]> entryOffsets;
  std::uint32_t entryCount = 0;
  std::uint32_t tileCount = 0;
  std::uint32_t groupCounts[kGroupCount] = {};
  // Index in `entryOffsets` of the first entry of groups 2 to 8 (group 0 starts at 0, group 1 at
  // the count of group 0).
  std::uint32_t groupStarts[kGroupCount - 2] = {};
  std::uint32_t scale = 0;     // 1 to 4 once generated
  std::uint32_t tileBytes = 0; // 256 x scale x scale
};

// Fills `table` from `tiles` at `scale` (only its low 8 bits count; 1 to 4). On success the old
// tile file and offsets are released and every field describes the new tiles; on failure the
// table is left as it was and the new tile file is gone. Fails for a scale outside 1 to 4,
// without any tile entry, when memory or the temporary file cannot be had, when a tile cannot be
// written, when the tiles would not fit below 4 GiB (offsets are 32-bit), or with
// ErrorCause::Cancelled when `progress` asks to stop.
// Progress: ProgressStage::GeneratingTiles, tile entries done of `entryCount`.
Status generateHiResTiles(HiResTileTable& table, const TileSet& tiles, std::uint32_t scale,
                          ProgressSink* progress = nullptr);

// Index in `entryOffsets` of the first entry of `group` (0 to 8), from the group counts.
std::uint32_t hiResGroupStart(const HiResTileTable& table, int group);

// Byte offset in `tempFile` of the tile of entry `index` of `group`; false when the group is not
// 0 to 8, the index is not below the group's count, or the table holds no tiles.
bool hiResTileOffset(const HiResTileTable& table, int group, std::uint32_t index, std::uint32_t& offset);

// The pieces of a generation, exposed for tests and benchmarks.

// The drawing kind and flip of each group: groups 0 to 3 opaque, 4 to 7 and the sprite group with
// alpha 0 for colour number 0; flips none, horizontal, vertical, both, and none for sprites.
bool hiResGroupIsOpaque(int group);
std::uint32_t hiResGroupFlip(int group);

// Draws entry `index` of `group` (group number `groupIndex`, 0 to 8) into an 8x8 block (pitch 32,
// bottom row first) as the scale stage draws it: cleared first, then opaque for groups 0 to 3,
// colour number 0 with alpha 0 for the others, with the group's flip. An entry whose palette or
// pattern cannot be found leaves the block transparent black.
void drawHiResBlock(const TileGroup& group, int groupIndex, std::uint32_t index, std::uint8_t* block);
// The hi-res tile that the scale stage makes of that entry at `scale` (1 to 4): drawn, then
// enlarged by enlargeTileBlock into `tile` (256 x scale x scale bytes, top row first). False for any
// other scale.
bool generateHiResTile(const TileGroup& group, int groupIndex, std::uint32_t index, std::uint32_t scale,
                       std::uint8_t* tile);

// Marks duplicates among `count` drawn 8x8 blocks (256 bytes each, back to back in `blocks`):
// out[j] = kOwnTile when entry j keeps a tile of its own, else the lowest i < j with the same
// pattern index and the same 256 bytes (which itself always has a tile of its own). Entries
// with different pattern indexes never share. Near-linear in `count`; false when memory for the
// lookup cannot be had.
bool markDuplicateTiles(const TileEntry* entries, const std::uint8_t* blocks, std::uint32_t count,
                        std::uint32_t* out);

} // namespace zelvo
