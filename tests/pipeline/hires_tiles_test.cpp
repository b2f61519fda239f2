#include "pipeline/hires_tiles.h"

#include "support/fixtures.h"
#include "support/screen_pictures.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace zelvo {
namespace {

using test::TilesContent;
using Pixels = std::vector<std::uint32_t>; // a square tile, top row first

// --- References: the tile drawn from the tile format (tests/support), enlarged by the one
// enlargement routine (checked against slow references in the render tests) ---

// The 8x8 tile as shown on screen for the group's flip and kind, top row first.
Pixels shownTile(const PatternEntry& pattern, const PaletteEntry& palette, int group) {
  const std::uint32_t flip =
      group < kSpriteGroup ? (group & 1 ? test::kFlipH : 0) | (group & 2 ? test::kFlipV : 0) : 0;
  return test::drawnTile(palette, pattern, flip, group < 4 ? test::Ink::Opaque : test::Ink::Alpha).pixels;
}

Pixels enlarged(const Pixels& tile, std::uint32_t scale) {
  test::Picture square(8, 8);
  square.pixels = tile;
  return test::enlarged(square, int(scale)).pixels;
}

// The duplicate marking loop exactly as the build describes it (quadratic).
std::vector<std::uint32_t> quadraticDuplicates(const TileEntry* entries, const std::uint8_t* blocks,
                                               std::uint32_t n) {
  std::vector<std::uint32_t> out(n, kOwnTile);
  for (std::uint32_t i = 0; i + 1 < n; ++i) {
    if (out[i] != kOwnTile) continue;
    for (std::uint32_t j = i + 1; j < n; ++j) {
      if (entries[j].patternIndex == entries[i].patternIndex &&
          std::memcmp(blocks + 256 * j, blocks + 256 * i, 256) == 0)
        out[j] = i;
    }
  }
  return out;
}

// --- Fixture: TMPDIR points at a folder of the test, which must hold no "TMP" file afterwards ---

class HiResTilesTest : public ::testing::Test {
protected:
  void TearDown() override {
    table.reset();
    EXPECT_EQ(test::countTmpFiles(dir.path()), 0u);
  }

  void generate(const TilesContent& recipe, std::uint32_t scale) {
    tiles = test::makeTileSet(recipe);
    table = std::make_unique<HiResTileTable>();
    ASSERT_TRUE(generateHiResTiles(*table, *tiles, scale));
  }

  Pixels tileAt(std::uint32_t offset) const {
    Pixels p(table->tileBytes / 4);
    EXPECT_TRUE(table->tempFile.seek(offset));
    EXPECT_TRUE(table->tempFile.readExact(p.data(), table->tileBytes));
    return p;
  }
  std::uint32_t offsetOf(int group, std::uint32_t index) const {
    std::uint32_t offset = kOwnTile;
    EXPECT_TRUE(hiResTileOffset(*table, group, index, offset));
    return offset;
  }
  Pixels tileOf(int group, std::uint32_t index) const { return tileAt(offsetOf(group, index)); }

  static PaletteEntry paletteOf(std::initializer_list<std::uint8_t> colours) {
    PaletteEntry p{};
    std::copy(colours.begin(), colours.end(), p.colours);
    return p;
  }

