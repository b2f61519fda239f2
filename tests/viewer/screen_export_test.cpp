// Save Bitmap: the names it proposes and completes, the files it writes, how it replaces images
// that exist, and the round trip artists rely on: an exported image put back unchanged replaces
// no hi-res tile.
#include "viewer/screen_export.h"

#include "pipeline/hires_tiles.h"
#include "pipeline/tile_replace.h"
#include "platform/fs.h"
#include "render/image_read.h"
#include "render/image_save.h"
#include "support/screen_pictures.h"
#include "support/temp_dir.h"
#include "tiles/tiles_file.h"
#include "viewer/screen_render.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace zelvo {
namespace {

using test::ScreenContent;
using test::TempDir;

TEST(ExportNames, AlphaImagesProposalsAndExtensions) {
  struct Alpha {
    const char *target, *alpha;
  };
  for (const Alpha& c : {Alpha{"shot.bmp", "shot_alpha.bmp"}, Alpha{"d/shot.png", "d/shot_alpha.png"},
                         Alpha{"shot", "shot_alpha"}, Alpha{"a.b/shot", "a.b/shot_alpha"},
                         Alpha{"a.b\\shot", "a.b\\shot_alpha"}, Alpha{"shot.png.bmp", "shot.png_alpha.bmp"}})
    EXPECT_EQ(alphaPathFor(c.target), c.alpha) << c.target;

  struct Proposal {
    const char *screen, *proposed;
  };
  for (const Proposal& c :
       {Proposal{"/games/level.msscreen", "/games/level"}, Proposal{"level.old.msscreen", "level.old"},
        Proposal{"/games/level", "/games/"}, Proposal{"C:\\g.1\\level", "C:\\g.1\\"},
        Proposal{".hidden", ".hidden"}, Proposal{"", ""}})
    EXPECT_EQ(proposedSaveName(c.screen), c.proposed) << c.screen;

  struct Chosen {
    const char* name;
    ExportFormat format;
    const char* saved;
  };
  for (const Chosen& c :
       {Chosen{"shot", ExportFormat::Png, "shot.png"}, Chosen{"shot.PNG", ExportFormat::Png, "shot.PNG"},
        Chosen{"shot.png", ExportFormat::Bmp, "shot.png.bmp"},
        Chosen{"shot.Bmp", ExportFormat::Bmp, "shot.Bmp"},
        Chosen{"shot.pngs", ExportFormat::Png, "shot.pngs.png"},
        Chosen{"d.png/shot", ExportFormat::Png, "d.png/shot.png"}})
    EXPECT_EQ(applySaveExtension(c.name, c.format), c.saved) << c.name;

  ExportFormat format = ExportFormat::Bmp;
  EXPECT_TRUE(exportFormatForFilter(1, format));
  EXPECT_EQ(format, ExportFormat::Png);
  EXPECT_TRUE(exportFormatForFilter(2, format));
  EXPECT_EQ(format, ExportFormat::Bmp);
  EXPECT_FALSE(exportFormatForFilter(0, format));
  EXPECT_FALSE(exportFormatForFilter(3, format));
  EXPECT_EQ(format, ExportFormat::Bmp);
}

class ScreenExportTest : public ::testing::Test {
protected:
  void SetUp() override { ASSERT_TRUE(test::writeTilesFixture(dir.file("game.mstiles"), tiles)); }

  std::unique_ptr<ScreenFile> load(const ScreenContent& content, const std::string& name = "s") {
    EXPECT_TRUE(test::writeScreenFixture(dir.file(name + ".msscreen"), content));
    auto screen = std::make_unique<ScreenFile>();
    EXPECT_TRUE(readScreenFile(*screen, dir.file(name + ".msscreen")));
    return screen;
  }

  static bool save(const ScreenFile& screen, int factor, ExportFormat format, const std::string& path) {
    return exportScreenImage(screen, factor, format, screen.background() == nullptr, path).ok();
  }

  void put(const std::string& name, const std::string& bytes) {
    ASSERT_TRUE(test::writeFileBytes(dir.file(name), bytes.data(), bytes.size()));
  }
  // The file's bytes when it is small (the stand-ins for old files), else its size only.
  std::string contentOf(const std::string& name) const {
    const std::string bytes = test::readFileBytes(dir.file(name));
    return bytes.size() <= 64 ? bytes : "<" + std::to_string(bytes.size()) + " bytes>";
  }

