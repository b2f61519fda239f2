#include "tiles/content_lookup.h"

namespace zelvo {

TileRef lookupCell(const TileSet& tiles, const ScreenCell& cell) {
  TileRef ref;
  ref.group = groupForNameWord(cell.nameWord);
  ref.index = findEntryByContent(tiles.groups[ref.group], cell.palette, cell.pattern);
  return ref;
}

TileRef lookupSprite(const TileSet& tiles, const SpriteRecord& sprite, bool lower) {
  TileRef ref;
  ref.group = kSpriteGroup;
  const TileGroup& group = tiles.groups[kSpriteGroup];
  ref.index = lower ? findEntryByContent(group, sprite.palette2, sprite.pattern2)
                    : findEntryByContent(group, sprite.palette, sprite.pattern);
  return ref;
}

} // namespace zelvo
