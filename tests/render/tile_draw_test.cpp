// Tile drawing: the lookup of a group entry's palette and pattern, its range checks in order,
// and that the found bytes reach the matching decoder.
#include "render/tile_draw.h"

#include <array>
#include <cstdint>
#include <random>
#include <vector>

#include <gtest/gtest.h>

namespace zelvo {
namespace {

// A set of three palettes and two patterns that do not own their records.
struct Fixture {
  Fixture() {
    std::mt19937 rng(11);
    for (auto& p : palettes)
      for (auto& c : p.colours) c = static_cast<std::uint8_t>(rng());
    for (auto& p : patterns)
      for (auto& b : p.planes) b = static_cast<std::uint8_t>(rng());
    set.palettes = palettes.data();
    set.paletteCount = 3;
    set.patterns = patterns.data();
    set.patternCount = 2;
    const std::uint32_t indexes[4][2] = {{2, 1}, {0, 0}, {3, 0}, {1, 2}};
    for (int i = 0; i < 4; ++i) entries[i] = TileEntry{indexes[i][0], indexes[i][1], 0, 0};
    group.set = &set;
    group.entries = entries.data();
    group.count = 4;
  }
  std::array<PaletteEntry, 3> palettes{};
  std::array<PatternEntry, 2> patterns{};
  std::array<TileEntry, 5> entries{}; // the fifth is valid but beyond the group's count
  TileSet set;
  TileGroup group;
  std::vector<std::uint8_t> canvas = std::vector<std::uint8_t>(8 * 64, 0x5A);
  const std::vector<std::uint8_t> untouched = canvas;
};

// The three operations, each compared with its decoder called on the given bytes.
void expectDrawn(Fixture& f, std::uint32_t index, const PaletteEntry& palette, const PatternEntry& pattern) {
  std::vector<std::uint8_t> expected = f.untouched;
  EXPECT_TRUE(DrawTile(f.group, index, f.canvas.data(), 64, TileFlipH, PixelXbgr32));
  DecodeTile(pattern.planes, palette.colours, expected.data(), 64, TileFlipH, PixelXbgr32);
  EXPECT_EQ(f.canvas, expected);
  EXPECT_TRUE(DrawTileTransparent(f.group, index, f.canvas.data(), 64));
  DecodeTileTransparent(pattern.planes, palette.colours, expected.data(), 64);
  EXPECT_EQ(f.canvas, expected);
  EXPECT_TRUE(DrawTileAlpha(f.group, index, f.canvas.data(), 64, TileFlipV));
  DecodeTileAlpha(pattern.planes, palette.colours, expected.data(), 64, TileFlipV);
  EXPECT_EQ(f.canvas, expected);
}

void expectRefused(Fixture& f, std::uint32_t index) {
  EXPECT_FALSE(DrawTile(f.group, index, f.canvas.data(), 64, TileFlipNone, PixelArgb32));
  EXPECT_FALSE(DrawTileTransparent(f.group, index, f.canvas.data(), 64));
  EXPECT_FALSE(DrawTileAlpha(f.group, index, f.canvas.data(), 64, TileFlipNone));
  EXPECT_EQ(f.canvas, f.untouched);
}

TEST(TileDraw, FoundEntriesReachTheDecoderWithTheirOwnPaletteAndPattern) {
  Fixture f;
  expectDrawn(f, 0, f.palettes[2], f.patterns[1]);
  Fixture g; // entry 1 as the last of a two-entry group
  g.group.count = 2;
  expectDrawn(g, 1, g.palettes[0], g.patterns[0]);
}

TEST(TileDraw, RangeChecksRefuseAndWriteNothing) {
  {
    Fixture f; // palette index equal to the palette count, pattern valid
    expectRefused(f, 2);
  }
  {
    Fixture f; // pattern index equal to the pattern count, palette valid
    expectRefused(f, 3);
  }
  {
    Fixture f; // index equal to the entry count, and far beyond it
    expectRefused(f, 4);
    expectRefused(f, 0xFFFFFFFF);
  }
  {
    Fixture f; // empty group
    f.group.count = 0;
    f.group.entries = nullptr;
    expectRefused(f, 0);
  }
  {
    Fixture f; // tables without storage, whatever their counts say
    f.group.entries = nullptr;
    expectRefused(f, 1);
  }
  {
    Fixture f;
    f.set.palettes = nullptr;
    expectRefused(f, 1);
  }
  {
    Fixture f;
    f.set.patterns = nullptr;
    expectRefused(f, 1);
  }
  {
    Fixture f;
    f.group.set = nullptr;
    expectRefused(f, 1);
  }
}

TEST(TileDraw, UnknownFlipOrModeIsFoundButDrawsNothing) {
  Fixture f;
  EXPECT_TRUE(DrawTile(f.group, 1, f.canvas.data(), 64, 256, PixelArgb32));
  EXPECT_TRUE(DrawTile(f.group, 1, f.canvas.data(), 64, TileFlipNone, 6));
  EXPECT_TRUE(DrawTileAlpha(f.group, 1, f.canvas.data(), 64, 2048));
  EXPECT_EQ(f.canvas, f.untouched);
}

} // namespace
} // namespace zelvo
