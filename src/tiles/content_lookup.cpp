#include "tiles/content_lookup.h"

namespace zelvo {

std::uint32_t findEntryByContent(const TileSet& tiles, const TileGroup& group, const std::uint8_t colours[16],
                                 const std::uint8_t planes[32]) {
  const std::uint32_t palette = findPalette(tiles, colours);
  if (palette == kNotFound) return kNotFound;
  const std::uint32_t pattern = findPattern(tiles, planes);
  if (pattern == kNotFound) return kNotFound;
  return findTileEntry(group, palette, pattern);
}

TileRef lookupCell(const TileSet& tiles, const ScreenCell& cell) {
  TileRef ref;
  ref.group = groupForNameWord(cell.nameWord);
  ref.index = findEntryByContent(tiles, tiles.groups[ref.group], cell.palette, cell.pattern);
  return ref;
}

TileRef lookupSprite(const TileSet& tiles, const SpriteRecord& sprite, bool lower) {
  TileRef ref;
  ref.group = kSpriteGroup;
  const TileGroup& group = tiles.groups[kSpriteGroup];
  ref.index = lower ? findEntryByContent(tiles, group, sprite.palette2, sprite.pattern2)
                    : findEntryByContent(tiles, group, sprite.palette, sprite.pattern);
  return ref;
}

} // namespace zelvo
