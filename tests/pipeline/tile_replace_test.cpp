#include "pipeline/tile_replace.h"

#include "build_test_util.h"
#include "pipeline/hires_tiles.h"
#include "support/temp_dir.h"
#include "tiles/tiles_file.h"

#include <gtest/gtest.h>
#include <random>

namespace zelvo {
namespace {

using test::ScreenContent;
using test::TempDir;
using test::TilesContent;

constexpr int kScale = 2;
constexpr int kEdge = 8 * kScale;
constexpr std::size_t kTileBytes = 256 * kScale * kScale;

// Each colour byte moved by `delta` towards the middle of its range (so nothing clamps); alpha kept.
std::vector<std::uint8_t> shifted(std::vector<std::uint8_t> tile, int delta) {
  for (std::size_t i = 0; i < tile.size(); ++i) {
    if (i % 4 == 3) continue;
    tile[i] = std::uint8_t(tile[i] >= 128 ? tile[i] - delta : tile[i] + delta);
  }
  return tile;
}

std::vector<std::uint8_t> withAlpha(std::vector<std::uint8_t> tile, std::uint8_t alpha) {
  for (std::size_t i = 3; i < tile.size(); i += 4) tile[i] = alpha;
  return tile;
}

std::vector<std::uint8_t> alphasOf(const std::vector<std::uint8_t>& tile) {
  std::vector<std::uint8_t> out;
  for (std::size_t i = 3; i < tile.size(); i += 4) out.push_back(tile[i]);
  return out;
}

class TileReplaceTest : public ::testing::Test {
protected:
  // Palettes 0-2, patterns 0-3; group 0: (0,0) (0,1) (1,0); group 4: (0,0); sprites: (1,1) (2,2) (2,3).
  void SetUp() override {
    for (int i = 0; i < 3; ++i) recipe.addPalette(std::uint8_t(1 + 17 * i));
    for (int i = 0; i < 4; ++i) recipe.addPattern(std::uint8_t(1 + i));
    recipe.addEntry(0, 0, 0);
    recipe.addEntry(0, 0, 1);
    recipe.addEntry(0, 1, 0);
    recipe.addEntry(4, 0, 0);
    recipe.addEntry(kSpriteGroup, 1, 1);
    recipe.addEntry(kSpriteGroup, 2, 2);
    recipe.addEntry(kSpriteGroup, 2, 3);
  }

  void prepare() {
    ASSERT_TRUE(test::writeTilesFixture(dir.file("game.mstiles"), recipe));
    build = createTileSet();
    ASSERT_TRUE(readTilesFile(*build, dir.file("game.mstiles")));
    sortByOrderKeys(*build);
    table = std::make_unique<HiResTileTable>();
    ASSERT_TRUE(table);
    ASSERT_TRUE(generateHiResTiles(*table, *build, kScale));
    ASSERT_EQ(table->tileBytes, kTileBytes);
  }

  // The entry index, in the build's sorted set, of palette `pal` and pattern `pat` of `recipe`.
  std::uint32_t entryOf(int group, std::uint32_t pal, std::uint32_t pat) const {
    return findTileEntry(build->groups[group], findPalette(*build, recipe.palettes[pal].colours),
                         findPattern(*build, recipe.patterns[pat].planes));
  }

  std::vector<std::uint8_t> stored(int group, std::uint32_t index) const {
    std::uint32_t offset = 0;
    EXPECT_TRUE(hiResTileOffset(*table, group, index, offset));
    std::vector<std::uint8_t> tile(kTileBytes);
    EXPECT_TRUE(table->tempFile.seek(offset));
    EXPECT_TRUE(table->tempFile.readExact(tile.data(), tile.size()));
    return tile;
  }
  std::vector<std::uint8_t> stored(int group, std::uint32_t pal, std::uint32_t pat) const {
    return stored(group, entryOf(group, pal, pat));
  }