  TempDir dir;
  test::TilesContent tiles = test::viewerTiles();
};

TEST_F(ScreenExportTest, PngHoldsItsAlphaAndBmpComesWithAnEightBitAlphaImage) {
  auto screen = load(test::backgroundScreen(tiles, 248, 192));
  for (int factor : {1, 2}) {
    Result<RgbaImage> rendered = renderBackground(*screen, true, factor);
    ASSERT_TRUE(rendered);
    const test::Picture expected = test::pictureOf(*rendered);
    ASSERT_EQ(expected.width, 248 * factor);
    ASSERT_EQ(expected.height, 192 * factor);

    ASSERT_TRUE(
        renderAndSave(*screen, factor, ExportFormat::Png, false, dir.file("a.png"), dir.file("a_alpha.png")));
    EXPECT_EQ(pathKind(dir.file("a_alpha.png")), PathKind::Missing);
    std::string kind;
    EXPECT_EQ(test::difference(test::readPicture(dir.file("a.png"), &kind), expected), "") << factor;
    EXPECT_EQ(kind, "PNG, 8-bit RGBA");

    ASSERT_TRUE(
        renderAndSave(*screen, factor, ExportFormat::Bmp, false, dir.file("a.bmp"), dir.file("a_alpha.bmp")));
    std::string colourKind, alphaKind;
    const test::Picture colour = test::readPicture(dir.file("a.bmp"), &colourKind);
    const test::Picture grey = test::readPicture(dir.file("a_alpha.bmp"), &alphaKind);
    EXPECT_EQ(colourKind, "BMP, 40-byte header, 24 bits");
    EXPECT_EQ(alphaKind, "BMP, 40-byte header, 8 bits");
    ASSERT_EQ(colour.width, expected.width);
    ASSERT_EQ(colour.height, expected.height);
    ASSERT_EQ(grey.width, expected.width);
    ASSERT_EQ(grey.height, expected.height);
    for (int y = 0; y < expected.height; ++y)
      for (int x = 0; x < expected.width; ++x) {
        ASSERT_EQ(colour.at(x, y), 0xFF000000u | expected.at(x, y)) << x << ", " << y;
        ASSERT_EQ(grey.at(x, y), 0xFF000000u | (expected.at(x, y) >> 24) * 0x010101u) << x << ", " << y;
      }
  }
  // A sprite screen's image is transparent wherever no sprite lies.
  ScreenContent sprites;
  sprites.addSprite(30, 40, tiles, 0, 1);
  auto spriteScreen = load(sprites, "sprites");
  ASSERT_TRUE(
      renderAndSave(*spriteScreen, 2, ExportFormat::Png, true, dir.file("b.png"), dir.file("b_alpha.png")));
  EXPECT_EQ(test::difference(test::readPicture(dir.file("b.png")),
                             test::expectedSprites(tiles, sprites, true, 0, 2)),
            "");
}

TEST_F(ScreenExportTest, ChosenNamesLeadToTheFilesWritten) {
  auto screen = load(test::backgroundScreen(tiles));
  ASSERT_TRUE(
      save(*screen, 1, ExportFormat::Bmp, applySaveExtension(dir.file("shot.png"), ExportFormat::Bmp)));
  EXPECT_EQ(pathKind(dir.file("shot.png.bmp")), PathKind::File);
  EXPECT_EQ(pathKind(dir.file("shot.png_alpha.bmp")), PathKind::File);
  ASSERT_TRUE(save(*screen, 1, ExportFormat::Png, applySaveExtension(dir.file("shot"), ExportFormat::Png)));
  EXPECT_EQ(pathKind(dir.file("shot.png")), PathKind::File);
  EXPECT_EQ(pathKind(dir.file("shot_alpha.png")), PathKind::Missing);
  EXPECT_EQ(test::countTmpFiles(dir.path()), 0u);
}

TEST_F(ScreenExportTest, ExistingImagesAreReplacedWholeAndPngLeavesTheAlphaImageAlone) {
  auto screen = load(test::backgroundScreen(tiles));
  put("shot.png", "old picture");
  put("shot_alpha.png", "old alpha");
  ASSERT_TRUE(save(*screen, 2, ExportFormat::Png, dir.file("shot.png")));
  EXPECT_EQ(test::readPicture(dir.file("shot.png")).width, 512);
  EXPECT_EQ(contentOf("shot_alpha.png"), "old alpha");

  put("shot.bmp", "old picture");
  put("shot_alpha.bmp", "old alpha");
  ASSERT_TRUE(save(*screen, 1, ExportFormat::Bmp, dir.file("shot.bmp")));
  std::string colourKind, alphaKind;
  EXPECT_EQ(test::readPicture(dir.file("shot.bmp"), &colourKind).width, 256);
  EXPECT_EQ(test::readPicture(dir.file("shot_alpha.bmp"), &alphaKind).width, 256);
  EXPECT_EQ(colourKind, "BMP, 40-byte header, 24 bits");
  EXPECT_EQ(alphaKind, "BMP, 40-byte header, 8 bits");
  EXPECT_EQ(test::countTmpFiles(dir.path()), 0u);
}

TEST_F(ScreenExportTest, FailedSavesLeaveTheOldFilesExactlyAsTheyWere) {
  auto good = load(test::backgroundScreen(tiles), "good");
  auto nothing = load(ScreenContent{}, "nothing"); // neither grid nor sprites: nothing to render
  for (ExportFormat format : {ExportFormat::Png, ExportFormat::Bmp}) {
    const std::string target = std::string("shot") + exportExtension(format);
    const std::string alpha = alphaPathFor(target);
    SCOPED_TRACE(target);

    put(target, "old picture");
    put(alpha, "old alpha");
    EXPECT_FALSE(save(*nothing, 1, format, dir.file(target)));
    EXPECT_EQ(contentOf(target), "old picture");
    EXPECT_EQ(contentOf(alpha), "old alpha");

    // No image yet, only an alpha image left from before: it survives, and no image appears.
    ASSERT_TRUE(deleteFile(dir.file(target)));
    EXPECT_FALSE(save(*nothing, 1, format, dir.file(target)));
    EXPECT_EQ(pathKind(dir.file(target)), PathKind::Missing);
    EXPECT_EQ(contentOf(alpha), "old alpha");
    EXPECT_EQ(test::countTmpFiles(dir.path()), 0u);
  }

  // A folder in the way of the alpha image: the image itself is not replaced either.
  put("folder.bmp", "old picture");
  ASSERT_TRUE(createDirectory(dir.file("folder_alpha.bmp")));
  EXPECT_FALSE(save(*good, 1, ExportFormat::Bmp, dir.file("folder.bmp")));
  EXPECT_EQ(contentOf("folder.bmp"), "old picture");
  // A folder in the way of the image.
  ASSERT_TRUE(createDirectory(dir.file("taken.png")));
  EXPECT_FALSE(save(*good, 1, ExportFormat::Png, dir.file("taken.png")));
  EXPECT_TRUE(isDirectory(dir.file("taken.png")));
  EXPECT_EQ(test::countTmpFiles(dir.file("taken.png")), 0u);
  // A folder that does not exist.
  EXPECT_FALSE(save(*good, 1, ExportFormat::Png, dir.file("missing/shot.png")));
  EXPECT_EQ(test::countTmpFiles(dir.path()), 0u);
}

TEST_F(ScreenExportTest, ImagesKeepThePermissionsOfTheFilesTheyReplace) {
  namespace fs = std::filesystem;
  auto screen = load(test::backgroundScreen(tiles));
  put("shot.bmp", "old picture");
  put("shot_alpha.bmp", "old alpha");
  fs::permissions(dir.file("shot.bmp"),
                  fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  fs::permissions(dir.file("shot_alpha.bmp"), fs::perms::owner_all | fs::perms::others_read);
  ASSERT_TRUE(save(*screen, 1, ExportFormat::Bmp, dir.file("shot.bmp")));
  EXPECT_EQ(fs::status(dir.file("shot.bmp")).permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  EXPECT_EQ(fs::status(dir.file("shot_alpha.bmp")).permissions(),
            fs::perms::owner_all | fs::perms::others_read);

  // A new image is made as any new file is, not private like a temporary file.
  put("plain.txt", "");
  ASSERT_TRUE(save(*screen, 1, ExportFormat::Png, dir.file("new.png")));
  EXPECT_EQ(fs::status(dir.file("new.png")).permissions(), fs::status(dir.file("plain.txt")).permissions());
}

// The round trip: an exported image put back unchanged beside its screen replaces no tile.
enum class Kind { Priority, Narrow, Sprites };
struct RoundTrip {
  Kind kind;
  ExportFormat format;
  int factor;
};

std::string nameOf(const RoundTrip& p) {
  const char* kinds[] = {"Priority", "Narrow", "Sprites"};
  return std::string(kinds[int(p.kind)]) + (p.format == ExportFormat::Png ? "Png" : "Bmp") +
         std::to_string(p.factor) + "x";
}
std::string testName(const ::testing::TestParamInfo<RoundTrip>& info) { return nameOf(info.param); }
void PrintTo(const RoundTrip& p, std::ostream* out) { *out << nameOf(p); }

class ExportRoundTrip : public ScreenExportTest, public ::testing::WithParamInterface<RoundTrip> {
protected:
  ScreenContent content() const {
    if (GetParam().kind == Kind::Sprites) {
      ScreenContent s;
      s.addSprite(0, 0, tiles, 0, 1);
      s.addSprite(250, 100, tiles, 1, 4);
      s.addTallSprite(100, 30, tiles, 2, 5, 3, 0);
      s.addTallSprite(20, 210, tiles, 0, 1, 1, 4); // lower tile left out
      s.addTallSprite(60, 206, tiles, 2, 5, 0, 1); // lower tile on the last lines
      s.addSprite(200, 215, tiles, 3, 0);          // left out
      s.addSprite(160, 160, test::makePalette(999), tiles.patterns[1]);
      return s;
    }
    ScreenContent s = GetParam().kind == Kind::Narrow ? test::backgroundScreen(tiles, 248, 192)
                                                      : test::backgroundScreen(tiles);
    s.setCell(1, 31, tiles, 0, 0); // group 0, in view on either screen
    return s;
  }

  std::vector<std::uint8_t> storeBytes() const {
    std::uint64_t size = 0;
    EXPECT_TRUE(test::into(table->tempFile.size(), size));
    std::vector<std::uint8_t> bytes(size);
    EXPECT_TRUE(table->tempFile.seek(0));
    EXPECT_TRUE(table->tempFile.readExact(bytes.data(), bytes.size()));
    return bytes;
  }

  // Hi-res tiles whose bytes differ between two copies of the store.
  int tilesChanged(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) const {
    int changed = 0;
    for (std::size_t at = 0; at < a.size(); at += table->tileBytes)
      changed += std::memcmp(a.data() + at, b.data() + at, table->tileBytes) != 0;
    return changed;
  }

  std::unique_ptr<TileSet> build;
  std::unique_ptr<HiResTileTable> table;
};

TEST_P(ExportRoundTrip, UntouchedExportReplacesNoTile) {
  const RoundTrip p = GetParam();
  auto screen = load(content());
  const std::string image = dir.file(std::string("s") + exportExtension(p.format));
  ASSERT_TRUE(save(*screen, p.factor, p.format, image));

  build = createTileSet();
  ASSERT_TRUE(readTilesFile(*build, dir.file("game.mstiles")));
  sortByOrderKeys(*build);
  table = std::make_unique<HiResTileTable>();
  ASSERT_TRUE(generateHiResTiles(*table, *build, std::uint32_t(p.factor)));
  const std::vector<std::uint8_t> generated = storeBytes();

  ASSERT_TRUE(replaceTilesFromScreen(*table, *build, dir.file("s.msscreen"), image, alphaPathFor(image)));
  EXPECT_EQ(tilesChanged(generated, storeBytes()), 0);

  // Not idle: one pixel painted over a tile the screen shows changes that tile, and only it.
  Result<RgbaImage> painted = readImage(image); // a BMP's colours alone: its alpha image stays
  ASSERT_TRUE(painted);
  const std::uint32_t edge = 8 * std::uint32_t(p.factor);
  const std::uint32_t x =
      p.kind == Kind::Sprites ? edge / 2 : painted->width - edge / 2; // sprite at (0, 0) / cell (1, 31)
  const std::uint32_t y = p.kind == Kind::Sprites ? 1 + edge / 2 : edge + edge / 2;
  painted->at(x, y)[2] ^= 0x80;
  ASSERT_TRUE(saveImageAtomically(*painted, p.format, image));
  ASSERT_TRUE(replaceTilesFromScreen(*table, *build, dir.file("s.msscreen"), image, alphaPathFor(image)));
  EXPECT_EQ(tilesChanged(generated, storeBytes()), 1);
}

std::vector<RoundTrip> roundTrips() {
  std::vector<RoundTrip> all;
  for (Kind kind : {Kind::Priority, Kind::Narrow, Kind::Sprites})
    for (ExportFormat format : {ExportFormat::Png, ExportFormat::Bmp})
      for (int factor = 1; factor <= 4; ++factor) all.push_back({kind, format, factor});
  return all;
}

INSTANTIATE_TEST_SUITE_P(EveryScreenKindFormatAndFactor, ExportRoundTrip, ::testing::ValuesIn(roundTrips()),
                         testName);

} // namespace
} // namespace zelvo
