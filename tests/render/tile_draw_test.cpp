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
  struct Case {
    const char* what;
    std::uint32_t index;
    void (*spoil)(Fixture&);
  };
  const Case cases[] = {
      {"palette index equal to the palette count, pattern valid", 2, [](Fixture&) {}},
      {"pattern index equal to the pattern count, palette valid", 3, [](Fixture&) {}},
      {"index equal to the entry count", 4, [](Fixture&) {}},
      {"index far beyond the entry count", 0xFFFFFFFF, [](Fixture&) {}},
      {"empty group", 0,
       [](Fixture& f) {
         f.group = TileGroup{&f.set, nullptr, 0, 0, GroupKind::Sprite};
       }},
      {"no entry storage", 1, [](Fixture& f) { f.group.entries = nullptr; }},
      {"no palette storage", 1, [](Fixture& f) { f.set.palettes = nullptr; }},
      {"no pattern storage", 1, [](Fixture& f) { f.set.patterns = nullptr; }},
      {"no set", 1, [](Fixture& f) { f.group.set = nullptr; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Fixture f;
    c.spoil(f);
    expectRefused(f, c.index);
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
