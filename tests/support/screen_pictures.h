// Helpers of the screen viewer and export tests: pictures held top row first, a slow per-pixel drawing of
// tiles straight from the pattern bits, and the tiles and screens the tests render and export.
#pragma once

#include "render/image_read.h"
#include "render/rgba_image.h"
#include "render/scale.h"
#include "support/console_rules.h"
#include "support/fixtures.h"
#include "tiles/screen_file.h"

#include <cstdint>
#include <cstring>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace zelvo::test {

// 32-bit pixels (0xAARRGGBB), row 0 at the top.
struct Picture {
  int width = 0, height = 0;
  std::vector<std::uint32_t> pixels;

  Picture() = default;
  Picture(int w, int h, std::uint32_t fill = 0) : width(w), height(h), pixels(std::size_t(w) * h, fill) {}
  std::uint32_t& at(int x, int y) { return pixels[std::size_t(y) * width + x]; }
  std::uint32_t at(int x, int y) const { return pixels[std::size_t(y) * width + x]; }
};

inline Picture pictureOf(const RgbaImage& image) {
  Picture p(int(image.width), int(image.height));
  for (std::size_t i = 0; i < p.pixels.size(); ++i) {
    const std::uint8_t* rgba = image.pixels.get() + 4 * i;
    p.pixels[i] =
        std::uint32_t(rgba[3]) << 24 | std::uint32_t(rgba[0]) << 16 | std::uint32_t(rgba[1]) << 8 | rgba[2];
  }
  return p;
}

inline RgbaImage imageOf(const Picture& p) {
  RgbaImage image = makeRgbaImage(std::uint32_t(p.width), std::uint32_t(p.height)).value();
  for (std::size_t i = 0; i < p.pixels.size(); ++i) {
    const std::uint32_t v = p.pixels[i];
    const std::uint8_t rgba[4] = {std::uint8_t(v >> 16), std::uint8_t(v >> 8), std::uint8_t(v),
                                  std::uint8_t(v >> 24)};
    std::memcpy(image.pixels.get() + 4 * i, rgba, 4);
  }
  return image;
}

// The image file at `path` as the program's reader decodes it (empty when it cannot), and in
// `kind` what its header says it is ("PNG, 8-bit RGBA", "BMP, 40-byte header, 24 bits").
inline Picture readPicture(const std::string& path, std::string* kind = nullptr) {
  Result<ImageInfo> info = readImageHeader(path);
  if (kind) *kind = info ? info->kind : info.error().message();
  Result<RgbaImage> image = readImage(path);
  return image ? pictureOf(*image) : Picture();
}

inline Picture cut(const Picture& p, int left, int top, int width, int height) {
  Picture out(width, height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) out.at(x, y) = p.at(left + x, top + y);
  return out;
}

inline void paste(Picture& into, const Picture& p, int left, int top) {
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width; ++x) into.at(left + x, top + y) = p.at(x, y);
}

// Empty when equal; else the sizes or the first differing pixel.
inline std::string difference(const Picture& actual, const Picture& expected) {
  std::ostringstream out;
  if (actual.width != expected.width || actual.height != expected.height) {
    out << "size " << actual.width << " x " << actual.height << ", expected " << expected.width << " x "
        << expected.height;
    return out.str();
  }
  for (int y = 0; y < actual.height; ++y)
    for (int x = 0; x < actual.width; ++x)
      if (actual.at(x, y) != expected.at(x, y)) {
        out << std::hex << "pixel (" << std::dec << x << ", " << y << ") is 0x" << std::hex << actual.at(x, y)
            << ", expected 0x" << expected.at(x, y);
        return out.str();
      }
  return {};
}

// Colour number of pixel x (0 leftmost) of pattern row `row` (0 at the top).
inline int colourNumber(const PatternEntry& pattern, int row, int x) {
  int n = 0;
  for (int plane = 0; plane < 4; ++plane)
    if (pattern.planes[4 * row + plane] & (0x80 >> x)) n |= 1 << plane;
  return n;
}

// A colour code as a pixel: two bits each of red, green and blue, each level 0x55 apart.
inline std::uint32_t colourOf(std::uint8_t code, std::uint32_t alpha) {
  return alpha << 24 | 0x55u * (code & 3) << 16 | 0x55u * ((code >> 2) & 3) << 8 | 0x55u * ((code >> 4) & 3);
}

