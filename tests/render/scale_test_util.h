// Helpers of the enlargement tests: pictures as the eye sees them (top row first), letter
// grids, FreeImage bitmaps of every pixel size built from them, and slow whole-image references.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include <FreeImage.h>

#include "render/freeimage_ptr.h"

namespace zelvo::test {

// Pixel values of a picture, rows top first, whatever the pixel size (8, 16, 24 or 32 bits).
struct Picture {
  unsigned width = 0;
  unsigned height = 0;
  std::vector<std::uint32_t> pixels;

  std::uint32_t at(unsigned x, unsigned y) const { return pixels[std::size_t(y) * width + x]; }
  // Neighbour fetch clamped to the picture: outside pixels are the nearest edge pixel.
  std::uint32_t clamped(long x, long y) const {
    x = x < 0 ? 0 : x >= long(width) ? long(width) - 1 : x;
    y = y < 0 ? 0 : y >= long(height) ? long(height) - 1 : y;
    return at(unsigned(x), unsigned(y));
  }
  bool operator==(const Picture&) const = default;
};

// Failure output: the picture in hexadecimal, one line per row.
inline void PrintTo(const Picture& p, std::ostream* os) {
  *os << p.width << "x" << p.height;
  for (unsigned y = 0; y < p.height; ++y) {
    *os << "\n ";
    for (unsigned x = 0; x < p.width; ++x) {
      char text[12];
      std::snprintf(text, sizeof text, " %08X", unsigned(p.at(x, y)));
      *os << text;
    }
  }
}

// Letter grids: one letter a pixel, rows top first. Upper-case letters are opaque colours;
// a lower-case letter differs from its upper-case one only in the top byte (alpha at 32 bits,
// the high byte at 16 bits, another index at 8 bits), so they do not exist at 24 bits.
using Grid = std::vector<std::string>;

inline std::uint32_t letterValue(char letter, unsigned bpp) {
  const bool lower = letter >= 'a' && letter <= 'z';
  const std::uint32_t k = std::uint32_t(lower ? letter - 'a' : letter - 'A');
  switch (bpp) {
  case 8:
    return lower ? 100 + k : 1 + k;
  case 16:
    return (lower ? 0x0000u : 0x8000u) | (0x20u + k);
  default: {
    const std::uint32_t rgb = ((k + 1) * 0x00254F3Bu) & 0x00FFFFFFu;
    return bpp == 24 ? rgb : rgb | (lower ? 0x00000000u : 0xFF000000u);
  }
  }
}

inline char valueLetter(std::uint32_t value, unsigned bpp) {
  for (char c = 'A'; c <= 'Z'; ++c) {
    if (letterValue(c, bpp) == value) return c;
    if (bpp != 24 && letterValue(char(c - 'A' + 'a'), bpp) == value) return char(c - 'A' + 'a');
  }
  return '?';
}

inline Picture fromGrid(const Grid& grid, unsigned bpp) {
  Picture p{unsigned(grid.empty() ? 0 : grid[0].size()), unsigned(grid.size()), {}};
  for (const std::string& row : grid)
    for (char c : row) p.pixels.push_back(letterValue(c, bpp));
  return p;
}

inline Grid toGrid(const Picture& p, unsigned bpp) {
  Grid grid(p.height, std::string(p.width, ' '));
  for (unsigned y = 0; y < p.height; ++y)
    for (unsigned x = 0; x < p.width; ++x) grid[y][x] = valueLetter(p.at(x, y), bpp);
  return grid;
}

// A bitmap of the picture (top row = highest scan line). 8-bit images get a palette of
// distinct grey-blue entries, 16-bit images 5-6-5 masks.
inline FiBitmap makeBitmap(const Picture& p, unsigned bpp) {
  FiBitmap bitmap(bpp == 16 ? FreeImage_Allocate(int(p.width), int(p.height), 16, FI16_565_RED_MASK,
                                                 FI16_565_GREEN_MASK, FI16_565_BLUE_MASK)
                            : FreeImage_Allocate(int(p.width), int(p.height), int(bpp)));
  if (!bitmap) return bitmap;
  if (bpp == 8) {
    RGBQUAD* palette = FreeImage_GetPalette(bitmap.get());
    for (unsigned i = 0; i < 256; ++i) palette[i] = RGBQUAD{BYTE(i), BYTE(255 - i), BYTE(i * 7), 0};
  }
  const unsigned bytes = bpp / 8;
  for (unsigned y = 0; y < p.height; ++y) {
    BYTE* line = FreeImage_GetScanLine(bitmap.get(), int(p.height - 1 - y));
    for (unsigned x = 0; x < p.width; ++x)
      for (unsigned b = 0; b < bytes; ++b) line[x * bytes + b] = BYTE(p.at(x, y) >> (8 * b));
  }
  return bitmap;
}

inline Picture readBitmap(FIBITMAP* bitmap) {
  const unsigned bytes = FreeImage_GetBPP(bitmap) / 8;
  Picture p{FreeImage_GetWidth(bitmap), FreeImage_GetHeight(bitmap), {}};
  for (unsigned y = 0; y < p.height; ++y) {
    const BYTE* line = FreeImage_GetScanLine(bitmap, int(p.height - 1 - y));
    for (unsigned x = 0; x < p.width; ++x) {
      std::uint32_t v = 0;
      for (unsigned b = 0; b < bytes; ++b) v |= std::uint32_t(line[x * bytes + b]) << (8 * b);
      p.pixels.push_back(v);
    }
  }
  return p;
}

// Slow references, pixel by pixel in screen orientation (B above, H below) with clamped
// neighbour fetch.
inline Picture referenceScale2x(const Picture& p) {
  Picture out{p.width * 2, p.height * 2, std::vector<std::uint32_t>(std::size_t(p.width) * p.height * 4)};
  for (long y = 0; y < long(p.height); ++y) {
    for (long x = 0; x < long(p.width); ++x) {
      const std::uint32_t B = p.clamped(x, y - 1), D = p.clamped(x - 1, y), E = p.clamped(x, y),
                          F = p.clamped(x + 1, y), H = p.clamped(x, y + 1);
      std::uint32_t block[4] = {E, E, E, E};
      if (B != H && D != F) {
        if (D == B) block[0] = D;
        if (B == F) block[1] = F;
        if (D == H) block[2] = D;
        if (H == F) block[3] = F;
      }
      for (int i = 0; i < 4; ++i)
        out.pixels[std::size_t(2 * y + i / 2) * out.width + std::size_t(2 * x + i % 2)] = block[i];
    }
  }
  return out;
}

inline Picture referenceScale3x(const Picture& p) {
  Picture out{p.width * 3, p.height * 3, std::vector<std::uint32_t>(std::size_t(p.width) * p.height * 9)};
  for (long y = 0; y < long(p.height); ++y) {
    for (long x = 0; x < long(p.width); ++x) {
      const std::uint32_t A = p.clamped(x - 1, y - 1), B = p.clamped(x, y - 1), C = p.clamped(x + 1, y - 1);
      const std::uint32_t D = p.clamped(x - 1, y), E = p.clamped(x, y), F = p.clamped(x + 1, y);
      const std::uint32_t G = p.clamped(x - 1, y + 1), H = p.clamped(x, y + 1), I = p.clamped(x + 1, y + 1);
      std::uint32_t block[9] = {E, E, E, E, E, E, E, E, E};
      if (B != H && D != F) {
        if (D == B) block[0] = D;
        if ((D == B && E != C) || (B == F && E != A)) block[1] = B;
        if (B == F) block[2] = F;
        if ((D == B && E != G) || (D == H && E != A)) block[3] = D;
        if ((B == F && E != I) || (H == F && E != C)) block[5] = F;
        if (D == H) block[6] = D;
        if ((D == H && E != I) || (H == F && E != G)) block[7] = H;
        if (H == F) block[8] = F;
      }
      for (int i = 0; i < 9; ++i)
        out.pixels[std::size_t(3 * y + i / 3) * out.width + std::size_t(3 * x + i % 3)] = block[i];
    }
  }
  return out;
}

// Enlarges a letter grid held in a bitmap of `bpp` bits with `scale` and reads the result back;
// {"null"} when the operation gives null or changes the pixel size.
template <typename ScaleFn> Grid scaledGrid(ScaleFn scale, const Grid& grid, unsigned bpp) {
  FiBitmap input = makeBitmap(fromGrid(grid, bpp), bpp);
  FiBitmap output = scale(input.get());
  if (!output || FreeImage_GetBPP(output.get()) != bpp) return {"null"};
  return toGrid(readBitmap(output.get()), bpp);
}

// A random picture of a few colours taken from `colours`, so equal neighbours are common.
inline Picture randomPicture(std::mt19937& rng, unsigned width, unsigned height,
                             const std::vector<std::uint32_t>& colours) {
  const std::size_t used = 2 + rng() % (colours.size() - 1);
  Picture p{width, height, {}};
  for (unsigned i = 0; i < width * height; ++i) p.pixels.push_back(colours[rng() % used]);
  return p;
}

} // namespace zelvo::test
