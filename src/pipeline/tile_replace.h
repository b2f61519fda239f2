// Replacement of generated hi-res tiles by the pixels of artists' images painted over screens.
#pragma once

#include "platform/progress.h"
#include "render/freeimage_ptr.h"

#include <cstdint>
#include <string>

namespace zelvo {

struct HiResTileTable;
struct TileSet;

// A 32-bit image with an alpha channel, bytes blue, green, red, alpha as FreeImage holds them.
// An image with transparency of its own keeps it and `alphaPath` is not looked at; otherwise the
// grey values of the alpha image become the alpha, or every pixel is opaque when there is no
// usable alpha image. Null when the image cannot be read.
FiBitmap loadImageWithAlpha(const std::string& imagePath, const std::string& alphaPath);

// An 8-bit image with a grey-ramp palette and every pixel 255; null when it cannot be made.
FiBitmap makeOpaqueMask(unsigned width, unsigned height);

// Cuts the square of `edge` pixels whose top-left corner is (left, top), counted from the top
// of `image` (32-bit), into `out` (edge * edge * 4 bytes), top row first. False when the square
// does not lie wholly inside the image.
bool cutTile(FIBITMAP* image, int left, int top, unsigned edge, std::uint8_t* out);

// Whether every byte of `cut` lies within 2 of the same byte of `stored`.
bool tilesPracticallyEqual(const std::uint8_t* cut, const std::uint8_t* stored, std::size_t size);

enum class ReplaceResult {
  Skipped,     // the screen could not be processed (nothing was written)
  Processed,   // every tile was compared and, where it differed, written
  WriteFailed, // a tile could not be written back: the store may hold a damaged tile
  Cancelled,   // the sink asked to stop: the store may hold some of the screen's tiles
};

// Cuts the image painted over one screen into tiles and writes each one that differs from the
// store over the tile of the entry the screen shows there. Cells and sprites are resolved
// against `buildTiles`, the sorted set the table was generated from; the screen file is read
// with the tiles file beside it. Every tile is compared with the store as it was before this
// screen. `progress` is asked every few hundred tiles whether to go on.
ReplaceResult replaceTilesFromScreen(HiResTileTable& table, const TileSet& buildTiles,
                                     const std::string& screenPath, const std::string& imagePath,
                                     const std::string& alphaPath, ProgressSink* progress = nullptr);

} // namespace zelvo