enum class Ink {
  Opaque, // every colour with alpha 255
  Alpha,  // colour number 0 with its colour and alpha 0, the others with alpha 255
};

// The 8 x 8 square of a tile as it appears on screen, flipped by the name-word bits `flip`.
inline Picture drawnTile(const PaletteEntry& palette, const PatternEntry& pattern, std::uint32_t flip,
                         Ink ink) {
  Picture p(8, 8);
  for (int row = 0; row < 8; ++row)
    for (int x = 0; x < 8; ++x) {
      const int n = colourNumber(pattern, row, x);
      const std::uint32_t alpha = ink == Ink::Opaque || (ink == Ink::Alpha && n != 0) ? 255 : 0;
      p.at(flip & 512 ? 7 - x : x, flip & 1024 ? 7 - row : row) = colourOf(palette.colours[n], alpha);
    }
  return p;
}

// The 8 x 8 square enlarged on its own by the system's pixel-art rule for `factor`.
inline Picture enlarged(const Picture& tile, int factor) {
  std::uint32_t block[64]; // bottom row first, as the tile decoders draw
  for (int y = 0; y < 8; ++y) std::memcpy(block + 8 * (7 - y), tile.pixels.data() + 8 * y, 32);
  Picture big(8 * factor, 8 * factor);
  if (!enlargeTileBlock(reinterpret_cast<const std::uint8_t*>(block), std::uint32_t(factor),
                        reinterpret_cast<std::uint8_t*>(big.pixels.data())))
    return Picture();
  return big;
}

// A pattern whose colour numbers come from a seed, about one pixel in four being colour 0.
inline PatternEntry dottedPattern(std::uint32_t seed) {
  std::mt19937 rng(seed);
  PatternEntry p{};
  for (int row = 0; row < 8; ++row)
    for (int x = 0; x < 8; ++x) {
      const int n = rng() % 4 == 0 ? 0 : 1 + int(rng() % 15);
      for (int plane = 0; plane < 4; ++plane)
        if (n & (1 << plane)) p.planes[4 * row + plane] |= std::uint8_t(0x80 >> x);
    }
  return p;
}

// Four palettes, six patterns and entries in every group: (palette, pattern) pairs per group.
inline TilesContent viewerTiles() {
  TilesContent t;
  for (std::uint32_t i = 0; i < 4; ++i) t.addPalette(makePalette(100 + i, 4 - i));
  for (std::uint32_t i = 0; i < 6; ++i) t.addPattern(dottedPattern(7 + i));
  const std::uint32_t entries[kGroupCount][2][2] = {{{0, 0}, {1, 1}}, {{0, 2}, {2, 0}}, {{1, 3}, {3, 1}},
                                                    {{2, 4}, {0, 5}}, {{0, 0}, {3, 5}}, {{2, 1}, {1, 4}},
                                                    {{1, 2}, {3, 0}}, {{3, 3}, {2, 2}}, {{0, 1}, {1, 4}}};
  for (int g = 0; g < kGroupCount; ++g)
    for (const auto& e : entries[g]) t.addEntry(g, e[0], e[1], std::uint64_t(9 - g));
  t.addEntry(kSpriteGroup, 2, 5);
  t.addEntry(kSpriteGroup, 3, 0);
  return t;
}

// The name-word flip and priority bits of a background group, with unrelated bits set around them.
inline std::uint16_t nameWordOf(int group, std::uint32_t noise) {
  return std::uint16_t((noise & 0xE9FF) | (group & 1 ? kFlipH : 0) | (group & 2 ? kFlipV : 0) |
                       (group >= 4 ? kPriority : 0));
}

