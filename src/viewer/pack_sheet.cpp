// The sheet of a pack's hi-res tiles, one square per tile entry.
#include "viewer/pack_preview.h"

#include <algorithm>

namespace zelvo {

namespace {

constexpr std::uint8_t kGround = 0x40; // the grey between the tiles
constexpr std::uint32_t kCheckerLight = 0xC8, kCheckerDark = 0x8C;
constexpr std::uint64_t kMaxSheetPixels = std::uint64_t(1) << 28; // 1 GiB of pixels

// Draws a tile square (as putTile takes it) over the checkerboard, the square's top-left corner
// at (left, top): each pixel blended by its alpha over the opaque grey beneath it.
void putOverChecker(RgbaImage& image, const std::uint8_t* tile, std::uint32_t edge, std::uint32_t left,
                    std::uint32_t top) {
  putTile(image, tile, edge, left, top);
  for (std::uint32_t y = 0; y < edge; ++y) {
    std::uint8_t* pixel = image.at(left, top + y);
    for (std::uint32_t x = 0; x < edge; ++x, pixel += 4) {
      const bool light = ((x / kSheetChecker) + (y / kSheetChecker)) % 2 == 0;
      const std::uint32_t ground = light ? kCheckerLight : kCheckerDark, alpha = pixel[3];
      for (int c = 0; c < 3; ++c)
        pixel[c] = std::uint8_t((pixel[c] * alpha + ground * (255 - alpha) + 127) / 255);
      pixel[3] = 255;
    }
  }
}

} // namespace

Result<Sheet> renderSheet(const PackTiles& pack, int group, int columns) {
  if (group < -1 || group >= kGroupCount)
    return makeError(ErrorCause::InvalidArgument, {}, "the group must be 0 to 8");
  if (columns < 1 || columns > 1024)
    return makeError(ErrorCause::InvalidArgument, {}, "the columns must be 1 to 1024");
  if (!pack.tiles) return makeError(ErrorCause::InvalidArgument, {}, "the pack holds no tiles");

  const std::uint32_t edge = 8 * pack.scale;
  const int pitch = int(edge) + kSheetGap;
  Sheet sheet;
  std::uint64_t rows = 0;
  std::uint32_t widest = 0;
  for (int g = 0; g < kGroupCount; ++g) {
    if (group >= 0 && g != group) continue;
    const std::uint32_t count = pack.tiles->groups[g].count;
    for (std::uint32_t i = 0; i < count; ++i) {
      const std::uint64_t row = rows + i / std::uint32_t(columns);
      if (kSheetGap + (row + 1) * pitch > 0x7FFFFFFF)
        return makeError(ErrorCause::LimitExceeded, {}, "the sheet would be too tall");
      sheet.entries.push_back(SheetEntry{g, i, kSheetGap + int(i % std::uint32_t(columns)) * pitch,
                                         kSheetGap + int(row) * pitch, pack.tileNumber(g, i)});
    }
    rows += (count + std::uint32_t(columns) - 1) / std::uint32_t(columns);
    widest = std::max(widest, count);
  }
  if (sheet.entries.empty())
    return makeError(ErrorCause::InvalidArgument, {}, "there are no tile entries to show");

  const std::uint64_t width = kSheetGap + std::min<std::uint64_t>(widest, std::uint64_t(columns)) * pitch;
  const std::uint64_t height = kSheetGap + rows * pitch;
  if (width * height > kMaxSheetPixels)
    return makeError(ErrorCause::LimitExceeded, {},
                     "the sheet would be " + std::to_string(width) + " x " + std::to_string(height) +
                         " pixels");
  Result<RgbaImage> image = makeRgbaImage(std::uint32_t(width), std::uint32_t(height));
  if (!image) return image.error();
  sheet.image = std::move(*image);
  fillImage(sheet.image, kGround, kGround, kGround, 255);

  std::vector<bool> seen(pack.tileCount);
  for (const SheetEntry& e : sheet.entries) {
    putOverChecker(sheet.image, pack.tileData(e.tile), edge, std::uint32_t(e.x), std::uint32_t(e.y));
    if (!seen[e.tile]) ++sheet.distinctTiles;
    seen[e.tile] = true;
  }
  return sheet;
}

} // namespace zelvo
