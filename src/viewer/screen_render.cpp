#include "viewer/screen_render.h"

#include "render/scale.h"
#include "render/tile_draw.h"
#include "tiles/content_lookup.h"

namespace zelvo {

namespace {

constexpr unsigned kRedMask = 255;
constexpr unsigned kGreenMask = 65280;
constexpr unsigned kBlueMask = 16711680;

// Where the 8 x 8 square whose top-left pixel is (x, top) starts for the tile decoders, which
// write their block bottom row first: the square's bottom line, counted from the last line.
std::uint8_t* squareOrigin(FIBITMAP* image, int x, int top) {
  const int line = int(FreeImage_GetHeight(image)) - top - 8;
  return FreeImage_GetScanLine(image, line) + 4 * x;
}

FiBitmap enlarge(FIBITMAP* tile, int factor) {
  switch (factor) {
  case 2:
    return Scale2xImage(tile);
  case 3:
    return Scale3xImage(tile);
  case 4:
    return Scale4xImage(tile);
  default:
    return nullptr;
  }
}

bool canRender(const ScreenFile& screen, int factor) {
  return screen.loaded() && screen.tiles && factor >= 1 && factor <= 4;
}

// A pixel value that the opaque sprite decode never writes (its top byte is always 0) and that
// the enlargements copy but never make: it marks colour index 0 through an enlargement.
constexpr std::uint32_t kUnpainted = 0xFF000000u;

void fillTile(FIBITMAP* tile, std::uint32_t value) {
  for (int line = 0; line < 8; ++line) {
    auto* row = reinterpret_cast<std::uint32_t*>(FreeImage_GetScanLine(tile, line));
    for (int x = 0; x < 8; ++x) row[x] = value;
  }
}

// Copies the pixels of `square` other than kUnpainted into `image` with the square's top-left
// corner at (left, top) counted from the top; the square lies wholly inside the image.
void pastePainted(FIBITMAP* image, FIBITMAP* square, int left, int top) {
  const int size = int(FreeImage_GetHeight(square)), imageHeight = int(FreeImage_GetHeight(image));
  for (int line = 0; line < size; ++line) {
    const auto* from = reinterpret_cast<const std::uint32_t*>(FreeImage_GetScanLine(square, line));
    auto* to =
        reinterpret_cast<std::uint32_t*>(FreeImage_GetScanLine(image, imageHeight - top - size + line)) +
        left;
    for (int x = 0; x < size; ++x)
      if (from[x] != kUnpainted) to[x] = from[x];
  }
}

} // namespace

FiBitmap allocateScreenImage(int width, int height) {
  return FiBitmap(FreeImage_Allocate(width, height, 32, kRedMask, kGreenMask, kBlueMask));
}

FiBitmap cutToVisible(FiBitmap image, const ScreenFile& screen, int factor) {
  const ImageSize size = exportImageSize(screen, factor, false);
  const int width = int(size.width), height = int(size.height);
  if (width < 256 * factor || height < 224 * factor) {
    FiBitmap visible(FreeImage_Copy(image.get(), 256 * factor - width, 0, 256 * factor, height));
    if (visible) image = std::move(visible);
  }
  return image;
}

FiBitmap renderBackground(const ScreenFile& screen, bool transparent, int factor) {
  if (!canRender(screen, factor) || !screen.background()) return nullptr;
  FiBitmap image = allocateScreenImage(256 * factor, 224 * factor);
  if (!image) return nullptr;
  FiBitmap tile;
  if (factor > 1) {
    tile = allocateScreenImage(8, 8);
    if (!tile) return nullptr;
  }
  const TileSet& tiles = *screen.tiles;
  const int edge = 8 * factor;
  for (int r = 0; r < kScreenRows; ++r) {
    for (int c = 0; c < kScreenColumns; ++c) {
      const ScreenCell& cell = *screen.cell(r, c);
      const TileRef ref = lookupCell(tiles, cell);
      if (!ref.found()) continue; // stays black with alpha 0
      const TileGroup& group = tiles.groups[ref.group];
      const std::uint32_t index = ref.index;
      const std::uint32_t flip = cell.nameWord & kNameWordFlipBits;

      FIBITMAP* target = factor == 1 ? image.get() : tile.get();
      std::uint8_t* origin = factor == 1 ? squareOrigin(target, 8 * c, 8 * r) : FreeImage_GetBits(target);
      const std::uint32_t pitch = FreeImage_GetPitch(target);
      if (!transparent)
        DrawTile(group, index, origin, pitch, flip, PixelXrgb32);
      else if (cell.nameWord & kNameWordPriorityBit)
        DrawTileAlpha(group, index, origin, pitch, flip);
      else
        DrawTile(group, index, origin, pitch, flip, PixelArgb32);
      if (factor == 1) continue;

      FiBitmap big = enlarge(tile.get(), factor);
      if (!big) return nullptr;
      FreeImage_Paste(image.get(), big.get(), edge * c, edge * r, 256);
    }
  }
  tile.reset();
  return cutToVisible(std::move(image), screen, factor);
}

FiBitmap renderSprites(const ScreenFile& screen, bool transparent, std::uint32_t fillColour, int factor) {
  if (!canRender(screen, factor) || !screen.sprites()) return nullptr;
  const int imageWidth = 256 * factor, imageHeight = 224 * factor;
  FiBitmap image = allocateScreenImage(imageWidth, imageHeight);
  if (!image) return nullptr;
  FreeImage_SetTransparent(image.get(), transparent ? TRUE : FALSE);
  FiBitmap tile;
  if (factor > 1) {
    tile = allocateScreenImage(8, 8);
    if (!tile) return nullptr;
  }
  if (!transparent) {
    for (int line = 0; line < imageHeight; ++line) {
      auto* row = reinterpret_cast<std::uint32_t*>(FreeImage_GetScanLine(image.get(), line));
      for (int x = 0; x < imageWidth; ++x) row[x] = fillColour;
    }
  }

  const TileSet& tiles = *screen.tiles;
  const TileGroup& group = tiles.groups[kSpriteGroup];
  const int edge = 8 * factor;
  auto drawAt = [&](const std::uint8_t* palette, const std::uint8_t* pattern, int left, int top) {
    const std::uint32_t index = findEntryByContent(group, palette, pattern);
    if (index == kNotFound) return true;
    if (left < 0 || top < 0 || left + edge > imageWidth || top + edge > imageHeight) return true;
    FIBITMAP* target = factor == 1 ? image.get() : tile.get();
    std::uint8_t* origin = factor == 1 ? squareOrigin(target, left, top) : FreeImage_GetBits(target);
    const std::uint32_t pitch = FreeImage_GetPitch(target);
    if (transparent) {
      DrawTileAlpha(group, index, origin, pitch, TileFlipNone);
    } else {
      if (factor > 1) fillTile(target, kUnpainted);
      DrawTileTransparent(group, index, origin, pitch);
    }
    if (factor == 1) return true;
    FiBitmap big = enlarge(tile.get(), factor);
    if (!big) return true;
    // Opaque: colour index 0 shows what lies beneath at every factor, not only at 1x.
    if (transparent)
      FreeImage_Paste(image.get(), big.get(), left, top, 256);
    else
      pastePainted(image.get(), big.get(), left, top);
    return true;
  };
  forEachSpriteTile(screen, factor, drawAt);
  return image;
}

FiBitmap renderForDisplay(const ScreenFile& screen) {
  if (screen.background()) return renderBackground(screen, false, 1);
  return renderSprites(screen, false, kSpriteFillColour, 1);
}

} // namespace zelvo
