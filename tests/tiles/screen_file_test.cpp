// The screen file: header rules, the payload layouts, and the tiles file it needs beside it.
#include "support/fixtures.h"
#include "support/temp_dir.h"
#include "tiles/screen_file.h"
#include "tiles/tiles_file.h"

#include <gtest/gtest.h>

#include <cstring>

namespace zelvo {
namespace {

using test::DigestMode;
using test::ScreenContent;
using test::ScreenFileOptions;
using test::TempDir;
using test::TilesContent;

class ScreenFileTest : public ::testing::Test {
protected:
  void SetUp() override {
    for (std::uint32_t i = 0; i < 4; ++i) tiles.addPalette(i);
    for (std::uint32_t i = 0; i < 6; ++i) tiles.addPattern(i);
    for (int g = 0; g < kGroupCount; ++g) tiles.addEntry(g, std::uint32_t(g % 4), std::uint32_t(g % 6));
    ASSERT_TRUE(test::writeTilesFixture(dir.file("game.mstiles"), tiles));
  }

  // Writes the screen beside the tiles file and loads it into `screen`.
  bool load(const ScreenContent& content, const ScreenFileOptions& options = {}) {
    const std::string path = dir.file("shot.msscreen");
    return test::writeScreenFixture(path, content, options) && readScreenFile(screen, path);
  }
  bool loadBytes(const std::vector<std::uint8_t>& bytes) {
    const std::string path = dir.file("shot.msscreen");
    return test::writeBytes(path, bytes) && readScreenFile(screen, path);
  }

