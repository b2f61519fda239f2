// The screen renderer against a slow drawing made pixel by pixel from the pattern bits, in both
// modes and at every factor, plus the placements and clamps one can check by eye.
#include "viewer/screen_render.h"

#include "support/screen_pictures.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

namespace zelvo {
namespace {

using test::Picture;
using test::ScreenContent;

class ScreenRenderTest : public ::testing::Test {
protected:
  void SetUp() override { ASSERT_TRUE(test::writeTilesFixture(dir.file("game.mstiles"), tiles)); }

  std::unique_ptr<ScreenFile> load(const ScreenContent& content) {
    const std::string path = dir.file("s" + std::to_string(++screens) + ".msscreen");
    EXPECT_TRUE(test::writeScreenFixture(path, content));
    auto screen = std::make_unique<ScreenFile>();
    EXPECT_TRUE(readScreenFile(*screen, path));
    return screen;
  }

  // Sprites at the edges, overlapping, clamped, too low to fit, and some that do not resolve.
  ScreenContent spriteScreen() const {
    ScreenContent s;
    s.addSprite(0, 0, tiles, 0, 1);                      // lines 1 to 8
    s.addSprite(250, 100, tiles, 1, 4);                  // x taken as 248
    s.addTallSprite(248, 30, tiles, 2, 5, 3, 0);         // both tiles at the right edge
    s.addTallSprite(20, 210, tiles, 0, 1, 1, 4);         // the lower tile would not fit
    s.addTallSprite(40, 206, tiles, 2, 5, 0, 1);         // the lower tile on lines 215 to 222
    s.addSprite(60, 215, tiles, 3, 0);                   // taken as 216: does not fit
    s.addSprite(70, 255, tiles, 3, 0);                   // likewise
    s.addSprite(100, 100, tiles, 1, 4);                  // covered in part by the next one
    s.addSprite(104, 104, tiles, 2, 5);                  //
    s.addTallSprite(120, 120, tiles, 0, 0, 3, 0);        // (0, 0) is no sprite entry: lower tile only
    s.addTallSprite(140, 60, tiles, 0, 1, 1, 4);         //
    s.sprites.back().flags = std::uint8_t(~kSpriteTall); // every other bit: no lower tile
    s.addSprite(160, 160, test::makePalette(999), tiles.patterns[1]); // unknown palette
    return s;
  }

