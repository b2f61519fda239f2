#include "pipeline/tile_replace.h"

#include "pipeline/hires_tiles.h"
#include "platform/file.h"
#include "tiles/screen_file.h"
#include "tiles/tile_store.h"

#include <cstring>
#include <memory>
#include <unordered_map>
#include <vector>

namespace zelvo {

namespace {

constexpr int kTolerance = 2;

FREE_IMAGE_FORMAT formatOf(const std::string& path) {
  FREE_IMAGE_FORMAT fif = FreeImage_GetFileType(path.c_str(), 0);
  if (fif == FIF_UNKNOWN) fif = FreeImage_GetFIFFromFilename(path.c_str());
  return fif;
}

FiBitmap loadAny(const std::string& path) {
  FREE_IMAGE_FORMAT fif = formatOf(path);
  if (fif == FIF_UNKNOWN) return nullptr;
  return FiBitmap(FreeImage_Load(fif, path.c_str(), 0));
}

} // namespace

FiBitmap makeOpaqueMask(unsigned width, unsigned height) {
  FiBitmap mask(FreeImage_Allocate(int(width), int(height), 8));
  if (!mask) return nullptr;
  RGBQUAD* palette = FreeImage_GetPalette(mask.get());
  if (palette) {
    for (int i = 0; i < 256; ++i) {
      palette[i].rgbRed = palette[i].rgbGreen = palette[i].rgbBlue = BYTE(i);
      palette[i].rgbReserved = 0;
    }
  }
  for (unsigned y = 0; y < height; ++y) std::memset(FreeImage_GetScanLine(mask.get(), int(y)), 255, width);
  return mask;
}

FiBitmap loadImageWithAlpha(const std::string& imagePath, const std::string& alphaPath) {
  FiBitmap image = loadAny(imagePath);
  if (!image) return nullptr;
  bool transparent = FreeImage_IsTransparent(image.get());
  if (FreeImage_GetBPP(image.get()) != 32) {
    FiBitmap converted(FreeImage_ConvertTo32Bits(image.get()));
    if (!converted) return nullptr;
    image = std::move(converted);
    if (transparent) transparent = FreeImage_IsTransparent(image.get());
  }
  // Pixels stay as FreeImage holds them (blue, green, red, alpha), the byte order of the
  // generated tiles, whatever colour masks the image reports.
  if (transparent) return image;

  FiBitmap mask;
  if (!alphaPath.empty()) {
    mask = loadAny(alphaPath);
    if (mask && FreeImage_GetBPP(mask.get()) != 8) {
      FiBitmap grey(FreeImage_ConvertToGreyscale(mask.get()));
      if (!grey) return nullptr;
      mask = std::move(grey);
    }
  }
  if (!mask) {
    mask = makeOpaqueMask(FreeImage_GetWidth(image.get()), FreeImage_GetHeight(image.get()));
    if (!mask) return nullptr;
  }
  FreeImage_SetTransparent(image.get(), TRUE);
  if (!FreeImage_SetChannel(image.get(), mask.get(), FICC_ALPHA)) return nullptr;
  return image;
}

bool cutTile(FIBITMAP* image, int left, int top, unsigned edge, std::uint8_t* out) {
  if (!image || FreeImage_GetBPP(image) != 32) return false;
  const long long width = FreeImage_GetWidth(image);
  const long long height = FreeImage_GetHeight(image);
  if (left < 0 || top < 0 || left + (long long)edge > width || top + (long long)edge > height) return false;
  const std::size_t rowBytes = std::size_t(edge) * 4;
  for (unsigned y = 0; y < edge; ++y) {
    // scan line 0 is the bottom of the image
    const BYTE* line = FreeImage_GetScanLine(image, int(height - 1 - (top + y)));
    std::memcpy(out + y * rowBytes, line + std::size_t(left) * 4, rowBytes);
  }
  return true;
}

bool tilesPracticallyEqual(const std::uint8_t* cut, const std::uint8_t* stored, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i) {
    int d = int(cut[i]) - int(stored[i]);
    if (d > kTolerance || d < -kTolerance) return false;
  }
  return true;
}

namespace {

// One screen's work on the store: every comparison sees the store as it was before the screen.
// Instead of a copy of the whole store, the earlier content of each tile that this screen
// overwrites is kept; a tile not overwritten yet is read from the live store.
class ScreenReplacement {
public:
  ScreenReplacement(HiResTileTable& table) : table_(table), tileBytes_(table.tileBytes) {}

  bool init() {
    cut_.reset(new (std::nothrow) std::uint8_t[tileBytes_]);
    stored_.reset(new (std::nothrow) std::uint8_t[tileBytes_]);
    return cut_ && stored_;
  }
  std::uint8_t* cutBuffer() { return cut_.get(); }