  TempDir dir;
  TilesContent tiles;
  ScreenFile screen;
};

TEST_F(ScreenFileTest, GridOnlySpritesOnlyBothAndNeither) {
  ScreenContent grid;
  grid.width = 248;
  grid.height = 192;
  grid.setCell(0, 0, tiles, 1, 2, 0x1600);
  grid.setCell(27, 31, tiles, 3, 5, 0x0200);
  grid.addSprite(10, 20, tiles, 0, 1);
  grid.addSprite(11, 21, tiles, 0, 1);
  grid.addSprite(12, 22, tiles, 0, 1);
  grid.spritesFlag = false; // flags 4 with a sprite count of 3: a grid only
  ASSERT_TRUE(load(grid));
  EXPECT_EQ(screen.width(), 248u);
  EXPECT_EQ(screen.height(), 192u);
  EXPECT_EQ(screen.flags(), kScreenFlagDigest | kScreenFlagGrid);
  EXPECT_EQ(screen.spriteCount(), 0u);
  EXPECT_EQ(screen.sprites(), nullptr);
  ASSERT_NE(screen.background(), nullptr);
  const ScreenCell* first = screen.cell(0, 0);
  EXPECT_EQ(std::memcmp(first->palette, tiles.palettes[1].colours, 16), 0);
  EXPECT_EQ(std::memcmp(first->pattern, tiles.patterns[2].planes, 32), 0);
  EXPECT_EQ(first->nameWord, 0x1600);
  EXPECT_EQ(screen.cell(27, 31), screen.background() + 895);
  EXPECT_EQ(screen.cell(27, 31)->nameWord, 0x0200);
  EXPECT_EQ(screen.cell(28, 0), nullptr);
  // The tiles beside it resolve a cell to its entry.
  ASSERT_TRUE(screen.tiles);
  const std::uint32_t palette = findPalette(*screen.tiles, first->palette);
  const std::uint32_t pattern = findPattern(*screen.tiles, first->pattern);
  EXPECT_EQ(palette, 1u);
  EXPECT_EQ(pattern, 2u);
  EXPECT_EQ(findTileEntry(screen.tiles->groups[groupForNameWord(first->nameWord)], palette, pattern),
            kNotFound);
  EXPECT_EQ(findTileEntry(screen.tiles->groups[1], 1, 1), 0u);

  ScreenContent sprites; // flags 8, three sprites: 300 bytes and no grid
  sprites.addSprite(10, 20, tiles, 0, 1);
  sprites.addTallSprite(250, 215, tiles, 1, 2, 3, 4);
  sprites.addSprite(12, 22, tiles, 2, 3);
  ASSERT_TRUE(load(sprites, ScreenFileOptions{}.method(kMethodBZip2)));
  EXPECT_EQ(screen.background(), nullptr);
  EXPECT_EQ(screen.spriteCount(), 3u);
  ASSERT_NE(screen.sprites(), nullptr);
  EXPECT_EQ(reinterpret_cast<const std::uint8_t*>(screen.sprites()),
            reinterpret_cast<const std::uint8_t*>(screen.header()) + 32);
  const SpriteRecord& tall = screen.sprites()[1];
  EXPECT_EQ(tall.x, 250);
  EXPECT_EQ(tall.y, 215);
  EXPECT_EQ(tall.flags, kSpriteTall);
  EXPECT_EQ(std::memcmp(tall.pattern2, tiles.patterns[4].planes, 32), 0);
  EXPECT_EQ(std::memcmp(tall.palette2, tiles.palettes[3].colours, 16), 0);

  ScreenContent both = grid;
  both.spritesFlag.reset();
  ASSERT_TRUE(load(both, ScreenFileOptions{}.method(kMethodDeflate).withExtraBlock()));
  EXPECT_EQ(screen.spriteCount(), 3u);
  EXPECT_EQ(reinterpret_cast<const std::uint8_t*>(screen.sprites()),
            reinterpret_cast<const std::uint8_t*>(screen.background()) + kScreenGridBytes);
  EXPECT_EQ(screen.sprites()[2].x, 12);

  ScreenContent neither; // flags 0, compression 0: an empty payload still loads
  ASSERT_TRUE(load(neither, ScreenFileOptions{}.withDigest(DigestMode::Absent)));
  EXPECT_EQ(screen.flags(), 0u);
  EXPECT_EQ(screen.background(), nullptr);
  EXPECT_EQ(screen.sprites(), nullptr);
  EXPECT_EQ(screen.spriteCount(), 0u);

  freeScreenFile(screen);
  EXPECT_FALSE(screen.loaded());
  EXPECT_FALSE(screen.tiles);
  EXPECT_EQ(screen.width(), 0u);
}

TEST_F(ScreenFileTest, EveryMethodLoadsAndAWrongDigestIsRefused) {
  ScreenContent content;
  for (int r = 0; r < kScreenRows; ++r)
    for (int c = 0; c < kScreenColumns; ++c)
      content.setCell(r, c, tiles, std::uint32_t((r + c) % 4), std::uint32_t(c % 6));
  content.addSprite(1, 2, tiles, 3, 3);
  for (std::uint32_t method : {kMethodStored, kMethodDeflate, kMethodBZip2, kMethodLZMA}) {
    ASSERT_TRUE(load(content, ScreenFileOptions{}.method(method).withTrailing({9, 9, 9}))) << method;
    EXPECT_EQ(std::memcmp(screen.background(), content.cells.data(), kScreenGridBytes), 0) << method;
    EXPECT_EQ(std::memcmp(screen.sprites(), content.sprites.data(), 100), 0) << method;
    EXPECT_FALSE(load(content, ScreenFileOptions{}.method(method).withDigest(DigestMode::Wrong))) << method;
  }
}

TEST_F(ScreenFileTest, HeaderRules) {
  ScreenContent content;
  content.addSprite(1, 1, tiles, 0, 0);
  content.width = 256;
  content.height = 224;
  EXPECT_TRUE(load(content));
  content.width = 257;
  EXPECT_FALSE(load(content));
  content.width = 0;
  content.height = 225;
  EXPECT_FALSE(load(content));
  content.height = 7; // any size up to the limits, multiple of 8 or not
  EXPECT_TRUE(load(content));

  ScreenContent all = content;
  all.setCell(0, 0, tiles, 0, 0);
  EXPECT_TRUE(load(all, ScreenFileOptions{}.withExtraBlock())); // flags 15
  ScreenFileOptions options;
  options.extraFlags = 16;
  EXPECT_FALSE(load(content, options));
  options.extraFlags = 0x80000000u;
  EXPECT_FALSE(load(content, options));
  options = {};
  options.reserved24 = 1;
  EXPECT_FALSE(load(content, options));
  options = {};
  options.reserved28 = 0x100;
  EXPECT_FALSE(load(content, options));
  options = {};
  options.compressionField = 4;
  EXPECT_FALSE(load(ScreenContent{}, options)); // even with nothing to read

  std::vector<std::uint8_t> bytes = test::screenFileBytes(content);
  bytes[0] = 'm';
  EXPECT_FALSE(loadBytes(bytes));
  bytes = test::screenFileBytes(content);
  EXPECT_FALSE(loadBytes(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 31)));
  EXPECT_FALSE(loadBytes(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 40))); // short digest
  EXPECT_FALSE(loadBytes(std::vector<std::uint8_t>(bytes.begin(), bytes.end() - 1)));    // short payload
  EXPECT_TRUE(loadBytes(bytes));
}