  test::TempDir dir;
  test::TilesContent tiles = test::viewerTiles();
  int screens = 0;
};

TEST_F(ScreenRenderTest, BackgroundIsEveryCellDrawnAndEnlargedOnItsOwn) {
  const ScreenContent content = test::backgroundScreen(tiles);
  auto screen = load(content);
  for (bool transparent : {false, true})
    for (int factor = 1; factor <= 4; ++factor) {
      Result<RgbaImage> image = renderBackground(*screen, transparent, factor);
      ASSERT_TRUE(image);
      EXPECT_EQ(test::difference(test::pictureOf(*image),
                                 test::expectedBackground(tiles, content, transparent, factor)),
                "")
          << (transparent ? "transparent" : "opaque") << " at " << factor << "x";
    }
}

TEST_F(ScreenRenderTest, GridRowsAndColumnsStartEightTimesTheFactorApart) {
  ScreenContent content;
  content.setCell(5, 7, tiles, 0, 0); // group 0: opaque throughout in the transparent mode
  auto screen = load(content);
  Result<RgbaImage> image = renderBackground(*screen, true, 3);
  ASSERT_TRUE(image);
  const Picture p = test::pictureOf(*image);
  for (int y = 0; y < p.height; ++y)
    for (int x = 0; x < p.width; ++x) {
      const bool inCell = x >= 24 * 7 && x < 24 * 8 && y >= 24 * 5 && y < 24 * 6;
      ASSERT_EQ(p.at(x, y) >> 24, inCell ? 255u : 0u) << x << ", " << y;
    }
}

TEST_F(ScreenRenderTest, NarrowOrShortScreensShowTheRightHandColumnsAndTopRows) {
  struct Case {
    std::uint16_t width, height;
  };
  // 248 x 192: the grid's column 1 is the image's left edge.
  for (const Case c : {Case{248, 192}, Case{248, 224}, Case{256, 192}, Case{250, 100}, Case{8, 8}}) {
    const ScreenContent content = test::backgroundScreen(tiles, c.width, c.height);
    auto screen = load(content);
    for (int factor : {1, 2}) {
      Result<RgbaImage> image = renderBackground(*screen, true, factor);
      ASSERT_TRUE(image);
      const Picture whole = test::expectedBackground(tiles, content, true, factor);
      EXPECT_EQ(test::difference(test::pictureOf(*image), test::cut(whole, (256 - c.width) * factor, 0,
                                                                    c.width * factor, c.height * factor)),
                "")
          << c.width << " x " << c.height << " at " << factor << "x";
    }
  }
}

TEST_F(ScreenRenderTest, CellsWithoutEntryStayBlack) {
  ScreenContent content;
  content.setCell(0, 0, tiles, 0, 0);
  content.setCell(0, 1, test::makePalette(999), tiles.patterns[0]); // palette not in the tiles file
  content.setCell(0, 2, tiles, 0, 0, test::kFlipH);                 // (0, 0) is no entry of group 1
  content.setCell(0, 3, tiles, 0, 2, test::kFlipH | test::kFlipV);  // nor is (0, 2) one of group 3
  auto screen = load(content);
  for (bool transparent : {false, true})
    for (int factor : {1, 2, 4}) {
      Result<RgbaImage> image = renderBackground(*screen, transparent, factor);
      ASSERT_TRUE(image);
      const Picture p = test::pictureOf(*image);
      const int edge = 8 * factor;
      const Picture black(3 * edge, edge, transparent ? 0 : 0xFF000000u); // with alpha 0 when transparent
      EXPECT_EQ(test::difference(test::cut(p, edge, 0, 3 * edge, edge), black), "")
          << transparent << " " << factor;
      EXPECT_NE(test::difference(test::cut(p, 0, 0, edge, edge), test::cut(black, 0, 0, edge, edge)), "");
    }
}

TEST_F(ScreenRenderTest, OnlyPriorityCellsLetColourZeroThroughWhenTransparent) {
  ScreenContent content;
  content.setCell(0, 0, tiles, 0, 0);                  // group 0
  content.setCell(0, 1, tiles, 0, 0, test::kPriority); // group 4, the same palette and pattern
  auto screen = load(content);
  Result<RgbaImage> transparent = renderBackground(*screen, true, 1),
                    opaque = renderBackground(*screen, false, 1);
  ASSERT_TRUE(transparent && opaque);
  const Picture t = test::pictureOf(*transparent), o = test::pictureOf(*opaque);
  int zeros = 0;
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) {
      const bool colourZero = test::colourNumber(tiles.patterns[0], y, x) == 0;
      zeros += colourZero;
      EXPECT_EQ(t.at(x, y) >> 24, 255u);
      EXPECT_EQ(t.at(8 + x, y) >> 24, colourZero ? 0u : 255u);
      EXPECT_EQ(t.at(8 + x, y) & 0xFFFFFF, t.at(x, y) & 0xFFFFFF); // the colour is kept
      EXPECT_EQ(o.at(x, y) >> 24, 255u);                           // the viewer's picture is opaque
      EXPECT_EQ(o.at(8 + x, y) >> 24, 255u);
    }
  EXPECT_GT(zeros, 4);
}

TEST_F(ScreenRenderTest, SpritesAreDrawnInOrderAtTheirClampedPlaces) {
  const ScreenContent content = spriteScreen();
  auto screen = load(content);
  for (bool transparent : {false, true})
    for (int factor = 1; factor <= 4; ++factor) {
      Result<RgbaImage> image = renderSprites(*screen, transparent, 0x123456, factor);
      ASSERT_TRUE(image);
      EXPECT_EQ(test::difference(test::pictureOf(*image),
                                 test::expectedSprites(tiles, content, transparent, 0x123456, factor)),
                "")
          << (transparent ? "transparent" : "opaque") << " at " << factor << "x";
    }
}

TEST_F(ScreenRenderTest, TallSpriteAtLine210DrawsOnlyItsUpperTile) {
  ScreenContent content;
  content.addTallSprite(20, 210, tiles, 0, 1, 1, 4);
  auto screen = load(content);
  for (int factor : {1, 2}) {
    Result<RgbaImage> image = renderSprites(*screen, true, 0, factor);
    ASSERT_TRUE(image);
    const Picture p = test::pictureOf(*image);
    const int edge = 8 * factor, top = 210 * factor + 1;
    Picture expected(p.width, p.height);
    test::paste(
        expected,
        test::enlarged(test::drawnTile(tiles.palettes[0], tiles.patterns[1], 0, test::Ink::Alpha), factor),
        20 * factor, top);
    EXPECT_EQ(test::difference(p, expected), "") << factor;
    EXPECT_LE(top + edge, p.height);
    EXPECT_GT(top + 2 * edge, p.height);
  }
}

TEST_F(ScreenRenderTest, ViewerShowsTheGridOrElseSpritesOverOlive) {
  EXPECT_EQ(kSpriteFillColour, 0x808000u); // red 128, green 128, blue 0

  const ScreenContent sprites = spriteScreen();
  auto spriteOnly = load(sprites);
  Result<RgbaImage> shown = renderForDisplay(*spriteOnly);
  ASSERT_TRUE(shown);
  const Picture p = test::pictureOf(*shown);
  EXPECT_EQ(test::difference(p, test::expectedSprites(tiles, sprites, false, 0x808000, 1)), "");
  EXPECT_EQ(p.at(200, 200), 0xFF808000u);
  // Colour 0 of the sprite at (0, 0), drawn from line 1, shows the olive.
  bool sawColourZero = false;
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x)
      if (test::colourNumber(tiles.patterns[1], y, x) == 0) {
        sawColourZero = true;
        EXPECT_EQ(p.at(x, y + 1), 0xFF808000u);
      }
  EXPECT_TRUE(sawColourZero);

