#include "viewer/pack_preview.h"

#include "pipeline/hires_tiles.h"
#include "viewer/legend.h"
#include "viewer/screen_render.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace zelvo {

namespace {

// Finds the tile to draw for a piece of screen content, and counts what it found.
class TileSource {
public:
  TileSource(const ScreenFile& screen, const PackTiles& pack)
      : screen_(screen), pack_(pack), own_(pack.tileBytes), plain_(pack.tileBytes) {}

  // The tile of the content in `group`, or null when neither the pack nor the screen's tiles hold
  // it. Counted when `visible`.
  const std::uint8_t* find(int group, const std::uint8_t* colours, const std::uint8_t* planes, bool visible) {
    const TileGroup& packGroup = pack_.tiles->groups[group];
    std::uint32_t index = findEntryByContent(packGroup, colours, planes);
    if (index != kNotFound) {
      const std::uint8_t* tile = pack_.tile(group, index);
      if (visible) {
        ++counts.fromPack;
        generateHiResTile(packGroup, group, index, pack_.scale, plain_.data());
        if (std::memcmp(plain_.data(), tile, pack_.tileBytes) != 0) ++counts.replacedByArt;
      }
      return tile;
    }
    index = screen_.tiles ? findEntryByContent(screen_.tiles->groups[group], colours, planes) : kNotFound;
    if (index == kNotFound) {
      if (visible) ++counts.unknown;
      return nullptr;
    }
    if (visible) ++counts.missing;
    generateHiResTile(screen_.tiles->groups[group], group, index, pack_.scale, own_.data());
    return own_.data();
  }

  PreviewCounts counts;

private:
  const ScreenFile& screen_;
  const PackTiles& pack_;
  std::vector<std::uint8_t> own_;   // a tile the screen's tiles gave, generated
  std::vector<std::uint8_t> plain_; // what the pack's tile would be without art
};

Result<RgbaImage> drawBackground(const ScreenFile& screen, int scale, TileSource& source) {
  Result<RgbaImage> image = makeRgbaImage(256 * std::uint32_t(scale), 224 * std::uint32_t(scale));
  if (!image) return image;
  const std::uint32_t edge = 8 * std::uint32_t(scale);
  const int hidden = 256 - int(screen.width()); // pixels of the grid's left edge cut away
  for (int r = 0; r < kScreenRows; ++r) {
    for (int c = 0; c < kScreenColumns; ++c) {
      const ScreenCell& cell = *screen.cell(r, c);
      const bool visible = 8 * r < int(screen.height()) && 8 * c + 8 > hidden;
      const std::uint8_t* tile =
          source.find(groupForNameWord(cell.nameWord), cell.palette, cell.pattern, visible);
      if (tile) putTile(*image, tile, edge, edge * std::uint32_t(c), edge * std::uint32_t(r));
    }
  }
  return cutToVisible(std::move(*image), screen, scale);
}

Result<RgbaImage> drawSprites(const ScreenFile& screen, int scale, TileSource& source) {
  const int width = 256 * scale, height = 224 * scale, edge = 8 * scale;
  Result<RgbaImage> image = makeRgbaImage(std::uint32_t(width), std::uint32_t(height));
  if (!image) return image;
  forEachSpriteTile(screen, scale,
                    [&](const std::uint8_t* colours, const std::uint8_t* planes, int left, int top) {
                      if (left + edge > width || top + edge > height)
                        return true; // a square that does not fit is not drawn
                      if (const std::uint8_t* tile = source.find(kSpriteGroup, colours, planes, true))
                        putTile(*image, tile, std::uint32_t(edge), std::uint32_t(left), std::uint32_t(top));
                      return true;
                    });
  return image;
}

} // namespace

Result<Preview> renderPreview(const ScreenFile& screen, const PackTiles& pack) {
  if (!pack.tiles || pack.scale < 1 || pack.scale > 4)
    return makeError(ErrorCause::InvalidArgument, {}, "the pack holds no tiles");
  if (!screen.loaded() || (!screen.background() && !screen.sprites()))
    return makeError(ErrorCause::InvalidArgument, {}, "the screen has neither background nor sprites");
  TileSource source(screen, pack);
  Result<RgbaImage> image = screen.background() ? drawBackground(screen, int(pack.scale), source)
                                                : drawSprites(screen, int(pack.scale), source);
  if (!image) return image.error();
  return Preview{std::move(*image), source.counts};
}

Result<RgbaImage> renderPlain(const ScreenFile& screen, int factor) {
  if (screen.background()) return renderBackground(screen, true, factor);
  return renderSprites(screen, true, 0, factor);
}

Result<RgbaImage> sideBySide(const RgbaImage& left, const RgbaImage& right, std::uint32_t gap) {
  Result<RgbaImage> image =
      makeRgbaImage(left.width + gap + right.width, std::max(left.height, right.height), "the comparison");
  if (!image) return image;
  pasteImage(*image, left, 0, 0);
  pasteImage(*image, right, left.width + gap, 0);
  return image;
}

int captionStripHeight(int textScale) { return (kGlyphHeight + 8) * textScale; }

Result<RgbaImage> captionedSideBySide(const RgbaImage& left, const RgbaImage& right, std::uint32_t gap,
                                      const std::string& leftCaption, const std::string& rightCaption,
                                      int textScale) {
  const std::uint32_t strip = std::uint32_t(captionStripHeight(textScale));
  Result<RgbaImage> both = sideBySide(left, right, gap);
  if (!both) return both;
  Result<RgbaImage> image = makeRgbaImage(both->width, both->height + strip, "the comparison");
  if (!image) return image;
  pasteImage(*image, *both, 0, strip);
  fillRect(*image, 0, 0, int(image->width), int(strip), kStripGround);
  const int top = 4 * textScale;
  drawText(*image, (int(left.width) - textWidth(leftCaption, textScale)) / 2, top, leftCaption, textScale,
           kStripText);
  drawText(*image, int(left.width + gap) + (int(right.width) - textWidth(rightCaption, textScale)) / 2, top,
           rightCaption, textScale, kStripText);
  return image;
}

} // namespace zelvo