TEST_F(ScreenFileTest, SpriteCountsBeyondTheFileAreRefused) {
  ScreenContent content;
  content.addSprite(1, 1, tiles, 0, 0);
  ScreenFileOptions options;
  options.digest = DigestMode::Absent;
  for (std::uint32_t count : {0xFFFFFFFFu, 42949673u /* 4 GB of records */, 2u}) {
    options.spriteCountField = count;
    for (std::uint32_t method : {kMethodStored, kMethodDeflate, kMethodBZip2, kMethodLZMA}) {
      options.compression = method;
      EXPECT_FALSE(load(content, options)) << count << " " << method;
    }
  }
  content.setCell(0, 0, tiles, 0, 0);
  options.spriteCountField = 42949673u - 573u; // with the grid, just over 32 bits
  options.compression = kMethodStored;
  EXPECT_FALSE(load(content, options));
}

TEST_F(ScreenFileTest, NeedsAValidTilesFileBesideItAndKeepsWhatItHeldOnFailure) {
  ScreenContent content;
  content.setCell(3, 4, tiles, 2, 2);
  ASSERT_TRUE(load(content));
  const ScreenCell* grid = screen.background();
  const TileSet* set = screen.tiles.get();

  // Valid screen, but its own folder holds no valid tiles file.
  TempDir other;
  const std::string path = other.file("alone.msscreen");
  ASSERT_TRUE(test::writeScreenFixture(path, ScreenContent{}));
  ASSERT_TRUE(test::writeBytes(other.file("broken.mstiles"), {'M', 'S', 'T', 'I', 'L', 'E', 'S', 0, 9}));
  EXPECT_FALSE(readScreenFile(screen, path));
  EXPECT_EQ(screen.background(), grid);
  EXPECT_EQ(screen.tiles.get(), set);
  EXPECT_EQ(screen.cell(3, 4)->palette[0], tiles.palettes[2].colours[0]);

  // A refused screen leaves both alone too.
  EXPECT_FALSE(load(content, ScreenFileOptions{}.withDigest(DigestMode::Wrong)));
  EXPECT_EQ(screen.background(), grid);
  EXPECT_EQ(screen.tiles.get(), set);

  // With a tiles file added there, it loads and brings that folder's tiles.
  TilesContent own;
  own.addPalette(77);
  ASSERT_TRUE(test::writeTilesFixture(other.file("own.mstiles"), own));
  File file = test::opened(File::openRead(path));
  ASSERT_TRUE(readScreenFile(screen, file, path));
  EXPECT_EQ(screen.tiles->paletteCount, 1u);
  EXPECT_EQ(screen.background(), nullptr);
}

TEST(SpriteClamp, CoordinatesPastTheVisibleAreaAreHeldAtTheEdge) {
  EXPECT_EQ(spriteClampX(0), 0);
  EXPECT_EQ(spriteClampX(248), 248);
  EXPECT_EQ(spriteClampX(249), 248);
  EXPECT_EQ(spriteClampX(255), 248);
  EXPECT_EQ(spriteClampUpperY(214), 214);
  EXPECT_EQ(spriteClampUpperY(215), 216);
  EXPECT_EQ(spriteClampUpperY(255), 216);
  EXPECT_EQ(spriteClampLowerY(206), 206);
  EXPECT_EQ(spriteClampLowerY(207), 216);
  EXPECT_EQ(spriteClampLowerY(214), 216);
}

} // namespace
} // namespace zelvo
