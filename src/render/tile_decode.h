// Decoding of one 8x8 Master System tile (32-byte planar pattern, 16 colour bytes) into a block of
// pixels in a caller-owned buffer. Block row 0 is the bottom row of the tile on screen (the
// buffers are bottom-up images); block row k starts at destination + k * pitch. Nothing outside
// the 8 x 8 pixels is touched, and the decoders test no bounds.
#pragma once

#include <array>
#include <cstdint>

namespace zelvo {

// Pixel format of DecodeTile. 32-bit pixels are little-endian words: modes 0 and 1 are the bytes
// blue, green, red, alpha; modes 2 and 3 red, green, blue, alpha. 16-bit pixels are little-endian
// halfwords whose 5-bit levels are 0, 10, 20, 30 (6-bit green 0, 20, 40, 60).
enum TilePixelMode : std::uint32_t {
  PixelXrgb32 = 0,
  PixelArgb32 = 1,
  PixelXbgr32 = 2,
  PixelAbgr32 = 3,
  PixelRgb565 = 4,
  PixelRgb555 = 5
};

// Flip bits as in a name-table word (word AND 0x600). Any other value makes a decoder write nothing.
enum TileFlip : std::uint32_t { TileFlipNone = 0, TileFlipH = 512, TileFlipV = 1024, TileFlipHV = 1536 };

namespace detail {

constexpr std::uint32_t colourValue(std::uint32_t mode, std::uint32_t colourByte) {
  const std::uint32_t r = colourByte & 3, g = (colourByte >> 2) & 3, b = (colourByte >> 4) & 3;
  switch (mode) {
  case PixelXrgb32:
    return (0x55 * r) << 16 | (0x55 * g) << 8 | 0x55 * b;
  case PixelArgb32:
    return 0xFF000000u | (0x55 * r) << 16 | (0x55 * g) << 8 | 0x55 * b;
  case PixelXbgr32:
    return (0x55 * b) << 16 | (0x55 * g) << 8 | 0x55 * r;
  case PixelAbgr32:
    return 0xFF000000u | (0x55 * b) << 16 | (0x55 * g) << 8 | 0x55 * r;
  case PixelRgb565:
    return (10 * r) << 11 | (20 * g) << 5 | 10 * b;
  default:
    return (10 * r) << 10 | (10 * g) << 5 | 10 * b;
  }
}

constexpr std::array<std::array<std::uint32_t, 256>, 6> makeColourTable() {
  std::array<std::array<std::uint32_t, 256>, 6> table{};
  for (std::uint32_t mode = 0; mode < 6; ++mode)
    for (std::uint32_t c = 0; c < 256; ++c) table[mode][c] = colourValue(mode, c);
  return table;
}

// weightLow for bit 0 of the index, weightHigh for bit 8.
constexpr std::array<std::uint32_t, 512> makePlaneBits(std::uint32_t weightLow, std::uint32_t weightHigh) {
  std::array<std::uint32_t, 512> table{};
  for (std::uint32_t i = 0; i < 512; ++i) table[i] = weightLow * (i & 1) + weightHigh * ((i >> 8) & 1);
  return table;
}

} // namespace detail

// Pixel value of every colour byte in every mode (bits 6-7 of the byte ignored, so entries 64 to
// 255 repeat 0 to 63). A 16-bit mode uses the low 16 bits of its entry.
inline constexpr std::array<std::array<std::uint32_t, 256>, 6> TileColourTable = detail::makeColourTable();

// Colour-number extraction: with bit b of every plane byte moved to bit 2 of that byte (word AND
// 0x04040404), the low half of the word is a byte offset into PlaneBits01 and the high half one
// into PlaneBits23; the colour number is the OR of the two entries.
inline constexpr std::array<std::uint32_t, 512> PlaneBits01 = detail::makePlaneBits(1, 2);
inline constexpr std::array<std::uint32_t, 512> PlaneBits23 = detail::makePlaneBits(4, 8);

// Writes all 64 pixels: TileColourTable[mode][palette[colour number]]. A mode above 5 or an
// unknown flip writes nothing.
void DecodeTile(const std::uint8_t* pattern, const std::uint8_t* palette, std::uint8_t* destination,
                std::uint32_t pitch, std::uint32_t flip, std::uint32_t mode);

// Unflipped, 32-bit: colour number 0 leaves the destination pixel as it is; others are written as
// their mode-0 value (top byte 0).
void DecodeTileTransparent(const std::uint8_t* pattern, const std::uint8_t* palette,
                           std::uint8_t* destination, std::uint32_t pitch);

// 32-bit with alpha: colour number 0 is the mode-0 value of palette byte 0 (its colour, alpha 0),
// others the mode-1 value of their colour (alpha 0xFF). An unknown flip writes nothing.
void DecodeTileAlpha(const std::uint8_t* pattern, const std::uint8_t* palette, std::uint8_t* destination,
                     std::uint32_t pitch, std::uint32_t flip);

// Whether this processor runs the vector path. Settled by a feature test at the first call (or
// the first DecodeTile / DecodeTileTransparent) and kept for the life of the process.
bool SimdAvailable();

// The two paths behind DecodeTile and DecodeTileTransparent, for tests and benchmarks. The Simd
// entry points run the plain path when SimdAvailable() is false; both write identical pixels.
void DecodeTilePlain(const std::uint8_t* pattern, const std::uint8_t* palette, std::uint8_t* destination,
                     std::uint32_t pitch, std::uint32_t flip, std::uint32_t mode);
void DecodeTileSimd(const std::uint8_t* pattern, const std::uint8_t* palette, std::uint8_t* destination,
                    std::uint32_t pitch, std::uint32_t flip, std::uint32_t mode);
void DecodeTileTransparentPlain(const std::uint8_t* pattern, const std::uint8_t* palette,
                                std::uint8_t* destination, std::uint32_t pitch);
void DecodeTileTransparentSimd(const std::uint8_t* pattern, const std::uint8_t* palette,
                               std::uint8_t* destination, std::uint32_t pitch);

} // namespace zelvo