  // Compares the tile in the cut buffer with the tile of entry (group, index) and writes it
  // there when it differs. False only when a write failed.
  bool apply(int group, std::uint32_t index) {
    std::uint32_t offset = 0;
    if (!hiResTileOffset(table_, group, index, offset)) return true;
    const std::uint8_t* before;
    auto saved = earlier_.find(offset);
    if (saved != earlier_.end()) {
      before = saved->second.get();
    } else {
      if (!table_.tempFile.seek(offset) || !table_.tempFile.readExact(stored_.get(), tileBytes_))
        return true; // the tile cannot be compared: skipped
      before = stored_.get();
    }
    if (tilesPracticallyEqual(cut_.get(), before, tileBytes_)) return true;
    if (saved == earlier_.end()) {
      std::unique_ptr<std::uint8_t[]> keep(new (std::nothrow) std::uint8_t[tileBytes_]);
      if (!keep) return true; // without the earlier content the tile cannot be written safely
      std::memcpy(keep.get(), stored_.get(), tileBytes_);
      earlier_.emplace(offset, std::move(keep));
    }
    if (!table_.tempFile.seek(offset)) return true;
    return table_.tempFile.writeAll(cut_.get(), tileBytes_);
  }

private:
  HiResTileTable& table_;
  const std::uint32_t tileBytes_;
  std::unique_ptr<std::uint8_t[]> cut_;
  std::unique_ptr<std::uint8_t[]> stored_;
  std::unordered_map<std::uint32_t, std::unique_ptr<std::uint8_t[]>> earlier_;
};

std::uint32_t resolve(const TileSet& tiles, const TileGroup& group, const std::uint8_t* colours,
                      const std::uint8_t* planes) {
  const std::uint32_t palette = findPalette(tiles, colours);
  if (palette == kNotFound) return kNotFound;
  const std::uint32_t pattern = findPattern(tiles, planes);
  if (pattern == kNotFound) return kNotFound;
  return findTileEntry(group, palette, pattern);
}

void forceOpaque(std::uint8_t* tile, std::size_t bytes) {
  for (std::size_t i = 3; i < bytes; i += 4) tile[i] = 255;
}

} // namespace

ReplaceResult replaceTilesFromScreen(HiResTileTable& table, const TileSet& buildTiles,
                                     const std::string& screenPath, const std::string& imagePath,
                                     const std::string& alphaPath) {
  ScreenFile screen;
  if (!loadScreenFile(screen, screenPath)) return ReplaceResult::Skipped;
  if (!table.tempFile || table.tileCount == 0 || table.scale < 1 || table.scale > 4)
    return ReplaceResult::Skipped;
  FiBitmap image = loadImageWithAlpha(imagePath, alphaPath);
  if (!image) return ReplaceResult::Skipped;
  ScreenReplacement work(table);
  if (!work.init()) return ReplaceResult::Skipped;

  const int scale = int(table.scale);
  const unsigned edge = 8u * unsigned(scale);
  const std::size_t tileBytes = table.tileBytes;
  std::uint8_t* cut = work.cutBuffer();

  if (const ScreenCell* grid = screen.background()) {
    // Only the grid is cut when there is one; the image starts at the first visible column.
    const int firstColumn = 32 - (int(screen.width()) + 7) / 8;
    const int rows = int(screen.height()) / 8;
    for (int r = 0; r < rows; ++r) {
      for (int c = firstColumn; c < 32; ++c) {
        const ScreenCell& cell = grid[r * 32 + c];
        const int group = groupForNameWord(cell.nameWord);
        const std::uint32_t index = resolve(buildTiles, buildTiles.groups[group], cell.palette, cell.pattern);
        if (index == kNotFound) continue;
        if (!cutTile(image.get(), (c - firstColumn) * int(edge), r * int(edge), edge, cut)) continue;
        // Plain background tiles are always opaque; priority tiles keep the image's alpha.
        if (!(cell.nameWord & 0x1000)) forceOpaque(cut, tileBytes);
        if (!work.apply(group, index)) return ReplaceResult::WriteFailed;
      }
    }
    return ReplaceResult::Processed;
  }

  const TileGroup& sprites = buildTiles.groups[kSpriteGroup];
  for (std::uint32_t i = 0; i < screen.spriteCount(); ++i) {
    const SpriteRecord& sprite = screen.sprites()[i];
    const int x = spriteClampX(sprite.x);
    // The positions at which the screen export draws sprites.
    std::uint32_t index = resolve(buildTiles, sprites, sprite.palette, sprite.pattern);
    if (index != kNotFound &&
        cutTile(image.get(), x * scale, spriteClampUpperY(sprite.y) * scale + 1, edge, cut) &&
        !work.apply(kSpriteGroup, index))
      return ReplaceResult::WriteFailed;
    if (!(sprite.flags & 2)) continue;
    index = resolve(buildTiles, sprites, sprite.palette2, sprite.pattern2);
    if (index != kNotFound &&
        cutTile(image.get(), x * scale, spriteClampLowerY(sprite.y) * scale + 1 + int(edge), edge, cut) &&
        !work.apply(kSpriteGroup, index))
      return ReplaceResult::WriteFailed;
  }
  return ReplaceResult::Processed;
}

} // namespace zelvo
