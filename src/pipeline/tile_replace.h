// Replacement of generated hi-res tiles by the pixels of artists' images painted over screens.
#pragma once

#include "platform/error.h"
#include "platform/progress.h"
#include "render/image_read.h"

#include <cstdint>
#include <string>

namespace zelvo {

struct HiResTileTable;
struct TileSet;

// The image painted over a screen, with its alpha. An image with transparency of its own (some
// pixel not fully opaque) keeps it and `alphaPath` is not looked at; otherwise the grey of the
// alpha image becomes the alpha when `alphaPath` names a file, else every pixel is opaque. An
// image or alpha image that cannot be read, or an alpha image of another size, gives the reason.
Result<RgbaImage> loadImageWithAlpha(const std::string& imagePath, const std::string& alphaPath);

// Cuts the square of `edge` pixels whose top-left corner is (left, top) into `out` (edge * edge
// * 4 bytes), top row first, in the byte order of the hi-res tiles: blue, green, red, alpha.
// False when the square does not lie wholly inside the image.
bool cutTile(const RgbaImage& image, int left, int top, unsigned edge, std::uint8_t* out);

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
// screen. `progress` is asked every few hundred tiles whether to go on; when the screen is skipped,
// a write fails or the run is cancelled, `reason` (if given) receives why.
ReplaceResult replaceTilesFromScreen(HiResTileTable& table, const TileSet& buildTiles,
                                     const std::string& screenPath, const std::string& imagePath,
                                     const std::string& alphaPath, ProgressSink* progress = nullptr,
                                     Error* reason = nullptr);

} // namespace zelvo