// Every cell drawn from the entries of groups 0 to 7 in turn, except a few that do not resolve:
// an unknown palette, a pair that is not an entry of the cell's group, and untouched cells.
inline ScreenContent backgroundScreen(const TilesContent& t, std::uint16_t width = 256,
                                      std::uint16_t height = 224) {
  ScreenContent s;
  s.width = width;
  s.height = height;
  std::mt19937 rng(5);
  for (int r = 0; r < kScreenRows; ++r)
    for (int c = 0; c < kScreenColumns; ++c) {
      const int choice = int(rng() % 20);
      if (choice == 16) continue; // left as the recorder's zeros
      if (choice == 17) {
        s.setCell(r, c, makePalette(999), t.patterns[0], nameWordOf(0, rng()));
        continue;
      }
      if (choice == 18) { // palette 0 with pattern 0 is no entry of group 1
        s.setCell(r, c, t, 0, 0, nameWordOf(1, rng()));
        continue;
      }
      const int group = choice % 8; // choice 19: group 3
      const TileEntry& e = t.groups[group][choice / 8 % 2];
      s.setCell(r, c, t, e.paletteIndex, e.patternIndex, nameWordOf(group, rng()));
    }
  s.setCell(27, 31, t, 3, 5, kPriority); // the bottom-right corner is drawn too
  return s;
}

// Index of the entry of `group` that shows this palette and pattern, or -1.
inline int entryShowing(const TilesContent& t, int group, const std::uint8_t* palette,
                        const std::uint8_t* pattern) {
  for (std::size_t i = 0; i < t.groups[group].size(); ++i) {
    const TileEntry& e = t.groups[group][i];
    if (std::memcmp(t.palettes[e.paletteIndex].colours, palette, 16) == 0 &&
        std::memcmp(t.patterns[e.patternIndex].planes, pattern, 32) == 0)
      return int(i);
  }
  return -1;
}

// The whole grid (uncut) as the renderer draws it at `factor`: each resolved cell drawn, enlarged
// on its own and put in its square; the rest black (with alpha 0 when transparent).
inline Picture expectedBackground(const TilesContent& t, const ScreenContent& s, bool transparent,
                                  int factor) {
  const int edge = 8 * factor;
  Picture out(256 * factor, 224 * factor, transparent ? 0 : 0xFF000000u);
  for (int r = 0; r < kScreenRows; ++r)
    for (int c = 0; c < kScreenColumns; ++c) {
      const ScreenCell& cell = s.cells[std::size_t(r * kScreenColumns + c)];
      const int group = (cell.nameWord & kFlipH ? 1 : 0) + (cell.nameWord & kFlipV ? 2 : 0) +
                        (cell.nameWord & kPriority ? 4 : 0);
      const int index = entryShowing(t, group, cell.palette, cell.pattern);
      if (index < 0) continue;
      const TileEntry& e = t.groups[group][std::size_t(index)];
      const Ink ink = transparent && group >= 4 ? Ink::Alpha : Ink::Opaque;
      const Picture tile = drawnTile(t.palettes[e.paletteIndex], t.patterns[e.patternIndex],
                                     cell.nameWord & (kFlipH | kFlipV), ink);
      paste(out, enlarged(tile, factor), edge * c, edge * r);
    }
  return out;
}

// The sprites as the renderer draws them at `factor`, from the clamps of the console's coordinates
// up: every resolving tile that fits, in record order. Transparent: each enlarged square replaces
// what lies beneath. Opaque: over `fill` (0xRRGGBB), colour number 0 showing what lies beneath.
inline Picture expectedSprites(const TilesContent& t, const ScreenContent& s, bool transparent,
                               std::uint32_t fill, int factor) {
  const int edge = 8 * factor;
  Picture out(256 * factor, 224 * factor, transparent ? 0 : 0xFF000000u | fill);
  auto draw = [&](const std::uint8_t* palette, const std::uint8_t* pattern, int left, int top) {
    const int index = entryShowing(t, kSpriteGroup, palette, pattern);
    if (index < 0 || left + edge > out.width || top + edge > out.height) return;
    const TileEntry& e = t.groups[kSpriteGroup][std::size_t(index)];
    const Picture tile =
        enlarged(drawnTile(t.palettes[e.paletteIndex], t.patterns[e.patternIndex], 0, Ink::Alpha), factor);
    for (int y = 0; y < edge; ++y)
      for (int x = 0; x < edge; ++x) {
        const std::uint32_t v = tile.at(x, y);
        if (transparent || v >> 24) out.at(left + x, top + y) = v;
      }
  };
  for (const SpriteRecord& r : s.sprites) {
    const SpriteCorners at = spriteCorners(r.x, r.y, factor);
    draw(r.palette, r.pattern, at.left, at.upperTop);
    if (r.flags & 2) draw(r.palette2, r.pattern2, at.left, at.lowerTop);
  }
  return out;
}

} // namespace zelvo::test
