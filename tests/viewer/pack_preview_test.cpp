// Previews of screens with packs: the bundled example's screens with packs built from it at every
// scale, against their exports and the images painted over them; screens of another game, whose
// every tile the pack lacks; and the sheet of a pack whose entries share tiles.
#include "viewer/pack_preview.h"

#include "pipeline/hires_tiles.h"
#include "support/example_pack.h"
#include "support/screen_pictures.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <set>
#include <utility>

namespace zelvo {
namespace {

using test::Picture;
using Key = std::pair<int, std::uint32_t>; // group, entry
using Tile = std::vector<std::uint32_t>;   // pixels, top row first

// One tile a screen shows: its content and where the export puts its square (uncut image).
struct Shown {
  int group;
  const std::uint8_t* colours;
  const std::uint8_t* planes;
  int left, top;
  bool visible;     // counted by the preview
  bool plainCell;   // a background cell without the priority bit
  int cutLeft = -1; // where the build cuts it from an image at the same scale, -1: never
  int cutTop = -1;
};

// Every tile of the screen in drawing order, as the export places them at `scale`.
std::vector<Shown> shownTiles(const ScreenFile& screen, int scale) {
  std::vector<Shown> out;
  const int edge = 8 * scale;
  if (const ScreenCell* grid = screen.background()) {
    const int hidden = 256 - int(screen.width()), first = 32 - (int(screen.width()) + 7) / 8;
    for (int r = 0; r < kScreenRows; ++r)
      for (int c = 0; c < kScreenColumns; ++c) {
        const ScreenCell& cell = grid[r * kScreenColumns + c];
        Shown s{test::groupOfNameWord(cell.nameWord),
                cell.palette,
                cell.pattern,
                edge * c,
                edge * r,
                8 * r < int(screen.height()) && 8 * c + 8 > hidden,
                !(cell.nameWord & test::kPriority)};
        if (r < int(screen.height()) / 8 && c >= first) s.cutLeft = (c - first) * edge, s.cutTop = r * edge;
        out.push_back(s);
      }
    return out;
  }
  auto add = [&](const std::uint8_t* colours, const std::uint8_t* planes, int x, int y) {
    const bool fits = x + edge <= 256 * scale && y + edge <= 224 * scale;
    out.push_back(Shown{kSpriteGroup, colours, planes, x, y, fits, false, x, y});
  };
  for (std::uint32_t i = 0; i < screen.spriteCount(); ++i) {
    const SpriteRecord& r = screen.sprites()[i];
    const test::SpriteCorners at = test::spriteCorners(r.x, r.y, scale);
    add(r.palette, r.pattern, at.left, at.upperTop);
    if (r.flags & kSpriteTall) add(r.palette2, r.pattern2, at.left, at.lowerTop);
  }
  return out;
}

Picture tilePicture(const std::uint8_t* bytes, int edge) {
  Picture p(edge, edge);
  std::memcpy(p.pixels.data(), bytes, p.pixels.size() * 4);
  return p;
}

// Pastes `tile` with its corner at (left, top), keeping what falls inside `into`.
void pasteClipped(Picture& into, const Picture& tile, int left, int top) {
  for (int y = 0; y < tile.height; ++y)
    for (int x = 0; x < tile.width; ++x)
      if (left + x >= 0 && left + x < into.width && top + y >= 0 && top + y < into.height)
        into.at(left + x, top + y) = tile.at(x, y);
}

std::unique_ptr<ScreenFile> loadScreen(const std::string& path) {
  auto screen = std::make_unique<ScreenFile>();
  EXPECT_TRUE(readScreenFile(*screen, path)) << path;
  return screen;
}

class ExamplePackTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    dir = new test::TempDir;
    for (int scale = 1; scale <= 4; ++scale) {
      for (bool images : {true, false}) {
        const std::string path = test::buildExamplePack(*dir, scale, images);
        Result<PackTiles> pack = path.empty() ? Result<PackTiles>(Error{}) : readPackTiles(path);
        (images ? withArt : bare)[scale - 1] =
            pack ? std::make_unique<PackTiles>(std::move(*pack)) : std::unique_ptr<PackTiles>();
      }
    }
  }
  static void TearDownTestSuite() {
    for (auto* packs : {&withArt, &bare})
      for (auto& pack : *packs) pack.reset();
    delete dir;
  }
  void SetUp() override {
    for (int s = 0; s < 4; ++s)
      ASSERT_TRUE(withArt[s] && bare[s]) << "the example's packs at scale " << s + 1;
  }

