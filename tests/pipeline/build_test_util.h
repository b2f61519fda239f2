// Helpers of the build tests: small tile sets made in memory, and images painted over screens
// (tiles and screen files come from support/fixtures.h).
#pragma once

#include "pipeline/build_report.h"
#include "render/freeimage_ptr.h"
#include "support/fixtures.h"
#include "tiles/tile_store.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace zelvo::test {

// A line the build's report adds between its stage, error and "Success!" lines.
inline bool isReportLine(const std::string& line) {
  const LogLineKind kind = logLineKind(line);
  return kind == LogLineKind::Info || kind == LogLineKind::Warning;
}

// A tile set's content, in file order, with simple distinct records.
struct TilesRecipe {
  std::vector<PaletteEntry> palettes;
  std::vector<PatternEntry> patterns;
  std::vector<TileEntry> groups[kGroupCount];

  std::uint32_t palette(std::uint8_t first, std::uint64_t major = 0) {
    PaletteEntry p{};
    for (int i = 0; i < 16; ++i) p.colours[i] = std::uint8_t((first + 5 * i) & 0x3F);
    p.orderKeyMajor = major;
    palettes.push_back(p);
    return std::uint32_t(palettes.size() - 1);
  }
  std::uint32_t pattern(std::uint8_t seed, std::uint64_t major = 0) {
    PatternEntry p{};
    for (int i = 0; i < 32; ++i) p.planes[i] = std::uint8_t(seed * 37 + i * 11 + (i * i) % 7);
    p.orderKeyMajor = major;
    patterns.push_back(p);
    return std::uint32_t(patterns.size() - 1);
  }
  void entry(int group, std::uint32_t palette, std::uint32_t pattern, std::uint64_t major = 0) {
    groups[group].push_back(TileEntry{palette, pattern, 0, major});
  }
};

inline std::unique_ptr<TileSet> tileSetOf(const TilesRecipe& recipe) {
  TilesContent content;
  content.palettes = recipe.palettes;
  content.patterns = recipe.patterns;
  for (int g = 0; g < kGroupCount; ++g) content.groups[g] = recipe.groups[g];
  return makeTileSet(content);
}

// A 32-bit image, all pixels 0 (black, alpha 0).
inline FiBitmap blankImage(int width, int height) {
  FiBitmap image(FreeImage_Allocate(width, height, 32));
  for (int y = 0; y < height; ++y)
    std::memset(FreeImage_GetScanLine(image.get(), y), 0, std::size_t(width) * 4);
  return image;
}

// Puts tile bytes (edge x edge pixels, top row first) at (left, top) counted from the top.
inline void putTile(FIBITMAP* image, int left, int top, int edge, const std::vector<std::uint8_t>& tile) {
  const int height = int(FreeImage_GetHeight(image));
  for (int y = 0; y < edge; ++y) {
    std::memcpy(FreeImage_GetScanLine(image, height - 1 - (top + y)) + left * 4, tile.data() + y * edge * 4,
                std::size_t(edge) * 4);
  }
}

inline bool savePng(FIBITMAP* image, const std::string& path) {
  return FreeImage_Save(FIF_PNG, image, path.c_str(), 0) != 0;
}
// A 24-bit BMP of the colours (alpha dropped).
inline bool saveBmp(FIBITMAP* image, const std::string& path) {
  FiBitmap colour(FreeImage_ConvertTo24Bits(image));
  return colour && FreeImage_Save(FIF_BMP, colour.get(), path.c_str(), 0);
}
// An 8-bit grey image of one value, saved as BMP or PNG by the extension.
inline bool saveGrey(int width, int height, std::uint8_t value, const std::string& path,
                     FREE_IMAGE_FORMAT fif) {
  FiBitmap grey(FreeImage_Allocate(width, height, 8));
  RGBQUAD* palette = FreeImage_GetPalette(grey.get());
  for (int i = 0; i < 256; ++i) palette[i] = RGBQUAD{BYTE(i), BYTE(i), BYTE(i), 0};
  for (int y = 0; y < height; ++y)
    std::memset(FreeImage_GetScanLine(grey.get(), y), value, std::size_t(width));
  return FreeImage_Save(fif, grey.get(), path.c_str(), 0) != 0;
}

} // namespace zelvo::test
