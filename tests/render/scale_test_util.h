// Helpers of the enlargement tests: pictures as the eye sees them (top row first), letter grids,
// the row operations run over whole pictures, an 8x8 picture enlarged by enlargeTileBlock, and
// slow whole-picture references.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "render/scale.h"

namespace zelvo::test {

// 32-bit pixel values of a picture, rows top first.
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

// Letter grids: one letter a pixel, rows top first. Upper-case letters are opaque colours; a
// lower-case letter differs from its upper-case one only in the top byte (alpha 0).
using Grid = std::vector<std::string>;

inline std::uint32_t letterValue(char letter) {
  const bool lower = letter >= 'a' && letter <= 'z';
  const std::uint32_t k = std::uint32_t(lower ? letter - 'a' : letter - 'A');
  return (((k + 1) * 0x00254F3Bu) & 0x00FFFFFFu) | (lower ? 0x00000000u : 0xFF000000u);
}

inline char valueLetter(std::uint32_t value) {
  for (char c = 'A'; c <= 'Z'; ++c) {
    if (letterValue(c) == value) return c;
    if (letterValue(char(c - 'A' + 'a')) == value) return char(c - 'A' + 'a');
  }
  return '?';
}

inline Picture fromGrid(const Grid& grid) {
  Picture p{unsigned(grid.empty() ? 0 : grid[0].size()), unsigned(grid.size()), {}};
  for (const std::string& row : grid)
    for (char c : row) p.pixels.push_back(letterValue(c));
  return p;
}

inline Grid toGrid(const Picture& p) {
  Grid grid(p.height, std::string(p.width, ' '));
  for (unsigned y = 0; y < p.height; ++y)
    for (unsigned x = 0; x < p.width; ++x) grid[y][x] = valueLetter(p.at(x, y));
  return grid;
}

// Runs Scale2xRow32 (factor 2) or Scale3xRow32 (factor 3) over a picture in screen order, every
// row in its own exact-size buffer so that a read or write past a row end is caught by the
// sanitizer build.
inline Picture scaleByRows(const Picture& p, unsigned factor) {
  std::vector<std::vector<std::uint32_t>> rows;
  for (unsigned y = 0; y < p.height; ++y)
    rows.emplace_back(p.pixels.begin() + std::ptrdiff_t(y * p.width),
                      p.pixels.begin() + std::ptrdiff_t((y + 1) * p.width));
  Picture out{factor * p.width, factor * p.height, {}};
  for (unsigned y = 0; y < p.height; ++y) {
    const std::vector<std::uint32_t>& above = y > 0 ? rows[y - 1] : rows[y];
    const std::vector<std::uint32_t>& below = y + 1 < p.height ? rows[y + 1] : rows[y];
    std::vector<std::vector<std::uint32_t>> made(factor, std::vector<std::uint32_t>(factor * p.width));
    if (factor == 2)
      Scale2xRow32(rows[y].data(), above.data(), below.data(), made[0].data(), made[1].data(), p.width);
    else
      Scale3xRow32(rows[y].data(), above.data(), below.data(), made[0].data(), made[1].data(), made[2].data(),
                   p.width);
    for (const std::vector<std::uint32_t>& row : made)
      out.pixels.insert(out.pixels.end(), row.begin(), row.end());
  }
  return out;
}

// A letter grid enlarged by the row operations of `factor` (2 or 3).
inline Grid scaledGrid(unsigned factor, const Grid& grid) {
  return toGrid(scaleByRows(fromGrid(grid), factor));
}

// An 8x8 picture enlarged by enlargeTileBlock; empty when it refuses the scale.
inline Picture enlargedBlock(const Picture& p, std::uint32_t scale) {
  std::uint32_t block[64]; // bottom row first, as the tile decoders draw
  for (unsigned y = 0; y < 8; ++y) std::memcpy(block + 8 * (7 - y), &p.pixels[8 * y], 32);
  Picture out{8 * scale, 8 * scale, std::vector<std::uint32_t>(std::size_t(64) * scale * scale)};
  if (!enlargeTileBlock(reinterpret_cast<const std::uint8_t*>(block), scale,
                        reinterpret_cast<std::uint8_t*>(out.pixels.data())))
    return {};
  return out;
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

// A random picture of a few colours taken from `colours`, so equal neighbours are common.
inline Picture randomPicture(std::mt19937& rng, unsigned width, unsigned height,
                             const std::vector<std::uint32_t>& colours) {
  const std::size_t used = 2 + rng() % (colours.size() - 1);
  Picture p{width, height, {}};
  for (unsigned i = 0; i < width * height; ++i) p.pixels.push_back(colours[rng() % used]);
  return p;
}

} // namespace zelvo::test
