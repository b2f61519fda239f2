// `zelvo preview` and `zelvo sheet`, run as a user runs them: the images and the JSON they write,
// and the packs, screens and arguments they refuse.
#include "support/example_pack.h"
#include "support/screen_pictures.h"
#include "viewer/legend.h"
#include "viewer/pack_preview.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <cstring>
#include <tuple>

namespace zelvo {
namespace {

using test::Picture;
using Outcome = test::CliOutcome;

class PreviewCommandTest : public ::testing::Test {
protected:
  void SetUp() override {
    pack = test::buildExamplePack(dir, 2, true);
    ASSERT_FALSE(pack.empty());
  }
  Outcome run(const std::string& arguments) const { return test::runZelvo(dir.path(), arguments, dir); }
  static std::string screen(const char* name) {
    return "'" + joinPath(test::kExampleFolder, name) + ".msscreen'";
  }

  test::TempDir dir;
  std::string pack;
};

// The image is the preview, alpha included; --compare puts the export on its left, 4 transparent
// pixels away; --json gives the counts of the preview.
TEST_F(PreviewCommandTest, WritesThePreviewAloneOrBesideTheExportAndCountsWhatItDrew) {
  Result<PackTiles> tiles = readPackTiles(pack);
  ASSERT_TRUE(tiles);
  for (const char* name : test::kExampleScreens) {
    for (const bool compare : {false, true}) {
      SCOPED_TRACE(std::string(name) + (compare ? " compared" : ""));
      const Outcome o = run("preview " + screen(name) + " '" + pack + "' out.png --json --force" +
                            (compare ? " --compare" : ""));
      ASSERT_EQ(o.status, 0) << o.err;
      std::string kind;
      const Picture written = test::readPicture(dir.file("out.png"), &kind);
      EXPECT_EQ(kind, "PNG, 8-bit RGBA");

      ScreenFile screenFile;
      ASSERT_TRUE(
          readScreenFile(screenFile, joinPath(test::kExampleFolder, std::string(name) + ".msscreen")));
      Result<Preview> preview = renderPreview(screenFile, *tiles);
      ASSERT_TRUE(preview);
      const Picture expected = test::pictureOf(preview->image);
      Result<RgbaImage> plainImage = renderPlain(screenFile, 2);
      ASSERT_TRUE(plainImage);
      const Picture plain = test::pictureOf(*plainImage);
      if (compare) {
        // The captions' strip, then the halves: each caption drawn within its half.
        const int strip = captionStripHeight(textScaleFor(2));
        ASSERT_EQ(written.width, 2 * expected.width + 4);
        ASSERT_EQ(written.height, expected.height + strip);
        for (const int left : {0, plain.width + 4}) {
          const Picture caption = test::cut(written, left, 0, plain.width, strip);
          const int drawn = int(std::count(caption.pixels.begin(), caption.pixels.end(), 0xFFF0F0F0u));
          EXPECT_GT(drawn, 100) << "the caption over the half at " << left;
        }
        EXPECT_EQ(test::difference(test::cut(written, 0, strip, plain.width, plain.height), plain), "");
        EXPECT_EQ(test::difference(test::cut(written, plain.width, strip, 4, plain.height),
                                   Picture(4, plain.height)),
                  "");
        EXPECT_EQ(test::difference(
                      test::cut(written, plain.width + 4, strip, expected.width, expected.height), expected),
                  "");
      } else {
        EXPECT_EQ(test::difference(written, expected), "");
      }

      const auto j = nlohmann::json::parse(o.out);
      EXPECT_EQ(j["kind"], screenFile.background() ? "background" : "sprites");
      EXPECT_EQ(j["scale"], 2);
      EXPECT_EQ(j["width"], written.width);
      EXPECT_EQ(j["height"], written.height);
      EXPECT_EQ(j["fromPack"], preview->counts.fromPack);
      EXPECT_EQ(j["replacedByArt"], preview->counts.replacedByArt);
      EXPECT_EQ(j["missing"], 0);
      EXPECT_EQ(j["unknown"], 0);
    }
  }
  // Without --json nothing is printed.
  const Outcome quiet = run("preview " + screen("level") + " '" + pack + "' quiet.png");
  EXPECT_EQ(quiet.status, 0) << quiet.err;
  EXPECT_EQ(quiet.out, "");
}

TEST_F(PreviewCommandTest, RefusesDamagedPacksUnloadableScreensAndBadArgumentsWithoutWriting) {
  std::string bytes = test::readFileBytes(pack);
  bytes[bytes.size() - 30] = char(bytes[bytes.size() - 30] ^ 0x40);
  ASSERT_TRUE(test::writeFileBytes(dir.file("damaged.zrm"), bytes.data(), bytes.size()));
  ASSERT_TRUE(test::writeFileBytes(dir.file("kept.png"), "old", 3));
  ASSERT_TRUE(test::writeFileBytes(dir.file("broken.msscreen"), "MSSCREN", 7));
  const struct {
    std::string arguments;
    int status;
    const char* said; // part of the message
  } cases[] = {
      {"preview " + screen("title") + " damaged.zrm kept.png --force", 1, "damaged.zrm"},
      {"preview " + screen("title") + " damaged.zrm out.png --compare", 1, "damaged.zrm"},
      {"preview " + screen("title") + " none.zrm kept.png --force", 1, "none.zrm"},
      {"preview broken.msscreen '" + pack + "' kept.png --force", 1, "broken.msscreen"},
      {"preview " + screen("title") + " '" + pack + "' missing/out.png", 1,
       "output folder not found: missing"},
      {"sheet damaged.zrm kept.png --force", 1, "damaged.zrm"},
      {"preview " + screen("title") + " '" + pack + "'", 2, ""},
      {"sheet '" + pack + "' out.png --group 9", 2, ""},
      {"sheet '" + pack + "' out.png --columns 0", 2, ""},
  };
  for (const auto& c : cases) {
    const Outcome o = run(c.arguments);
    EXPECT_EQ(o.status, c.status) << c.arguments;
    EXPECT_NE(o.err.find(c.said), std::string::npos) << o.err;
  }
  EXPECT_EQ(test::readFileBytes(dir.file("kept.png")), "old");
  EXPECT_EQ(pathKind(dir.file("out.png")), PathKind::Missing);
  EXPECT_EQ(test::countTmpFiles(dir.path()), 0u);
}

// Pages no taller than asked, each as full as the next row allows: every entry once, on its page,
// in order; unpainted entries marked, and as many painted as the coverage counts; every page
// named in the JSON, and every page's name checked before the first is written.
TEST_F(PreviewCommandTest, SheetPagesSplitAtTheHeightAskedAndAreListedInTheJson) {
  const int limit = 256, pitch = 16 + kSheetGap;
  const Outcome o =
      run("sheet '" + pack + "' sheet.png --json --columns 1 --page-height " + std::to_string(limit));
  ASSERT_EQ(o.status, 0) << o.err;
  const auto j = nlohmann::json::parse(o.out);
  const auto& pages = j["pages"];
  ASSERT_GE(pages.size(), 3u);
  std::vector<Picture> pictures;
  for (std::size_t p = 0; p < pages.size(); ++p) {
    SCOPED_TRACE(p);
    const std::string name = p == 0 ? "sheet.png" : "sheet-" + std::to_string(p + 1) + ".png";
    EXPECT_EQ(pages[p]["path"], name);
    pictures.push_back(test::readPicture(dir.file(name)));
    EXPECT_EQ(pages[p]["width"], pictures.back().width);
    EXPECT_EQ(pages[p]["height"], pictures.back().height);
    EXPECT_LE(pictures.back().height, limit);
    if (p + 1 < pages.size()) {
      EXPECT_GT(pictures.back().height + sheetLabelHeight(2) + pitch, limit);
    }
  }
  EXPECT_FALSE(isRegularFile(dir.file("sheet-" + std::to_string(pages.size() + 1) + ".png")));

  const Outcome counted = run("coverage '" + test::kExampleFolder + "' --scale 2 --json");
  ASSERT_EQ(counted.status, 0) << counted.err;
  EXPECT_EQ(j["paintedCount"], nlohmann::json::parse(counted.out)["tiles"]["painted"]);
  ASSERT_EQ(j["entries"].size(), j["entryCount"]);
  std::pair<int, int> last{-1, 0};
  int painted = 0, lastPage = 1;
  for (const auto& e : j["entries"]) {
    const std::pair<int, int> entry{e["group"], e["index"]};
    EXPECT_LT(last, entry);
    last = entry;
    const int page = e["page"], x = e["x"], y = e["y"];
    ASSERT_GE(page, lastPage);
    ASSERT_LE(page, int(pages.size()));
    lastPage = page;
    const Picture& picture = pictures[std::size_t(page - 1)];
    ASSERT_LE(x + 16, picture.width);
    ASSERT_LE(y + 16, picture.height);
    painted += e["painted"].get<bool>();
    EXPECT_EQ(picture.at(x, y) == 0xFFFA3228u, !e["painted"].get<bool>())
        << entry.first << "," << entry.second;
  }
  EXPECT_EQ(painted, j["paintedCount"]);

  // A later page that exists stops the sheet before its first page is written.
  ASSERT_TRUE(test::writeFileBytes(dir.file("again-3.png"), "kept", 4));
  const Outcome refused =
      run("sheet '" + pack + "' again.png --columns 1 --page-height " + std::to_string(limit));
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("again-3.png"), std::string::npos) << refused.err;
  EXPECT_FALSE(isRegularFile(dir.file("again.png")));
  EXPECT_EQ(test::readFileBytes(dir.file("again-3.png")), "kept");
}

// A pattern of colours 0 and 1 only.
PatternEntry twoColourPattern(std::uint8_t seed) {
  PatternEntry p{};
  for (int row = 0; row < 8; ++row) p.planes[4 * row] = std::uint8_t(seed * 29 + row * 71);
  return p;
}

// Every tile entry appears once, group by group, each group on new rows; entries whose tiles the
// build merged show the same pixels; transparent pixels show the checkerboard.
TEST(SheetCommand, ShowsEveryEntryOnceAndEntriesThatShareATileShowTheSamePixels) {
  test::TempDir dir;
  const std::string input = dir.file("in");
  ASSERT_TRUE(createDirectory(input));
  test::TilesContent t;
  PaletteEntry a = test::makePalette(1), b = test::makePalette(2);
  std::memcpy(b.colours, a.colours, 2); // colours 0 and 1 alike: both draw the same tiles
  const std::uint32_t pa = t.addPalette(a), pb = t.addPalette(b);
  const std::uint32_t p = t.addPattern(twoColourPattern(1)), q = t.addPattern(twoColourPattern(2));
  for (const auto& [group, palette, pattern] :
       {std::tuple{0, pa, p}, {0, pb, p}, {0, pa, q}, {4, pa, p}, {4, pb, p}, {8, pb, q}, {8, pa, q}})
    t.addEntry(group, palette, pattern);
  ASSERT_TRUE(test::writeTilesFixture(joinPath(input, "game.mstiles"), t));
  std::vector<std::uint8_t> rom(32768, 0x11);
  std::memcpy(rom.data() + 0x7FF0, "TMR SEGA", 8);
  ASSERT_TRUE(test::writeFileBytes(dir.file("game.sms"), rom.data(), rom.size()));
  ASSERT_EQ(test::runZelvo(dir.path(), "build in --rom game.sms --output game.zrm --scale 2", dir).status, 0);
  Result<PackTiles> pack = readPackTiles(dir.file("game.zrm"));
  ASSERT_TRUE(pack) << pack.error().message();
  ASSERT_EQ(pack->tileCount, 4u);

  // Where each entry lies: its column, and the labels and rows above it on the page.
  const struct {
    const char* options;
    std::vector<std::array<int, 5>> layout; // group, index, column, labels, rows
    unsigned tiles;
  } cases[] = {
      {"--columns 2",
       {{0, 0, 0, 1, 0},
        {0, 1, 1, 1, 0},
        {0, 2, 0, 1, 1},
        {4, 0, 0, 2, 2},
        {4, 1, 1, 2, 2},
        {8, 0, 0, 3, 3},
        {8, 1, 1, 3, 3}},
       4},
      {"--group 4", {{4, 0, 0, 1, 0}, {4, 1, 1, 1, 0}}, 1},
      {"",
       {{0, 0, 0, 1, 0},
        {0, 1, 1, 1, 0},
        {0, 2, 2, 1, 0},
        {4, 0, 0, 2, 1},
        {4, 1, 1, 2, 1},
        {8, 0, 0, 3, 2},
        {8, 1, 1, 3, 2}},
       4},
  };
  const int label = sheetLabelHeight(2), pitch = 16 + kSheetGap;
  RgbaImage markImage = makeRgbaImage(16, 16).value();
  markUnpaintedTile(markImage, 0, 0, 16);
  const Picture mark = test::pictureOf(markImage);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options);
    const Outcome o =
        test::runZelvo(dir.path(), std::string("sheet game.zrm sheet.png --json --force ") + c.options, dir);
    ASSERT_EQ(o.status, 0) << o.err;
    const auto j = nlohmann::json::parse(o.out);
    EXPECT_EQ(j["tileCount"], c.tiles);
    EXPECT_EQ(j["paintedCount"], 0) << "no image painted any tile";
    ASSERT_EQ(j["entryCount"], c.layout.size());
    EXPECT_EQ(j["entries"][0]["tile"], j["entries"][1]["tile"]) << "the first two entries share their tile";
    std::string kind;
    const Picture sheet = test::readPicture(dir.file("sheet.png"), &kind);
    EXPECT_EQ(kind, "PNG, 8-bit RGB") << "the sheet is opaque";
    EXPECT_EQ(j["width"], sheet.width);
    EXPECT_EQ(j["height"], sheet.height);
    EXPECT_EQ(j["pages"],
              nlohmann::json::parse(R"([{"path": "sheet.png", "width": )" + std::to_string(sheet.width) +
                                    R"(, "height": )" + std::to_string(sheet.height) + "}]"));
    const int top = j["entries"][0]["y"].get<int>() - label; // beneath the legend
    EXPECT_GT(top, 0);
    int right = 0, bottom = 0;
    for (std::size_t i = 0; i < c.layout.size(); ++i) {
      const auto& e = j["entries"][i];
      const auto [group, index, column, labels, rows] = c.layout[i];
      const int x = kSheetGap + column * pitch, y = top + labels * label + rows * pitch;
      EXPECT_EQ(e["group"], group);
      EXPECT_EQ(e["index"], index);
      EXPECT_EQ(e["page"], 1);
      EXPECT_EQ(e["x"], x);
      EXPECT_EQ(e["y"], y);
      EXPECT_EQ(e["tile"], pack->tileNumber(group, std::uint32_t(index)));
      EXPECT_EQ(e["painted"], false);
      right = std::max(right, x + 16 + kSheetGap);
      bottom = std::max(bottom, y + 16 + kSheetGap);
      // The entry's tile, opaque pixels as they are and transparent ones showing the checkerboard,
      // under the mark of an unpainted tile in its top-left corner.
      const std::uint8_t* tile = pack->tile(group, std::uint32_t(index));
      Picture expected(16, 16);
      for (int py = 0; py < 16; ++py)
        for (int px = 0; px < 16; ++px) {
          std::uint32_t v;
          std::memcpy(&v, tile + 4 * (py * 16 + px), 4);
          const std::uint32_t grey = (px / kSheetChecker + py / kSheetChecker) % 2 ? 0x8C : 0xC8;
          expected.at(px, py) = v >> 24 == 255 ? v : v >> 24 == 0 ? 0xFF000000u | grey * 0x10101u : 0;
          if (mark.at(px, py)) expected.at(px, py) = mark.at(px, py);
        }
      EXPECT_EQ(test::difference(test::cut(sheet, x, y, 16, 16), expected), "") << "entry " << i;
    }
    EXPECT_GE(sheet.width, right);
    EXPECT_EQ(sheet.height, bottom);
  }
}

} // namespace
} // namespace zelvo
