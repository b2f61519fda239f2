#include "viewer/pack_preview.h"

#include "pipeline/hires_tiles.h"
#include "platform/atomic_save.h"
#include "viewer/screen_render.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace zelvo {

namespace {

// Puts a tile (`edge` pixels square, top row first) with its top-left corner at (left, top),
// counted from the image's top; the square lies wholly inside the image.
void putTile(FIBITMAP* image, const std::uint8_t* tile, int edge, int left, int top) {
  const int height = int(FreeImage_GetHeight(image));
  const std::size_t rowBytes = std::size_t(edge) * 4;
  for (int y = 0; y < edge; ++y)
    std::memcpy(FreeImage_GetScanLine(image, height - 1 - (top + y)) + std::size_t(left) * 4,
                tile + y * rowBytes, rowBytes);
}

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

FiBitmap drawBackground(const ScreenFile& screen, int scale, TileSource& source) {
  FiBitmap image = allocateScreenImage(256 * scale, 224 * scale);
  if (!image) return nullptr;
  const int edge = 8 * scale;
  const int hidden = 256 - int(screen.width()); // pixels of the grid's left edge cut away
  for (int r = 0; r < kScreenRows; ++r) {
    for (int c = 0; c < kScreenColumns; ++c) {
      const ScreenCell& cell = *screen.cell(r, c);
      const bool visible = 8 * r < int(screen.height()) && 8 * c + 8 > hidden;
      const std::uint8_t* tile =
          source.find(groupForNameWord(cell.nameWord), cell.palette, cell.pattern, visible);
      if (tile) putTile(image.get(), tile, edge, edge * c, edge * r);
    }
  }
  return cutToVisible(std::move(image), screen, scale);
}

FiBitmap drawSprites(const ScreenFile& screen, int scale, TileSource& source) {
  const int width = 256 * scale, height = 224 * scale, edge = 8 * scale;
  FiBitmap image = allocateScreenImage(width, height);
  if (!image) return nullptr;
  FreeImage_SetTransparent(image.get(), TRUE);
  forEachSpriteTile(screen, scale,
                    [&](const std::uint8_t* colours, const std::uint8_t* planes, int left, int top) {
                      if (left + edge > width || top + edge > height)
                        return true; // a square that does not fit is not drawn
                      if (const std::uint8_t* tile = source.find(kSpriteGroup, colours, planes, true))
                        putTile(image.get(), tile, edge, left, top);
                      return true;
                    });
  return image;
}

struct MemoryCloser {
  void operator()(FIMEMORY* memory) const { FreeImage_CloseMemory(memory); }
};

} // namespace

Result<Preview> renderPreview(const ScreenFile& screen, const PackTiles& pack) {
  if (!pack.tiles || pack.scale < 1 || pack.scale > 4)
    return makeError(ErrorCause::InvalidArgument, {}, "the pack holds no tiles");
  if (!screen.loaded() || (!screen.background() && !screen.sprites()))
    return makeError(ErrorCause::InvalidArgument, {}, "the screen has neither background nor sprites");
  TileSource source(screen, pack);
  Preview preview;
  preview.image = screen.background() ? drawBackground(screen, int(pack.scale), source)
                                      : drawSprites(screen, int(pack.scale), source);
  if (!preview.image) return makeError(ErrorCause::OutOfMemory, {}, "the preview image");
  preview.counts = source.counts;
  return preview;
}

FiBitmap renderPlain(const ScreenFile& screen, int factor) {
  if (screen.background()) return renderBackground(screen, true, factor);
  return renderSprites(screen, true, 0, factor);
}

FiBitmap sideBySide(FIBITMAP* left, FIBITMAP* right, int gap) {
  const int leftWidth = int(FreeImage_GetWidth(left)), rightWidth = int(FreeImage_GetWidth(right));
  const int height = int(std::max(FreeImage_GetHeight(left), FreeImage_GetHeight(right)));
  FiBitmap image = allocateScreenImage(leftWidth + gap + rightWidth, height);
  if (!image || !FreeImage_Paste(image.get(), left, 0, 0, 256) ||
      !FreeImage_Paste(image.get(), right, leftWidth + gap, 0, 256))
    return nullptr;
  FreeImage_SetTransparent(image.get(), TRUE);
  return image;
}

Status writePngFile(FIBITMAP* image, const std::string& path, const ReplacePolicy& replace) {
  std::unique_ptr<FIMEMORY, MemoryCloser> memory(FreeImage_OpenMemory());
  if (!memory || !FreeImage_SaveToMemory(FIF_PNG, image, memory.get(), 0))
    return makeError(ErrorCause::OutOfMemory, path, "the image cannot be encoded as PNG");
  BYTE* data = nullptr;
  DWORD size = 0;
  if (!FreeImage_AcquireMemory(memory.get(), &data, &size))
    return makeError(ErrorCause::OutOfMemory, path, "the image cannot be encoded as PNG");
  return saveFileAtomically(path, data, size, replace);
}

} // namespace zelvo
