#include "render/tile_draw.h"

namespace zelvo {

namespace {

struct TileBytes {
  const std::uint8_t* pattern = nullptr;
  const std::uint8_t* palette = nullptr;
};

// Entry index, entry storage, palette index, pattern index: checked in that order.
bool lookUp(const TileGroup& group, std::uint32_t index, TileBytes& bytes) {
  if (index >= group.count || group.entries == nullptr || group.set == nullptr) return false;
  const TileEntry& entry = group.entries[index];
  const PaletteEntry* palette = group.set->palette(entry.paletteIndex);
  if (palette == nullptr) return false;
  const PatternEntry* pattern = group.set->pattern(entry.patternIndex);
  if (pattern == nullptr) return false;
  bytes.palette = palette->colours;
  bytes.pattern = pattern->planes;
  return true;
}

} // namespace

bool DrawTile(const TileGroup& group, std::uint32_t index, std::uint8_t* destination, std::uint32_t pitch,
              std::uint32_t flip, std::uint32_t mode) {
  TileBytes bytes;
  if (!lookUp(group, index, bytes)) return false;
  DecodeTile(bytes.pattern, bytes.palette, destination, pitch, flip, mode);
  return true;
}

bool DrawTileTransparent(const TileGroup& group, std::uint32_t index, std::uint8_t* destination,
                         std::uint32_t pitch) {
  TileBytes bytes;
  if (!lookUp(group, index, bytes)) return false;
  DecodeTileTransparent(bytes.pattern, bytes.palette, destination, pitch);
  return true;
}

bool DrawTileAlpha(const TileGroup& group, std::uint32_t index, std::uint8_t* destination,
                   std::uint32_t pitch, std::uint32_t flip) {
  TileBytes bytes;
  if (!lookUp(group, index, bytes)) return false;
  DecodeTileAlpha(bytes.pattern, bytes.palette, destination, pitch, flip);
  return true;
}

} // namespace zelvo
