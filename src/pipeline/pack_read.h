// Reading a hi-res ROM pack back: the parts that show its graphics (the tiles section and the
// hi-res tiles with their entry table), every size checked against the file and the sections'
// own bounds and every digest checked against the data, so a damaged pack is refused with the
// reason rather than shown wrong.
#pragma once

#include "platform/error.h"
#include "tiles/tile_store.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zelvo {

// The pack's tiles and hi-res tiles, held in memory. Tile entry i of group g of `tiles` has its
// hi-res tile at `entryOffsets`[groupStart(g) + i] of the tile data.
struct PackTiles {
  std::uint32_t scale = 0;                 // 1 to 4
  std::uint32_t tileBytes = 0;             // 256 x scale x scale
  std::uint32_t tileCount = 0;             // distinct hi-res tiles
  std::unique_ptr<TileSet> tiles;          // the tiles section, in the pack's order
  std::vector<std::uint32_t> entryOffsets; // one per tile entry, group order
  // The tile data in pieces of kTilesPerPiece tiles, so no single block of the whole is needed.
  static constexpr std::uint32_t kTilesPerPiece = 256;
  std::vector<std::unique_ptr<std::uint8_t[]>> pieces;

  // Index in `entryOffsets` of the first entry of `group` (0 to 8).
  std::uint32_t groupStart(int group) const;
  // The hi-res tile of entry `index` of `group`: (8 x scale) pixels square, top row first, 4 bytes
  // per pixel (blue, green, red, alpha). Null when the group has no such entry.
  const std::uint8_t* tile(int group, std::uint32_t index) const;
  // The number of that tile in the tile data (entries that share a tile give the same number), or
  // kNotFound.
  std::uint32_t tileNumber(int group, std::uint32_t index) const;
  // The tile numbered `number` (below tileCount).
  const std::uint8_t* tileData(std::uint32_t number) const;
};

// Reads the pack at `path`. Refused, with the reason: a file that is not a pack or whose sizes do
// not add up to its length, a scale outside 1 to 4 or two scales that differ, counts of the two
// tile sections that disagree or exceed the bounds, a stream that breaks or ends early, a ROM
// image, tiles section or hi-res payload that does not match its digest, and an entry whose
// offset does not point at a whole tile.
Result<PackTiles> readPackTiles(const std::string& path);

} // namespace zelvo