  static test::TempDir* dir;
  static std::unique_ptr<PackTiles> withArt[4], bare[4];
};
test::TempDir* ExamplePackTest::dir = nullptr;
std::unique_ptr<PackTiles> ExamplePackTest::withArt[4], ExamplePackTest::bare[4];

// An image painted over a screen: a PNG with its own alpha, or a 24-bit BMP whose alpha is the
// grey of the 8-bit "_alpha" BMP beside it.
Picture paintedImage(const std::string& path, const std::string& alphaPath) {
  Picture p = test::readPicture(path);
  if (alphaPath.empty()) return p;
  std::string kind;
  const Picture grey = test::readPicture(alphaPath, &kind);
  if (kind != "BMP, 40-byte header, 8 bits" || grey.width != p.width || grey.height != p.height)
    return Picture();
  for (std::size_t i = 0; i < p.pixels.size(); ++i)
    p.pixels[i] = (p.pixels[i] & 0xFFFFFF) | grey.pixels[i] << 24;
  return p;
}

// The image painted over each screen, cut into tiles where the build cuts them at `scale`, by the
// entry of the pack that each tile shows: plain cells made opaque, the rest keeping their alpha.
std::map<Key, std::vector<Tile>> paintedTiles(const PackTiles& pack) {
  std::map<Key, std::vector<Tile>> cuts;
  const struct {
    const char *screen, *image, *alpha;
  } painted[] = {
      {"title", "title.png", ""}, {"level", "level.bmp", "level_alpha.bmp"}, {"sprites", "sprites.png", ""}};
  const int edge = 8 * int(pack.scale);
  for (const auto& p : painted) {
    auto screen = loadScreen(joinPath(test::kExampleFolder, std::string(p.screen) + ".msscreen"));
    const Picture image = paintedImage(joinPath(test::kExampleFolder, p.image),
                                       *p.alpha ? joinPath(test::kExampleFolder, p.alpha) : std::string());
    EXPECT_GT(image.width, 0) << p.image;
    for (const Shown& s : shownTiles(*screen, int(pack.scale))) {
      const std::uint32_t index = findEntryByContent(pack.tiles->groups[s.group], s.colours, s.planes);
      if (index == kNotFound || s.cutLeft < 0 || s.cutLeft + edge > image.width ||
          s.cutTop + edge > image.height)
        continue;
      Picture tile = test::cut(image, s.cutLeft, s.cutTop, edge, edge);
      if (s.plainCell)
        for (std::uint32_t& pixel : tile.pixels) pixel |= 0xFF000000u;
      cuts[{s.group, index}].push_back(tile.pixels);
    }
  }
  return cuts;
}

