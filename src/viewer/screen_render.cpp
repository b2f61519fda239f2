#include "viewer/screen_render.h"

#include "render/scale.h"
#include "render/tile_draw.h"
#include "tiles/content_lookup.h"

#include <cstring>

namespace zelvo {

namespace {

Status checkRenderable(const ScreenFile& screen, int factor, bool hasPart, const char* part) {
  if (factor < 1 || factor > 4)
    return makeError(ErrorCause::InvalidArgument, {}, "the factor must be 1 to 4");
  if (!screen.loaded() || !screen.tiles)
    return makeError(ErrorCause::InvalidArgument, {}, "the screen and its tiles are not loaded");
  if (!hasPart) return makeError(ErrorCause::InvalidArgument, {}, std::string("the screen has no ") + part);
  return {};
}

// An 8x8 block for the tile decoders and the square it is enlarged into.
struct TileScratch {
  std::uint8_t block[kTileBlockBytes];
  std::uint8_t tile[kTileBlockBytes * 16];
};

} // namespace

Result<RgbaImage> cutToVisible(RgbaImage image, const ScreenFile& screen, int factor) {
  const ImageSize size = exportImageSize(screen, factor, false);
  const bool fills = size.width == image.width && size.height == image.height;
  if (fills || size.width > image.width || size.height > image.height) return image;
  return cropImage(image, image.width - size.width, 0, size.width, size.height);
}

Result<RgbaImage> renderBackground(const ScreenFile& screen, bool transparent, int factor) {
  if (Status ok = checkRenderable(screen, factor, screen.background() != nullptr, "background"); !ok)
    return ok.error();
  const std::uint32_t edge = 8 * std::uint32_t(factor);
  Result<RgbaImage> image = makeRgbaImage(256 * std::uint32_t(factor), 224 * std::uint32_t(factor));
  if (!image) return image;
  if (!transparent) fillImage(*image, 0, 0, 0, 255);
  TileScratch scratch;
  const TileSet& tiles = *screen.tiles;
  for (int r = 0; r < kScreenRows; ++r) {
    for (int c = 0; c < kScreenColumns; ++c) {
      const ScreenCell& cell = *screen.cell(r, c);
      const TileRef ref = lookupCell(tiles, cell);
      if (!ref.found()) continue; // stays black
      const TileGroup& group = tiles.groups[ref.group];
      const std::uint32_t flip = cell.nameWord & kNameWordFlipBits;
      bool drawn;
      if (transparent && (cell.nameWord & kNameWordPriorityBit))
        drawn = DrawTileAlpha(group, ref.index, scratch.block, kTileBlockPitch, flip);
      else
        drawn = DrawTile(group, ref.index, scratch.block, kTileBlockPitch, flip, PixelArgb32);
      if (!drawn) continue;
      enlargeTileBlock(scratch.block, std::uint32_t(factor), scratch.tile);
      putTile(*image, scratch.tile, edge, edge * std::uint32_t(c), edge * std::uint32_t(r));
    }
  }
  return cutToVisible(std::move(*image), screen, factor);
}

Result<RgbaImage> renderSprites(const ScreenFile& screen, bool transparent, std::uint32_t fillColour,
                                int factor) {
  if (Status ok = checkRenderable(screen, factor, screen.sprites() != nullptr, "sprites"); !ok)
    return ok.error();
  const int edge = 8 * factor, width = 256 * factor, height = 224 * factor;
  Result<RgbaImage> image = makeRgbaImage(std::uint32_t(width), std::uint32_t(height));
  if (!image) return image;
  if (!transparent)
    fillImage(*image, std::uint8_t(fillColour >> 16), std::uint8_t(fillColour >> 8), std::uint8_t(fillColour),
              255);
  TileScratch scratch;
  const TileGroup& group = screen.tiles->groups[kSpriteGroup];
  forEachSpriteTile(
      screen, factor, [&](const std::uint8_t* palette, const std::uint8_t* pattern, int left, int top) {
        const std::uint32_t index = findEntryByContent(group, palette, pattern);
        if (index == kNotFound) return true;
        if (left < 0 || top < 0 || left + edge > width || top + edge > height) return true;
        if (transparent) {
          if (!DrawTileAlpha(group, index, scratch.block, kTileBlockPitch, TileFlipNone)) return true;
        } else {
          // Colour index 0 is left unpainted, so what lies beneath shows through at every factor.
          for (std::uint32_t i = 0; i < kTileBlockBytes; i += 4)
            std::memcpy(scratch.block + i, &kUnpaintedPixel, 4);
          if (!DrawTileTransparent(group, index, scratch.block, kTileBlockPitch)) return true;
        }
        enlargeTileBlock(scratch.block, std::uint32_t(factor), scratch.tile);
        if (transparent)
          putTile(*image, scratch.tile, std::uint32_t(edge), std::uint32_t(left), std::uint32_t(top));
        else
          putPaintedTile(*image, scratch.tile, std::uint32_t(edge), std::uint32_t(left), std::uint32_t(top));
        return true;
      });
  return image;
}

Result<RgbaImage> renderForDisplay(const ScreenFile& screen) {
  if (screen.loaded() && !screen.background() && !screen.sprites())
    return makeError(ErrorCause::InvalidArgument, {},
                     "the screen has neither background nor sprites to show");
  if (screen.background()) return renderBackground(screen, false, 1);
  return renderSprites(screen, false, kSpriteFillColour, 1);
}

} // namespace zelvo
