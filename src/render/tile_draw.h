// Drawing a stored tile named by its group and entry index: the entry's palette and pattern are
// looked up with range checks and handed to the matching decoder (render/tile_decode.h).
#pragma once

#include <cstdint>

#include "render/tile_decode.h"
#include "tiles/tile_store.h"

namespace zelvo {

// Each returns false, writing nothing, when the index is not below the group's count, the group
// has no entries or set, or the entry's palette or pattern index is out of its table's range.
// Otherwise the decoder is called and the result is true, even when the decoder writes nothing
// because it does not know the flip or mode.
bool DrawTile(const TileGroup& group, std::uint32_t index, std::uint8_t* destination, std::uint32_t pitch,
              std::uint32_t flip, std::uint32_t mode);
bool DrawTileTransparent(const TileGroup& group, std::uint32_t index, std::uint8_t* destination,
                         std::uint32_t pitch);
bool DrawTileAlpha(const TileGroup& group, std::uint32_t index, std::uint8_t* destination,
                   std::uint32_t pitch, std::uint32_t flip);

} // namespace zelvo