  test::TempDir dir;
  test::ScopedTmpDir tmpDir{dir.path()};
  TilesContent recipe;
  std::unique_ptr<TileSet> tiles;
  std::unique_ptr<HiResTileTable> table;
};

// A random set with every group filled and many entries sharing patterns and palettes, some of
// them drawing the same pixels through palettes that differ only in unused colours.
TilesContent randomRecipe(std::mt19937& random, int perGroup) {
  TilesContent recipe;
  for (int p = 0; p < 6; ++p) {
    PaletteEntry palette{};
    for (auto& c : palette.colours) c = std::uint8_t(random() % 64);
    recipe.palettes.push_back(palette);
  }
  // Copies of palette 0 that differ only in colours 8 to 15 (unused by patterns 0 and 1).
  for (int p = 0; p < 2; ++p) {
    PaletteEntry palette = recipe.palettes[0];
    for (int c = 8; c < 16; ++c) palette.colours[c] = std::uint8_t(random() % 64);
    recipe.palettes.push_back(palette);
  }
  for (int p = 0; p < 5; ++p) {
    PatternEntry pattern{};
    for (int i = 0; i < 32; ++i) {
      // Patterns 0 and 1 use colours 0 to 7 only (plane 3 clear); pattern 4 is a single colour.
      pattern.planes[i] = p == 4 ? 0 : (p < 2 && i % 4 == 3) ? 0 : std::uint8_t(random());
    }
    recipe.patterns.push_back(pattern);
  }
  for (int g = 0; g < kGroupCount; ++g) {
    for (int i = 0; i < perGroup; ++i) recipe.addEntry(g, random() % 8, random() % 5);
  }
  return recipe;
}

TEST_F(HiResTilesTest, EveryEntryGetsTheEnlargementOfItsShownTileAndDuplicatesShareAtEveryScale) {
  std::mt19937 random(11);
  recipe = randomRecipe(random, 40);
  for (std::uint32_t scale = 1; scale <= 4; ++scale) {
    SCOPED_TRACE(scale);
    generate(recipe, scale);
    ASSERT_EQ(table->scale, scale);
    ASSERT_EQ(table->tileBytes, 256 * scale * scale);
    ASSERT_EQ(table->entryCount, 9u * 40u);

    // Expected offsets: per group, the quadratic reference over the reference pixels; every entry
    // with a tile of its own takes the next tile of the file.
    std::vector<std::uint32_t> expected;
    std::uint32_t tilesSoFar = 0;
    for (int g = 0; g < kGroupCount; ++g) {
      EXPECT_EQ(table->groupCounts[g], 40u);
      EXPECT_EQ(hiResGroupStart(*table, g), std::uint32_t(40 * g));
      const auto& entries = recipe.groups[g];
      std::vector<std::uint8_t> blocks(256 * entries.size());
      for (std::size_t i = 0; i < entries.size(); ++i) {
        const Pixels shown =
            shownTile(recipe.patterns[entries[i].patternIndex], recipe.palettes[entries[i].paletteIndex], g);
        std::memcpy(blocks.data() + 256 * i, shown.data(), 256);
      }
      const auto marks = quadraticDuplicates(entries.data(), blocks.data(), std::uint32_t(entries.size()));
      const std::size_t first = expected.size();
      for (std::size_t i = 0; i < entries.size(); ++i)
        expected.push_back(marks[i] == kOwnTile ? table->tileBytes * tilesSoFar++
                                                : expected[first + marks[i]]);

      for (std::uint32_t i = 0; i < entries.size(); ++i) {
        const Pixels shown =
            shownTile(recipe.patterns[entries[i].patternIndex], recipe.palettes[entries[i].paletteIndex], g);
        ASSERT_EQ(tileOf(g, i), enlarged(shown, scale)) << "group " << g << " entry " << i;
      }
    }
    EXPECT_EQ(table->tileCount, tilesSoFar);
    EXPECT_LT(table->tileCount, table->entryCount);
    EXPECT_EQ(
        std::vector<std::uint32_t>(table->entryOffsets.get(), table->entryOffsets.get() + table->entryCount),
        expected);
    std::uint64_t size = 0;
    ASSERT_TRUE(test::into(table->tempFile.size(), size));
    EXPECT_EQ(size, std::uint64_t(table->tileCount) * table->tileBytes);
    EXPECT_EQ(test::countTmpFiles(dir.path()), 0u);
  }
}

TEST_F(HiResTilesTest, SharingFollowsPatternAndDrawnPixelsWithinOneGroupOnly) {
  PatternEntry plain{};  // colour 0 everywhere
  PatternEntry stripe{}; // colour 1 in the top row
  stripe.planes[0] = 0xFF;
  recipe.patterns = {plain, stripe, plain}; // 0 and 2: different patterns, same pixels
  recipe.palettes = {paletteOf({0x03, 0x0C}), paletteOf({0x03, 0x30}), paletteOf({0x03, 0x0C, 0x3F})};

  recipe.addEntry(0, 0, 0); // red
  recipe.addEntry(0, 0, 0); // same palette and pattern: shares
  recipe.addEntry(0, 1, 0); // palette differs only in colour 1, which pattern 0 does not use: shares
  recipe.addEntry(0, 0, 2); // another pattern drawing the same red: a tile of its own
  recipe.addEntry(0, 1, 1); // blue stripe: a tile of its own
  recipe.addEntry(0, 2, 1); // green stripe: a tile of its own
  recipe.addEntry(0, 0, 1); // palette differs from the last one only in the unused colour 2: shares
  recipe.addEntry(0, 2, 1); // shares
  recipe.addEntry(4, 0, 0); // as entry 0, in group 4: a tile of its own, transparent
  generate(recipe, 2);

  const std::uint32_t b = table->tileBytes;
  const std::vector<std::uint32_t> offsets(table->entryOffsets.get(), table->entryOffsets.get() + 9);
  EXPECT_EQ(offsets, (std::vector<std::uint32_t>{0, 0, 0, b, 2 * b, 3 * b, 3 * b, 3 * b, 4 * b}));
  EXPECT_EQ(table->tileCount, 5u);

  // Group 0 is opaque red; group 4 keeps red in the colour bytes with alpha 0.
  EXPECT_EQ(tileOf(0, 0), Pixels(256, 0xFFFF0000u));
  EXPECT_EQ(tileOf(4, 0), Pixels(256, 0x00FF0000u));
}

TEST_F(HiResTilesTest, HorizontalFlipMirrorsEachRowAndVerticalFlipReversesTheRows) {
  std::mt19937 random(3);
  PatternEntry pattern{};
  for (auto& b : pattern.planes) b = std::uint8_t(random());
  recipe.patterns = {pattern};
  recipe.palettes = {paletteOf({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16})};
  for (int g = 0; g < 4; ++g) recipe.addEntry(g, 0, 0);
  generate(recipe, 1);

  const Pixels plain = tileOf(0, 0), h = tileOf(1, 0), v = tileOf(2, 0), hv = tileOf(3, 0);
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 8; ++x) {
      EXPECT_EQ(h[y * 8 + x], plain[y * 8 + 7 - x]);
      EXPECT_EQ(v[y * 8 + x], plain[(7 - y) * 8 + x]);
      EXPECT_EQ(hv[y * 8 + x], plain[(7 - y) * 8 + 7 - x]);
    }
  }
  EXPECT_NE(h, plain);
}