// At every scale, each screen of the example previewed with the pack built from it is its export,
// except where a painted image replaced the entry's hi-res tile: there it shows that image's pixels.
// With the pack built without images it is the export throughout.
TEST_F(ExamplePackTest, PreviewIsTheExportWhereNoArtReplacedATileAndTheArtWhereItDid) {
  for (int scale = 1; scale <= 4; ++scale) {
    const PackTiles& pack = *withArt[scale - 1];
    const PackTiles& plainPack = *bare[scale - 1];
    const std::map<Key, std::vector<Tile>> cuts = paintedTiles(pack);
    const int edge = 8 * scale;
    std::uint32_t replacedInAll = 0;
    for (const char* name : test::kExampleScreens) {
      SCOPED_TRACE(std::string(name) + " at scale " + std::to_string(scale));
      auto screen = loadScreen(joinPath(test::kExampleFolder, std::string(name) + ".msscreen"));
      Result<RgbaImage> exported = renderPlain(*screen, scale);
      ASSERT_TRUE(exported);
      const Picture plain = test::pictureOf(*exported);

      Picture expected = plain;
      const int hidden = screen->background() ? (256 - int(screen->width())) * scale : 0;
      PreviewCounts counts;
      for (const Shown& s : shownTiles(*screen, scale)) {
        const std::uint32_t index = findEntryByContent(pack.tiles->groups[s.group], s.colours, s.planes);
        if (index == kNotFound) {
          EXPECT_FALSE(s.visible) << "every tile the example shows is in its pack";
          continue;
        }
        if (!s.visible) continue;
        ++counts.fromPack;
        const std::uint8_t* tile = pack.tile(s.group, index);
        if (std::memcmp(tile, plainPack.tile(s.group, index), pack.tileBytes) == 0) continue;
        ++counts.replacedByArt;
        const auto found = cuts.find({s.group, index});
        ASSERT_NE(found, cuts.end()) << "a replaced tile comes from an image";
        EXPECT_NE(std::find(found->second.begin(), found->second.end(), tilePicture(tile, edge).pixels),
                  found->second.end())
            << "the tile of group " << s.group << " entry " << index << " is a tile cut from an image";
        pasteClipped(expected, tilePicture(tile, edge), s.left - hidden, s.top);
      }
      replacedInAll += counts.replacedByArt;

      Result<Preview> preview = renderPreview(*screen, pack);
      ASSERT_TRUE(preview) << preview.error().message();
      EXPECT_EQ(test::difference(test::pictureOf(preview->image), expected), "");
      EXPECT_EQ(preview->counts.fromPack, counts.fromPack);
      EXPECT_EQ(preview->counts.replacedByArt, counts.replacedByArt);
      EXPECT_EQ(preview->counts.missing + preview->counts.unknown, 0u);

      Result<Preview> untouched = renderPreview(*screen, plainPack);
      ASSERT_TRUE(untouched) << untouched.error().message();
      EXPECT_EQ(test::difference(test::pictureOf(untouched->image), plain), "");
      EXPECT_EQ(untouched->counts.fromPack, counts.fromPack);
      EXPECT_EQ(untouched->counts.replacedByArt, 0u);
    }
    // The example's images are painted over 2x exports: a build at another scale does not cut them.
    EXPECT_EQ(replacedInAll > 0, scale == 2) << replacedInAll << " tiles replaced at scale " << scale;
  }
}

// Screens recorded from another game show nothing the example's pack holds: every tile is the
// screen's own, enlarged as a build would, so the preview is the plain enlargement and the counts
// say that every tile was missing.
TEST_F(ExamplePackTest, ScreensOfAnotherGameAreDrawnFromTheirOwnTilesAndCountedMissing) {
  test::TempDir other;
  const test::TilesContent tiles = test::viewerTiles();
  ASSERT_TRUE(test::writeTilesFixture(other.file("other.mstiles"), tiles));
  test::ScreenContent sprites;
  sprites.addSprite(0, 0, tiles, 0, 1);
  sprites.addTallSprite(100, 30, tiles, 2, 5, 3, 0);
  sprites.addTallSprite(60, 210, tiles, 2, 5, 3, 0); // the lower tile does not fit
  sprites.addSprite(250, 200, tiles, 1, 4);
  sprites.addSprite(9, 9, tiles, 3, 3); // no sprite entry shows it
  const struct {
    const char* name;
    test::ScreenContent content;
  } screens[] = {{"grid", test::backgroundScreen(tiles)},
                 {"narrow", test::backgroundScreen(tiles, 248, 180)},
                 {"sprites", sprites}};

  for (const auto& s : screens) {
    ASSERT_TRUE(test::writeScreenFixture(other.file(std::string(s.name) + ".msscreen"), s.content));
    auto screen = loadScreen(other.file(std::string(s.name) + ".msscreen"));
    for (int scale = 1; scale <= 4; ++scale) {
      SCOPED_TRACE(std::string(s.name) + " at scale " + std::to_string(scale));
      PreviewCounts expected;
      for (const Shown& t : shownTiles(*screen, scale)) {
        if (!t.visible) continue;
        (test::entryShowing(tiles, t.group, t.colours, t.planes) >= 0 ? expected.missing
                                                                      : expected.unknown)++;
      }
      ASSERT_GT(expected.missing, 0u);
      Result<Preview> preview = renderPreview(*screen, *withArt[scale - 1]);
      ASSERT_TRUE(preview) << preview.error().message();
      Result<RgbaImage> plain = renderPlain(*screen, scale);
      EXPECT_EQ(test::difference(test::pictureOf(preview->image), test::pictureOf(*plain)), "");
      EXPECT_EQ(preview->counts.fromPack, 0u);
      EXPECT_EQ(preview->counts.replacedByArt, 0u);
      EXPECT_EQ(preview->counts.missing, expected.missing);
      EXPECT_EQ(preview->counts.unknown, expected.unknown);
    }
  }
}

} // namespace
} // namespace zelvo
