// Tile decoding: every path (plain, vector, dispatching) against a slow per-bit reference, in
// buffers whose bytes around the block are random guards that must survive.
#include "render/tile_decode.h"

#include <array>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace zelvo {
namespace {

using Pattern = std::array<std::uint8_t, 32>;
using Palette = std::array<std::uint8_t, 16>;
using DecodeFn = void (*)(const std::uint8_t*, const std::uint8_t*, std::uint8_t*, std::uint32_t,
                          std::uint32_t, std::uint32_t);
using TransparentFn = void (*)(const std::uint8_t*, const std::uint8_t*, std::uint8_t*, std::uint32_t);

const std::pair<const char*, DecodeFn> kDecoders[] = {
    {"plain", DecodeTilePlain}, {"simd", DecodeTileSimd}, {"DecodeTile", DecodeTile}};
const std::pair<const char*, TransparentFn> kTransparentDecoders[] = {
    {"plain", DecodeTileTransparentPlain},
    {"simd", DecodeTileTransparentSimd},
    {"DecodeTileTransparent", DecodeTileTransparent}};
constexpr std::uint32_t kFlips[] = {TileFlipNone, TileFlipH, TileFlipV, TileFlipHV};

// Colour of a Master System colour byte, straight from the level rules.
std::uint32_t referenceColour(std::uint32_t mode, std::uint8_t byte) {
  const std::uint32_t r = byte & 3, g = (byte >> 2) & 3, b = (byte >> 4) & 3;
  const std::uint32_t alpha = (mode == 1 || mode == 3) ? 0xFF000000u : 0;
  if (mode <= 1) return alpha | r * 0x550000u | g * 0x5500u | b * 0x55u;
  if (mode <= 3) return alpha | b * 0x550000u | g * 0x5500u | r * 0x55u;
  if (mode == 4) return (r * 10) << 11 | (g * 20) << 5 | b * 10;
  return (r * 10) << 10 | (g * 10) << 5 | b * 10;
}

int colourNumber(const Pattern& p, int row, int pixel) {
  int n = 0;
  for (int plane = 0; plane < 4; ++plane)
    if (p[4 * row + plane] & (0x80 >> pixel)) n |= 1 << plane;
  return n;
}

// A pattern from colour numbers given row by row, pixel 0 leftmost.
Pattern patternOf(const std::array<std::array<int, 8>, 8>& numbers) {
  Pattern p{};
  for (int row = 0; row < 8; ++row)
    for (int x = 0; x < 8; ++x)
      for (int plane = 0; plane < 4; ++plane)
        if (numbers[row][x] & (1 << plane)) p[4 * row + plane] |= static_cast<std::uint8_t>(0x80 >> x);
  return p;
}

// An 8x8 block at a given pitch, at an odd offset inside random guard bytes.
struct Canvas {
  Canvas(std::uint32_t pitch, std::mt19937& rng) : pitch(pitch), bytes(3 + 8 * std::size_t(pitch) + 40) {
    for (auto& b : bytes) b = static_cast<std::uint8_t>(rng());
  }
  std::uint8_t* block() { return bytes.data() + 3; }
  void put(int row, int x, std::uint32_t value, int size) {
    for (int i = 0; i < size; ++i)
      block()[std::size_t(row) * pitch + x * size + i] = std::uint8_t(value >> 8 * i);
  }
  std::uint32_t get32(int row, int x) {
    const std::uint8_t* p = block() + std::size_t(row) * pitch + 4 * x;
    return p[0] | p[1] << 8 | p[2] << 16 | std::uint32_t(p[3]) << 24;
  }
  std::uint32_t pitch;
  std::vector<std::uint8_t> bytes;
};

::testing::AssertionResult sameBytes(const Canvas& actual, const Canvas& expected) {
  for (std::size_t i = 0; i < actual.bytes.size(); ++i)
    if (actual.bytes[i] != expected.bytes[i])
      return ::testing::AssertionFailure() << "first difference at byte " << i << " (block row "
                                           << (long(i) - 3) / long(actual.pitch) << ")";
  return ::testing::AssertionSuccess();
}

enum class Variant { Opaque, Transparent, Alpha };

// Per pixel, per bit; writes nothing for an unknown flip or mode.
void referenceDecode(Variant variant, const Pattern& pattern, const Palette& palette, Canvas& canvas,
                     std::uint32_t flip, std::uint32_t mode) {
  if ((flip != 0 && flip != 512 && flip != 1024 && flip != 1536) || mode > 5) return;
  for (int row = 0; row < 8; ++row)
    for (int x = 0; x < 8; ++x) {
      const int n = colourNumber(pattern, row, x);
      const int blockRow = (flip & 1024) ? row : 7 - row;
      const int blockX = (flip & 512) ? 7 - x : x;
      if (variant == Variant::Opaque)
        canvas.put(blockRow, blockX, referenceColour(mode, palette[n]), mode >= 4 ? 2 : 4);
      else if (variant == Variant::Alpha)
        canvas.put(blockRow, blockX, n ? referenceColour(1, palette[n]) : referenceColour(0, palette[0]), 4);
      else if (n != 0)
        canvas.put(blockRow, blockX, referenceColour(0, palette[n]), 4);
    }
}

template <std::size_t N> std::array<std::uint8_t, N> randomBytes(std::mt19937& rng) {
  std::array<std::uint8_t, N> a;
  for (auto& b : a) b = static_cast<std::uint8_t>(rng());
  return a;
}

// Every opaque path against the reference for one tile, at a tight, a wide and an odd pitch.
void checkOpaque(const Pattern& pattern, const Palette& palette, std::uint32_t flip, std::uint32_t mode,
                 std::mt19937& rng) {
  const std::uint32_t row = mode >= 4 ? 16 : 32;
  for (std::uint32_t pitch : {row, 1024u, row + 13}) {
    const Canvas before(pitch, rng);
    Canvas expected = before;
    referenceDecode(Variant::Opaque, pattern, palette, expected, flip, mode);
    for (const auto& [name, decode] : kDecoders) {
      Canvas actual = before;
      decode(pattern.data(), palette.data(), actual.block(), pitch, flip, mode);
      ASSERT_TRUE(sameBytes(actual, expected))
          << name << " mode " << mode << " flip " << flip << " pitch " << pitch;
    }
  }
}

TEST(TileDecode, ColourLevelsAndByteOrder) {
  std::mt19937 rng(1);
  const Pattern zero{};
  const std::pair<std::uint32_t, std::uint32_t> whites[] = {{0, 0x00FFFFFF}, {1, 0xFFFFFFFF}, {2, 0x00FFFFFF},
                                                            {3, 0xFFFFFFFF}, {4, 0xF79E},     {5, 0x7BDE}};
  for (auto [mode, white] : whites)
    for (const auto& [name, decode] : kDecoders) {
      Canvas c(32, rng);
      decode(zero.data(), Palette{0x3F}.data(), c.block(), 32, 0, mode);
      for (int row = 0; row < 8; ++row)
        for (int x = 0; x < 8; ++x) {
          const std::uint32_t pixel = mode >= 4
                                          ? c.block()[row * 32 + 2 * x] | c.block()[row * 32 + 2 * x + 1] << 8
                                          : c.get32(row, x);
          ASSERT_EQ(pixel, white) << name << " mode " << mode;
        }
    }
  // Memory order: blue, green, red, alpha in modes 0-1; red, green, blue, alpha in modes 2-3.
  Canvas c(32, rng);
  DecodeTile(zero.data(), Palette{0x30}.data(), c.block(), 32, 0, PixelXrgb32);
  EXPECT_EQ(std::vector<int>(c.block(), c.block() + 4), (std::vector<int>{0xFF, 0, 0, 0}));
  DecodeTile(zero.data(), Palette{0x30}.data(), c.block(), 32, 0, PixelAbgr32);
  EXPECT_EQ(std::vector<int>(c.block(), c.block() + 4), (std::vector<int>{0, 0, 0xFF, 0xFF}));
  // Bits 6 and 7 of a colour byte are ignored.
  EXPECT_EQ(TileColourTable[0][0x41], 0x00550000u);
  for (std::uint32_t mode = 0; mode < 6; ++mode)
    for (std::uint32_t byte = 0; byte < 256; ++byte)
      ASSERT_EQ(TileColourTable[mode][byte], referenceColour(mode, std::uint8_t(byte)))
          << mode << " " << byte;
}

TEST(TileDecode, EveryPathMatchesReferenceOnRandomTiles) {
  std::mt19937 rng(2);
  for (std::uint32_t mode = 0; mode < 6; ++mode)
    for (std::uint32_t flip : kFlips)
      for (int i = 0; i < 150; ++i) checkOpaque(randomBytes<32>(rng), randomBytes<16>(rng), flip, mode, rng);
}

TEST(TileDecode, EveryColourByteInEveryModeAndFlip) {
  std::mt19937 rng(3);
  std::array<std::array<int, 8>, 8> numbers;
  for (int row = 0; row < 8; ++row)
    for (int x = 0; x < 8; ++x) numbers[row][x] = (x + 8 * row) % 16;
  const Pattern pattern = patternOf(numbers);
  for (int first = 0; first < 256; first += 16) {
    Palette palette;
    for (int c = 0; c < 16; ++c) palette[c] = std::uint8_t(first + c);
    for (std::uint32_t mode = 0; mode < 6; ++mode)
      for (std::uint32_t flip : kFlips) checkOpaque(pattern, palette, flip, mode, rng);
  }
}

TEST(TileDecode, SinglePixelLandsWhereTheFlipSays) {
  std::mt19937 rng(4);
  struct Case {
    std::uint32_t flip;
    int row, x;
  };
  const Case cases[] = {{TileFlipNone, 7, 0}, {TileFlipH, 7, 7}, {TileFlipV, 0, 0}, {TileFlipHV, 0, 7}};
  const Palette palette{0x00, 0x3F, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x03};
  for (std::uint8_t planes : {1, 15}) { // plane 0 only: colour 1; all four planes: colour 15
    Pattern pattern{};
    for (int k = 0; k < 4; ++k) pattern[k] = (planes >> k & 1) ? 0x80 : 0;
    const std::uint32_t spot = planes == 1 ? 0xFFFFFFFF : 0xFFFF0000;
    for (const Case& k : cases) {
      for (const auto& [name, decode] : kDecoders) {
        Canvas c(32, rng);
        decode(pattern.data(), palette.data(), c.block(), 32, k.flip, PixelArgb32);
        for (int row = 0; row < 8; ++row)
          for (int x = 0; x < 8; ++x)
            ASSERT_EQ(c.get32(row, x), row == k.row && x == k.x ? spot : 0xFF000000u)
                << name << " flip " << k.flip;
      }
      Canvas c(32, rng);
      DecodeTileAlpha(pattern.data(), palette.data(), c.block(), 32, k.flip);
      for (int row = 0; row < 8; ++row)
        for (int x = 0; x < 8; ++x)
          ASSERT_EQ(c.get32(row, x), row == k.row && x == k.x ? spot : 0u) << "alpha flip " << k.flip;
    }
  }
}

TEST(TileDecode, UnknownFlipOrModeWritesNothing) {
  std::mt19937 rng(5);
  const Pattern pattern = randomBytes<32>(rng);
  const Palette palette = randomBytes<16>(rng);
  const Canvas before(32, rng);
  for (std::uint32_t flip : {256u, 2048u, 1u, 0x601u, 0xFFFFFFFFu}) {
    for (const auto& [name, decode] : kDecoders) {
      Canvas c = before;
      decode(pattern.data(), palette.data(), c.block(), 32, flip, PixelArgb32);
      EXPECT_TRUE(sameBytes(c, before)) << name << " flip " << flip;
    }
    Canvas c = before;
    DecodeTileAlpha(pattern.data(), palette.data(), c.block(), 32, flip);
    EXPECT_TRUE(sameBytes(c, before)) << "alpha flip " << flip;
  }
  for (std::uint32_t mode : {6u, 7u, 0xFFFFFFFFu})
    for (const auto& [name, decode] : kDecoders) {
      Canvas c = before;
      decode(pattern.data(), palette.data(), c.block(), 32, TileFlipNone, mode);
      EXPECT_TRUE(sameBytes(c, before)) << name << " mode " << mode;
    }
}

TEST(TileDecode, TransparentSkipsColourZero) {
  std::mt19937 rng(6);
  Palette palette = randomBytes<16>(rng);
  palette[15] = 0x6A; // bit 6 set: ignored
  Pattern ones;
  ones.fill(0xFF);
  for (const auto& [name, decode] : kTransparentDecoders) {
    const Canvas before(1024, rng);
    Canvas c = before;
    decode(Pattern{}.data(), palette.data(), c.block(), 1024);
    EXPECT_TRUE(sameBytes(c, before)) << name << ": all-zero pattern writes nothing";
    decode(ones.data(), palette.data(), c.block(), 1024);
    for (int row = 0; row < 8; ++row)
      for (int x = 0; x < 8; ++x) ASSERT_EQ(c.get32(row, x), 0x00AAAAAAu) << name;
    for (int i = 0; i < 500; ++i) {
      const Pattern pattern = randomBytes<32>(rng);
      const Palette colours = randomBytes<16>(rng);
      for (std::uint32_t pitch : {32u, 45u, 1024u}) {
        Canvas expected(pitch, rng);
        Canvas actual = expected;
        decode(pattern.data(), colours.data(), actual.block(), pitch);
        referenceDecode(Variant::Transparent, pattern, colours, expected, 0, 0);
        ASSERT_TRUE(sameBytes(actual, expected)) << name << " pitch " << pitch;
      }
    }
  }
}

TEST(TileDecode, AlphaGivesColourZeroItsPaletteColourWithAlphaZero) {
  std::mt19937 rng(7);
  Canvas c(32, rng);
  DecodeTileAlpha(Pattern{}.data(), Palette{0x03}.data(), c.block(), 32, TileFlipNone);
  for (int row = 0; row < 8; ++row)
    for (int x = 0; x < 8; ++x) ASSERT_EQ(c.get32(row, x), 0x00FF0000u);
  for (std::uint32_t flip : kFlips)
    for (int i = 0; i < 300; ++i) {
      const Pattern pattern = randomBytes<32>(rng);
      const Palette palette = randomBytes<16>(rng);
      Canvas expected(45, rng);
      Canvas actual = expected;
      DecodeTileAlpha(pattern.data(), palette.data(), actual.block(), 45, flip);
      referenceDecode(Variant::Alpha, pattern, palette, expected, flip, 0);
      ASSERT_TRUE(sameBytes(actual, expected)) << "flip " << flip;
    }
}

#if defined(__x86_64__) || defined(_M_X64)
TEST(TileDecode, VectorPathIsChosenOnX86) { EXPECT_TRUE(SimdAvailable()); }
#endif

} // namespace
} // namespace zelvo
