// The content lookup of what a screen shows: a background cell or a sprite tile is described by its
// colours and pattern, and stands for the tile entry of its group whose palette and pattern hold
// the same (the lowest index where several do).
#pragma once

#include "tiles/screen_file.h"
#include "tiles/tile_store.h"

#include <cstdint>

namespace zelvo {

// A tile entry: its group (0 to 8) and its index there; kNotFound when nothing matches.
struct TileRef {
  int group = 0;
  std::uint32_t index = kNotFound;
  bool found() const { return index != kNotFound; }
};

// The entry a background cell shows, in the group its name word's flip and priority bits choose.
TileRef lookupCell(const TileSet& tiles, const ScreenCell& cell);
// The sprite group's entry of a sprite's upper tile, or of its lower tile when `lower` is set.
TileRef lookupSprite(const TileSet& tiles, const SpriteRecord& sprite, bool lower);

// Whether a sprite has a lower tile (it is two tiles high).
inline bool spriteIsTall(const SpriteRecord& sprite) { return sprite.flags & kSpriteTall; }

} // namespace zelvo