  // Writes "name.msscreen" and runs the replacement with the image given by its path.
  Status replace(const ScreenContent& screen, const std::string& name, const std::string& imagePath,
                 const std::string& alphaPath = "") {
    EXPECT_TRUE(test::writeScreenFixture(dir.file(name + ".msscreen"), screen));
    return replaceTilesFromScreen(*table, *build, dir.file(name + ".msscreen"), imagePath, alphaPath);
  }
  Status replacePng(const ScreenContent& screen, const RgbaImage& image, const std::string& name = "a") {
    EXPECT_TRUE(test::savePng(image, dir.file(name + ".png")));
    return replace(screen, name, dir.file(name + ".png"), dir.file(name + "_alpha.png"));
  }

  TempDir dir;
  TilesContent recipe;
  std::unique_ptr<TileSet> build;
  std::unique_ptr<HiResTileTable> table;
};

TEST_F(TileReplaceTest, ReplacesOnlyTilesThatDifferByMoreThanTwoInSomeByte) {
  prepare();
  const auto a = stored(0, 0, 0), b = stored(0, 0, 1), c = stored(0, 1, 0);
  ScreenContent screen;
  screen.height = 8;
  screen.setCell(0, 0, recipe, 0, 0);
  screen.setCell(0, 1, recipe, 0, 1);
  screen.setCell(0, 2, recipe, 1, 0);
  auto image = test::blankImage(256 * kScale, 8 * kScale);
  test::putTile(image, 0, 0, kEdge, shifted(a, 2)); // within the tolerance everywhere
  auto oneOff = b;
  oneOff[kTileBytes / 2] =
      std::uint8_t(oneOff[kTileBytes / 2] >= 128 ? oneOff[kTileBytes / 2] - 3 : oneOff[kTileBytes / 2] + 3);
  test::putTile(image, kEdge, 0, kEdge, oneOff); // one byte 3 away
  test::putTile(image, 2 * kEdge, 0, kEdge, shifted(c, 2));
  ASSERT_TRUE(replacePng(screen, image));
  EXPECT_EQ(stored(0, 0, 0), a);
  EXPECT_EQ(stored(0, 0, 1), oneOff); // the whole tile is the image's
  EXPECT_EQ(stored(0, 1, 0), c);
}

TEST_F(TileReplaceTest, PlainBackgroundTilesAreOpaqueAndPriorityTilesKeepTheImagesAlpha) {
  prepare();
  const auto plain = stored(0, 0, 0), priority = stored(4, 0, 0);
  ScreenContent screen;
  screen.height = 8;
  screen.setCell(0, 0, recipe, 0, 0, 0x0000);
  screen.setCell(0, 1, recipe, 0, 0, 0x1000 | 0x01FF); // bits other than flip and priority are ignored
  auto image = test::blankImage(256 * kScale, 8 * kScale);
  const auto painted = withAlpha(shifted(plain, 40), 77);
  test::putTile(image, 0, 0, kEdge, painted);
  test::putTile(image, kEdge, 0, kEdge, painted);
  ASSERT_TRUE(replacePng(screen, image));
  EXPECT_EQ(stored(0, 0, 0), withAlpha(painted, 255));
  EXPECT_EQ(stored(4, 0, 0), painted);
  EXPECT_NE(stored(4, 0, 0), priority);
}

TEST_F(TileReplaceTest, AlphaComesFromThePngItselfOrFromTheAlphaImageBesideABmp) {
  prepare();
  const auto generated = stored(4, 0, 0);
  ScreenContent screen;
  screen.height = 8;
  screen.setCell(0, 0, recipe, 0, 0, 0x1000);
  const int width = 256 * kScale, height = 8 * kScale;
  auto image = test::blankImage(width, height);
  test::putTile(image, 0, 0, kEdge, withAlpha(shifted(generated, 30), 200));

  // A BMP without an alpha image: opaque.
  ASSERT_TRUE(test::saveBmp(image, dir.file("b.bmp")));
  ASSERT_TRUE(replace(screen, "b", dir.file("b.bmp"), dir.file("b_alpha.bmp")));
  EXPECT_EQ(alphasOf(stored(4, 0, 0)), std::vector<std::uint8_t>(kTileBytes / 4, 255));

  // With one: its grey values become the alpha.
  ASSERT_TRUE(test::saveGrey(width, height, 100, dir.file("b_alpha.bmp"), ImageFormat::Bmp));
  ASSERT_TRUE(replace(screen, "b", dir.file("b.bmp"), dir.file("b_alpha.bmp")));
  EXPECT_EQ(alphasOf(stored(4, 0, 0)), std::vector<std::uint8_t>(kTileBytes / 4, 100));

  // A PNG with transparency of its own ignores the alpha image beside it.
  ASSERT_TRUE(test::saveGrey(width, height, 9, dir.file("a_alpha.png"), ImageFormat::Png));
  ASSERT_TRUE(replacePng(screen, image));
  EXPECT_EQ(alphasOf(stored(4, 0, 0)), std::vector<std::uint8_t>(kTileBytes / 4, 200));
}

// A narrow screen's image starts where the export's does: the grid's left edge cut away. At width
// 248 that is grid column 1; at 250 the image starts 2 pixels into column 0, which is then only
// partly inside the image and never cut.
TEST_F(TileReplaceTest, ANarrowScreenIsCutWhereItsExportShowsEachCellAndASmallImageOnlyWhereItCovers) {
  for (const int width : {248, 250}) {
    SCOPED_TRACE(width);
    prepare();
    const auto a = stored(0, 0, 0), b = stored(0, 0, 1), c = stored(0, 1, 0);
    ScreenContent screen;
    screen.width = std::uint16_t(width);
    screen.height = 16;
    screen.setCell(0, 0, recipe, 0, 0); // hidden, or partly visible: never cut
    screen.setCell(0, 1, recipe, 0, 1);
    screen.setCell(1, 31, recipe, 1, 0); // its square reaches past the image's right edge
    auto image = test::blankImage(width * kScale - 1, 16 * kScale);
    const auto painted = shifted(b, 50);
    test::putTile(image, (8 - (256 - width)) * kScale, 0, kEdge, painted);
    ASSERT_TRUE(replacePng(screen, image, "w" + std::to_string(width)));
    EXPECT_EQ(stored(0, 0, 1), withAlpha(painted, 255));
    EXPECT_EQ(stored(0, 0, 0), a);
    EXPECT_EQ(stored(0, 1, 0), c);
  }
}

TEST_F(TileReplaceTest, EveryTileIsComparedWithTheStoreAsItWasBeforeTheScreen) {
  prepare();
  const auto a = stored(0, 0, 0);
  const auto x = withAlpha(shifted(a, 60), 255);
  ScreenContent screen;
  screen.height = 8;
  screen.setCell(0, 0, recipe, 0, 0);
  screen.setCell(0, 1, recipe, 0, 0);

  // The same entry twice in one screen: the second cell matches what the store held before the
  // screen, so the first cell's replacement stays.
  auto image = test::blankImage(256 * kScale, 8 * kScale);
  test::putTile(image, 0, 0, kEdge, x);
  test::putTile(image, kEdge, 0, kEdge, shifted(a, 1));
  ASSERT_TRUE(replacePng(screen, image, "s1"));
  EXPECT_EQ(stored(0, 0, 0), x);

  // A later screen is compared with that replacement: close to it, nothing changes...
  auto close = test::blankImage(256 * kScale, 8 * kScale);
  test::putTile(close, 0, 0, kEdge, shifted(x, 2));
  test::putTile(close, kEdge, 0, kEdge, shifted(x, 1));
  ASSERT_TRUE(replacePng(screen, close, "s2"));
  EXPECT_EQ(stored(0, 0, 0), x);

  // ...and one that differs wins, even where its first cell matches the store.
  const auto y = withAlpha(shifted(a, 90), 255);
  auto later = test::blankImage(256 * kScale, 8 * kScale);
  test::putTile(later, 0, 0, kEdge, x);
  test::putTile(later, kEdge, 0, kEdge, y);
  ASSERT_TRUE(replacePng(screen, later, "s3"));
  EXPECT_EQ(stored(0, 0, 0), y);
}

TEST_F(TileReplaceTest, SpritesAreCutWhereTheExportDrawsThemAndOnlyWithoutAGrid) {
  prepare();
  const auto upper = stored(kSpriteGroup, 1, 1), lower = stored(kSpriteGroup, 2, 2),
             low = stored(kSpriteGroup, 2, 3);
  const int width = 256 * kScale, height = 224 * kScale;
  auto image = test::blankImage(width, height);
  const auto paintedUpper = shifted(upper, 33), paintedLower = withAlpha(shifted(lower, 33), 10);
  // x 252 is drawn at 248; the upper tile starts on line y * scale + 1, the lower one beneath it.
  test::putTile(image, 248 * kScale, 100 * kScale + 1, kEdge, paintedUpper);
  test::putTile(image, 248 * kScale, 100 * kScale + 1 + kEdge, kEdge, paintedLower);
  // y 212: the upper tile fits, the lower one is taken at line 216 and falls off the image.
  test::putTile(image, 8 * kScale, 212 * kScale + 1, kEdge, paintedUpper);

  ScreenContent sprites;
  sprites.addTallSprite(252, 100, recipe, 1, 1, 2, 2);
  sprites.addTallSprite(8, 212, recipe, 1, 1, 2, 3);
  ScreenContent both = sprites;
  both.setCell(27, 31, recipe, 1, 0); // a grid: the sprites are not used
  ASSERT_TRUE(replacePng(both, image, "both"));
  EXPECT_EQ(stored(kSpriteGroup, 1, 1), upper);

  ASSERT_TRUE(replacePng(sprites, image, "sprites"));
  EXPECT_EQ(stored(kSpriteGroup, 1, 1), paintedUpper);
  EXPECT_EQ(stored(kSpriteGroup, 2, 2), paintedLower); // sprites keep the image's alpha
  EXPECT_EQ(stored(kSpriteGroup, 2, 3), low);
}

TEST_F(TileReplaceTest, CellsResolveAgainstTheBuildsSortedTilesNotTheRecordersOrder) {
  // Order keys that move palette 2, pattern 3 and the entries of group 0 around.
  recipe.palettes[2].orderKeyMajor = 9;
  recipe.patterns[3].orderKeyMajor = 7;
  recipe.groups[0].clear();
  recipe.addEntry(0, 0, 0, 1);
  recipe.addEntry(0, 0, 1, 5);
  recipe.addEntry(0, 1, 0, 3);
  prepare();
  ASSERT_EQ(entryOf(0, 0, 1), 0u);
  ASSERT_EQ(entryOf(0, 1, 0), 1u);
  ASSERT_EQ(entryOf(0, 0, 0), 2u);
  const auto first = stored(0, 0u), second = stored(0, 1u);
  ScreenContent screen;
  screen.height = 8;
  screen.setCell(0, 0, recipe, 0, 0);
  auto image = test::blankImage(256 * kScale, 8 * kScale);
  const auto painted = withAlpha(shifted(stored(0, 2u), 70), 255);
  test::putTile(image, 0, 0, kEdge, painted);
  ASSERT_TRUE(replacePng(screen, image));
  EXPECT_EQ(stored(0, 2u), painted);
  EXPECT_EQ(stored(0, 0u), first);
  EXPECT_EQ(stored(0, 1u), second);
}

TEST_F(TileReplaceTest, ScreensThatCannotBeReadAreSkippedAndAFailedWriteIsReported) {
  prepare();
  const auto a = stored(0, 0, 0);
  ScreenContent screen;
  screen.height = 8;
  screen.setCell(0, 0, recipe, 0, 0);
  auto image = test::blankImage(256 * kScale, 8 * kScale);
  test::putTile(image, 0, 0, kEdge, shifted(a, 50));
  ASSERT_TRUE(test::savePng(image, dir.file("a.png")));

  // Each skip says why: the image's reason comes through as the reader gave it, and nothing is
  // written.
  const Status noImage = replace(screen, "a", dir.file("missing.png"), "");
  ASSERT_FALSE(noImage);
  EXPECT_EQ(noImage.error().cause, ErrorCause::NotFound);
  EXPECT_EQ(noImage.error().path, dir.file("missing.png"));
  ASSERT_TRUE(test::writeFileBytes(dir.file("bad.msscreen"), "MSSCREN", 8));
  const Status badScreen =
      replaceTilesFromScreen(*table, *build, dir.file("bad.msscreen"), dir.file("a.png"), "");
  ASSERT_FALSE(badScreen);
  EXPECT_EQ(badScreen.error().path, dir.file("bad.msscreen"));
  EXPECT_EQ(stored(0, 0, 0), a);

  // The store can be read but no longer written (as on a full disk).
  std::string copy = dir.file("store.copy");
  {
    std::uint64_t size = 0;
    ASSERT_TRUE(test::into(table->tempFile.size(), size));
    std::vector<std::uint8_t> bytes(size);
    ASSERT_TRUE(table->tempFile.seek(0));
    ASSERT_TRUE(table->tempFile.readExact(bytes.data(), bytes.size()));
    ASSERT_TRUE(test::writeFileBytes(copy, bytes.data(), bytes.size()));
  }
  table->tempFile = test::opened(File::openRead(copy));
  const Status unwritable = replace(screen, "a", dir.file("a.png"), "");
  ASSERT_FALSE(unwritable);
  EXPECT_EQ(unwritable.error().cause, ErrorCause::WriteFailed);
}

TEST(CutTile, MatchesASlowCopyOnRandomImagesAndRectangles) {
  std::mt19937 random(7);
  for (int round = 0; round < 200; ++round) {
    const int width = 1 + int(random() % 70), height = 1 + int(random() % 70);
    const unsigned edge = 8u * (1u + random() % 4);
    RgbaImage image = std::move(makeRgbaImage(std::uint32_t(width), std::uint32_t(height), "").value());
    for (std::size_t i = 0; i < image.byteCount(); ++i) image.pixels[i] = std::uint8_t(random());
    const int left = int(random() % 80) - 5, top = int(random() % 80) - 5;
    std::vector<std::uint8_t> fast(edge * edge * 4);
    const bool cut = cutTile(image, left, top, edge, fast.data());

    const bool inside = left >= 0 && top >= 0 && left + int(edge) <= width && top + int(edge) <= height;
    ASSERT_EQ(cut, inside) << width << "x" << height << " at " << left << "," << top << " edge " << edge;
    if (!inside) continue;
    // The square's rows from the top, each pixel as blue, green, red, alpha.
    std::vector<std::uint8_t> slow;
    for (unsigned y = 0; y < edge; ++y)
      for (unsigned x = 0; x < edge; ++x) {
        const std::uint8_t* in = image.at(std::uint32_t(left) + x, std::uint32_t(top) + y);
        slow.insert(slow.end(), {in[2], in[1], in[0], in[3]});
      }
    ASSERT_EQ(fast, slow);
  }
}

TEST(LoadImageWithAlpha, GivesTheImageWithItsAlphaOrTheReasonItCannot) {
  TempDir dir;
  auto failure = [](const Result<RgbaImage>& r) { return r ? std::string("loaded") : r.error().message(); };
  EXPECT_EQ(loadImageWithAlpha(dir.file("none.png"), "").error().cause, ErrorCause::NotFound);
  ASSERT_TRUE(test::writeFileBytes(dir.file("junk.png"), "not an image", 12));
  EXPECT_EQ(failure(loadImageWithAlpha(dir.file("junk.png"), "")),
            dir.file("junk.png") + ": not a PNG or BMP image (it starts with 6E 6F 74 20)");

  auto image = test::blankImage(16, 16);
  ASSERT_TRUE(test::saveBmp(image, dir.file("a.bmp")));
  // No alpha image: opaque.
  Result<RgbaImage> opaque = loadImageWithAlpha(dir.file("a.bmp"), dir.file("b_alpha.bmp"));
  ASSERT_TRUE(opaque);
  EXPECT_EQ(opaque->row(3)[4 * 5 + 3], 255);
  // An alpha image of another size, or one that cannot be read, stops the image: its pixels
  // would otherwise silently become opaque.
  ASSERT_TRUE(test::saveGrey(8, 8, 50, dir.file("a_alpha.bmp"), ImageFormat::Bmp));
  EXPECT_EQ(failure(loadImageWithAlpha(dir.file("a.bmp"), dir.file("a_alpha.bmp"))),
            dir.file("a_alpha.bmp") + ": the alpha image is 8 x 8 pixels but its image is 16 x 16");
  ASSERT_TRUE(test::writeFileBytes(dir.file("c_alpha.bmp"), "BM", 2));
  EXPECT_EQ(loadImageWithAlpha(dir.file("a.bmp"), dir.file("c_alpha.bmp")).error().cause,
            ErrorCause::Truncated);
}

} // namespace
} // namespace zelvo
