// The sheet of a pack's hi-res tiles, one square per tile entry.
#include "viewer/pack_preview.h"
#include "viewer/screen_render.h"

#include <algorithm>

namespace zelvo {

namespace {

constexpr std::uint32_t kGround = 0xFF404040u; // between the tiles
constexpr std::uint32_t kCheckerLight = 0xC8, kCheckerDark = 0x8C;
constexpr std::uint64_t kMaxSheetPixels = std::uint64_t(1) << 28; // 1 GiB of pixels

// `pixel` (0xAARRGGBB) over the opaque grey level `ground`.
std::uint32_t over(std::uint32_t pixel, std::uint32_t ground) {
  const std::uint32_t alpha = pixel >> 24;
  std::uint32_t out = 0xFF000000u;
  for (int shift = 0; shift < 24; shift += 8) {
    const std::uint32_t channel = (pixel >> shift) & 0xFF;
    out |= ((channel * alpha + ground * (255 - alpha) + 127) / 255) << shift;
  }
  return out;
}

// Draws a tile (`edge` pixels square, top row first) over the checkerboard at (left, top).
void putOverChecker(FIBITMAP* image, const std::uint8_t* tile, int edge, int left, int top) {
  const int height = int(FreeImage_GetHeight(image));
  const auto* pixels = reinterpret_cast<const std::uint32_t*>(tile);
  for (int y = 0; y < edge; ++y) {
    auto* line =
        reinterpret_cast<std::uint32_t*>(FreeImage_GetScanLine(image, height - 1 - (top + y))) + left;
    for (int x = 0; x < edge; ++x) {
      const bool light = ((x / kSheetChecker) + (y / kSheetChecker)) % 2 == 0;
      line[x] = over(pixels[y * edge + x], light ? kCheckerLight : kCheckerDark);
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

  const int edge = 8 * int(pack.scale), pitch = edge + kSheetGap;
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
  sheet.image = allocateScreenImage(int(width), int(height));
  if (!sheet.image) return makeError(ErrorCause::OutOfMemory, {}, "the sheet image");
  for (std::uint64_t y = 0; y < height; ++y) {
    auto* line = reinterpret_cast<std::uint32_t*>(FreeImage_GetScanLine(sheet.image.get(), int(y)));
    std::fill(line, line + width, kGround);
  }

  std::vector<bool> seen(pack.tileCount);
  for (const SheetEntry& e : sheet.entries) {
    putOverChecker(sheet.image.get(), pack.tileData(e.tile), edge, e.x, e.y);
    if (!seen[e.tile]) ++sheet.distinctTiles;
    seen[e.tile] = true;
  }
  return sheet;
}

} // namespace zelvo