TEST_F(HiResTilesTest, SingleColourStaysFlatAndALonePixelInACornerFollowsThePixelArtRule) {
  PatternEntry flat{};
  PatternEntry corner{};
  corner.planes[0] = 0x80; // colour 1 at the top-left pixel
  recipe.patterns = {flat, corner};
  recipe.palettes = {paletteOf({0x3F, 0x03})};
  recipe.addEntry(0, 0, 0);
  recipe.addEntry(0, 0, 1);
  const std::uint32_t white = 0xFFFFFFFFu, red = 0xFFFF0000u;

  for (std::uint32_t scale : {2u, 4u}) {
    SCOPED_TRACE(scale);
    generate(recipe, scale);
    const int edge = int(8 * scale);
    EXPECT_EQ(tileOf(0, 0), Pixels(std::size_t(edge) * edge, white));

    Pixels shown(64, white);
    shown[0] = red;
    const Pixels tile = tileOf(0, 1);
    EXPECT_EQ(tile, enlarged(shown, scale));
    // Beyond the edges the corner pixel is its own neighbour, so the rule cuts the square's inner
    // corner: worked out by hand, red where 'R'.
    const std::vector<std::string> two = {"RR", "R."};
    const std::vector<std::string> four = {"RRRR", "RRR.", "RRR.", "R..."};
    const auto& shape = scale == 2 ? two : four;
    for (int y = 0; y < edge; ++y) {
      for (int x = 0; x < edge; ++x) {
        const bool isRed = y < int(shape.size()) && x < int(shape.size()) && shape[y][x] == 'R';
        ASSERT_EQ(tile[y * edge + x], isRed ? red : white) << x << "," << y;
      }
    }
  }
}

TEST_F(HiResTilesTest, EntriesOutsideTheTablesGetAClearTileAndStillShare) {
  PatternEntry pattern{};
  for (auto& b : pattern.planes) b = 0xFF;
  recipe.patterns = {pattern};
  recipe.palettes = {paletteOf({0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x3F})};
  recipe.addEntry(0, 0, 0); // white, opaque
  recipe.addEntry(4, 0, 7); // pattern out of range, at the place of the white tile of group 0
  recipe.addEntry(4, 9, 7); // palette and pattern out of range: same pattern index, same (clear) pixels
  generate(recipe, 1);

  EXPECT_EQ(table->tileCount, 2u);
  EXPECT_EQ(offsetOf(4, 0), offsetOf(4, 1));
  EXPECT_EQ(tileOf(4, 0), Pixels(64, 0u));
}

