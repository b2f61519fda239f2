// Pixel-art enlargement by the Scale2x and Scale3x rules: every source pixel becomes a 2x2 or
// 3x3 block that takes a neighbour's colour where edges of equal colour meet, and is a plain
// copy of the pixel elsewhere. Pixels are compared and copied as whole values (palette index,
// 16-bit word, 32-bit word including the top byte); no new colours are ever made.
#pragma once

#include <cstdint>

#include "render/freeimage_ptr.h"

namespace zelvo {

// Row operations. `centre`, `above` and `below` hold `width` pixels each; at an image edge the
// caller passes the centre row itself as the missing neighbour. `upper` (the side of `above`)
// and `lower` (the side of `below`) receive 2 * width pixels each and must not overlap the
// source rows. At x = 0 the left neighbour is the pixel itself, at x = width - 1 the right one.
// Width 1 gives plain copies of the pixel (both sides are the pixel itself); width 0 writes
// nothing. No allocation.
void Scale2xRow8(const std::uint8_t* centre, const std::uint8_t* above, const std::uint8_t* below,
                 std::uint8_t* upper, std::uint8_t* lower, std::uint32_t width);
void Scale2xRow16(const std::uint16_t* centre, const std::uint16_t* above, const std::uint16_t* below,
                  std::uint16_t* upper, std::uint16_t* lower, std::uint32_t width);
void Scale2xRow32(const std::uint32_t* centre, const std::uint32_t* above, const std::uint32_t* below,
                  std::uint32_t* upper, std::uint32_t* lower, std::uint32_t width);

// As above for three output rows of 3 * width pixels: `top` on the side of `above`, `middle`,
// and `bottom` on the side of `below`. At x = 0 the left column of the neighbourhood is the
// centre column, at x = width - 1 the right column is.
void Scale3xRow8(const std::uint8_t* centre, const std::uint8_t* above, const std::uint8_t* below,
                 std::uint8_t* top, std::uint8_t* middle, std::uint8_t* bottom, std::uint32_t width);
void Scale3xRow16(const std::uint16_t* centre, const std::uint16_t* above, const std::uint16_t* below,
                  std::uint16_t* top, std::uint16_t* middle, std::uint16_t* bottom, std::uint32_t width);
void Scale3xRow32(const std::uint32_t* centre, const std::uint32_t* above, const std::uint32_t* below,
                  std::uint32_t* top, std::uint32_t* middle, std::uint32_t* bottom, std::uint32_t width);

// Whole-bitmap enlargement of an 8, 16, 24 or 32-bit image (8-bit keeps the palette, 16-bit
// its colour masks, 24-bit gives 24-bit). Scan lines are bottom-up: the upper output line of
// source line y is 2y + 1 (3y + 2 for the top line at 3x). Returns null for a null input,
// any other pixel size, an 8-bit image without a palette, or a failed allocation or
// conversion. The input is neither changed nor released. An image one pixel wide or high
// (never passed by the system) gives plain enlarged copies of its pixels. Bitmaps of other
// types with 16 or 32 bits per pixel (grey or float samples) keep their type.
FiBitmap Scale2xImage(FIBITMAP* image);
FiBitmap Scale3xImage(FIBITMAP* image);
// Scale2xImage applied twice.
FiBitmap Scale4xImage(FIBITMAP* image);

} // namespace zelvo
