// Pixel-art enlargement by the Scale2x and Scale3x rules: every source pixel becomes a 2x2 or
// 3x3 block that takes a neighbour's colour where edges of equal colour meet, and is a plain
// copy of the pixel elsewhere. Pixels are compared and copied as whole 32-bit words, alpha
// included; no new colours are ever made.
#pragma once

#include <cstdint>

namespace zelvo {

// Row operations. `centre`, `above` and `below` hold `width` pixels each; at an image edge the
// caller passes the centre row itself as the missing neighbour. `upper` (the side of `above`)
// and `lower` (the side of `below`) receive 2 * width pixels each and must not overlap the
// source rows. At x = 0 the left neighbour is the pixel itself, at x = width - 1 the right one.
// Width 1 gives plain copies of the pixel (both sides are the pixel itself); width 0 writes
// nothing. No allocation.
void Scale2xRow32(const std::uint32_t* centre, const std::uint32_t* above, const std::uint32_t* below,
                  std::uint32_t* upper, std::uint32_t* lower, std::uint32_t width);

// As above for three output rows of 3 * width pixels: `top` on the side of `above`, `middle`,
// and `bottom` on the side of `below`. At x = 0 the left column of the neighbourhood is the
// centre column, at x = width - 1 the right column is.
void Scale3xRow32(const std::uint32_t* centre, const std::uint32_t* above, const std::uint32_t* below,
                  std::uint32_t* top, std::uint32_t* middle, std::uint32_t* bottom, std::uint32_t width);

// An 8x8 block as the tile decoders draw it: 4 bytes a pixel, rows of 32 bytes, bottom row first.
inline constexpr std::uint32_t kTileBlockPitch = 32;
inline constexpr std::uint32_t kTileBlockBytes = 8 * kTileBlockPitch;

// The enlargement of one tile, for every use of it (the build's hi-res tiles, the export, the
// viewer and the preview): `block` is 8x8 pixels as the tile decoders draw them (pitch 32, bottom
// row first), `tile` receives 8 x scale pixels square, top row first (256 x scale x scale bytes).
// Scale 1 is a plain copy, 2 Scale2x, 3 Scale3x, 4 Scale2x twice; a tile's edge is the image's
// edge (no neighbouring tile is looked at). False, writing nothing, for any other scale.
bool enlargeTileBlock(const std::uint8_t* block, std::uint32_t scale, std::uint8_t* tile);

} // namespace zelvo