  // With a grid, the grid is shown and the sprites are not.
  ScreenContent both = test::backgroundScreen(tiles, 248, 192);
  both.sprites = sprites.sprites;
  auto screen = load(both);
  shown = renderForDisplay(*screen);
  ASSERT_TRUE(shown);
  EXPECT_EQ(test::difference(test::pictureOf(*shown),
                             test::cut(test::expectedBackground(tiles, both, false, 1), 8, 0, 248, 192)),
            "");

  auto empty = load(ScreenContent{});
  EXPECT_FALSE(renderForDisplay(*empty));
}

TEST_F(ScreenRenderTest, NothingIsRenderedWithoutSomethingToDraw) {
  auto grid = load(test::backgroundScreen(tiles));
  auto sprites = load(spriteScreen());
  for (int factor : {0, 5, -1}) {
    EXPECT_FALSE(renderBackground(*grid, true, factor)) << factor;
    EXPECT_FALSE(renderSprites(*sprites, true, 0, factor)) << factor;
  }
  EXPECT_FALSE(renderBackground(*sprites, false, 1));
  EXPECT_FALSE(renderSprites(*grid, false, 0, 1));
  const ScreenFile unloaded;
  EXPECT_FALSE(renderBackground(unloaded, true, 1));
  EXPECT_FALSE(renderSprites(unloaded, true, 0, 1));
  EXPECT_FALSE(renderForDisplay(unloaded));
}

} // namespace
} // namespace zelvo