TEST_F(HiResTilesTest, FailuresLeaveTheTableAsItWas) {
  recipe.patterns.resize(2);
  recipe.patterns[1].planes[5] = 0x44;
  recipe.palettes = {paletteOf({0x01, 0x02, 0x03, 0x04})};
  recipe.addEntry(0, 0, 0);
  recipe.addEntry(0, 0, 1);
  recipe.addEntry(kSpriteGroup, 0, 1);
  generate(recipe, 3);
  const std::vector<std::uint32_t> offsets(table->entryOffsets.get(), table->entryOffsets.get() + 3);
  const Pixels sprite = tileOf(kSpriteGroup, 0);

  auto empty = createTileSet();
  for (std::uint32_t scale : {0u, 5u, 256u}) EXPECT_FALSE(generateHiResTiles(*table, *tiles, scale));
  EXPECT_FALSE(generateHiResTiles(*table, *empty, 2));

  EXPECT_EQ(table->scale, 3u);
  EXPECT_EQ(table->tileBytes, 2304u);
  EXPECT_EQ(table->entryCount, 3u);
  EXPECT_EQ(table->tileCount, 3u);
  EXPECT_EQ(table->groupCounts[0], 2u);
  EXPECT_EQ(table->groupCounts[kSpriteGroup], 1u);
  EXPECT_EQ(std::vector<std::uint32_t>(table->entryOffsets.get(), table->entryOffsets.get() + 3), offsets);
  EXPECT_EQ(tileOf(kSpriteGroup, 0), sprite);

  // A fresh table stays empty after a failure.
  HiResTileTable fresh;
  EXPECT_FALSE(generateHiResTiles(fresh, *empty, 1));
  EXPECT_FALSE(fresh.tempFile.isOpen());
  EXPECT_FALSE(fresh.entryOffsets);
  EXPECT_EQ(fresh.scale, 0u);
  std::uint32_t offset = 0;
  EXPECT_FALSE(hiResTileOffset(fresh, 0, 0, offset));

  // A second generation replaces everything.
  ASSERT_TRUE(generateHiResTiles(*table, *tiles, 1));
  EXPECT_EQ(table->tileBytes, 256u);
  std::uint64_t size = 0;
  ASSERT_TRUE(test::into(table->tempFile.size(), size));
  EXPECT_EQ(size, 3u * 256u);
}

TEST_F(HiResTilesTest, TileLookupChecksGroupAndIndexAndReportsProgress) {
  struct Recorder : ProgressSink {
    void progress(ProgressStage stage, std::uint64_t done, std::uint64_t total) override {
      EXPECT_EQ(stage, ProgressStage::GeneratingTiles);
      EXPECT_GE(done, last);
      last = done;
      lastTotal = total;
      ++calls;
    }
    std::uint64_t last = 0, lastTotal = 0;
    int calls = 0;
  } recorder;

  recipe.patterns.resize(3000);
  for (std::uint32_t i = 0; i < 3000; ++i) recipe.patterns[i].planes[i % 32] = std::uint8_t(1 + i / 32);
  recipe.palettes = {paletteOf({0x01, 0x02, 0x03, 0x04})};
  for (std::uint32_t i = 0; i < 3000; ++i) recipe.addEntry(i % 2 ? 2 : kSpriteGroup, 0, i);
  tiles = test::makeTileSet(recipe);
  table = std::make_unique<HiResTileTable>();
  ASSERT_TRUE(generateHiResTiles(*table, *tiles, 1, &recorder));
  EXPECT_EQ(recorder.last, 3000u);
  EXPECT_EQ(recorder.lastTotal, 3000u);
  EXPECT_GT(recorder.calls, 2);

  std::uint32_t offset = 0;
  EXPECT_TRUE(hiResTileOffset(*table, 2, 1499, offset));
  EXPECT_EQ(offset, 1499u * 256u);
  EXPECT_TRUE(hiResTileOffset(*table, kSpriteGroup, 0, offset));
  EXPECT_EQ(offset, 1500u * 256u);
  EXPECT_FALSE(hiResTileOffset(*table, 2, 1500, offset));
  EXPECT_FALSE(hiResTileOffset(*table, 0, 0, offset));
  EXPECT_FALSE(hiResTileOffset(*table, -1, 0, offset));
  EXPECT_FALSE(hiResTileOffset(*table, kGroupCount, 0, offset));
}

TEST(MarkDuplicateTiles, EqualsTheQuadraticLoopOnRandomGroups) {
  std::mt19937 random(5);
  for (int round = 0; round < 300; ++round) {
    const std::uint32_t n = random() % 400;
    const std::uint32_t patterns = 1 + random() % 12;
    const std::uint32_t looks = 1 + random() % 10; // distinct pixel blocks to draw from
    std::vector<std::vector<std::uint8_t>> look(looks, std::vector<std::uint8_t>(256));
    for (auto& l : look)
      for (auto& b : l) b = std::uint8_t(random() % 3);
    // Blocks that differ in one byte only, to catch a comparison that stops early.
    if (looks > 1) {
      look[1] = look[0];
      look[1][255] ^= 1;
    }
    std::vector<TileEntry> entries(n);
    std::vector<std::uint8_t> blocks(256 * std::size_t(n));
    for (std::uint32_t i = 0; i < n; ++i) {
      entries[i].patternIndex = random() % patterns;
      entries[i].paletteIndex = random() % 5;
      std::memcpy(blocks.data() + 256 * i, look[random() % looks].data(), 256);
    }
    std::vector<std::uint32_t> fast(n, 12345);
    ASSERT_TRUE(markDuplicateTiles(entries.data(), blocks.data(), n, fast.data()));
    ASSERT_EQ(fast, quadraticDuplicates(entries.data(), blocks.data(), n)) << "round " << round;
  }
}

} // namespace
} // namespace zelvo
