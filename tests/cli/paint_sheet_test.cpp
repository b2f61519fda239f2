// `zelvo sheet FOLDER OUT.png --to-paint` and the build that imports the sheet, run as a user runs
// them on the bundled example: what the pack holds afterwards, slot by slot.
#include "pipeline/pack_read.h"
#include "pipeline/sheet_map.h"
#include "render/image_read.h"
#include "render/image_save.h"
#include "support/example_pack.h"
#include "support/fixtures.h"
#include "tiles/tiles_file.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <array>
#include <cstring>
#include <vector>

namespace zelvo {
namespace {

using Outcome = test::CliOutcome;

constexpr int kBuildScale = 2;
const char* const kGameFiles[] = {"game.mstiles",     "level.bmp",   "level.msscreen", "level_alpha.bmp",
                                  "sprites.msscreen", "sprites.png", "title.msscreen", "title.png"};

enum class Resave { None, PngWithoutChunk, BmpPair };

struct RoundTrip {
  const char* name;
  int sheetScale = kBuildScale;
  bool repaintScreen = false; // title.png painted otherwise after the sheet was written
  bool paint = false;         // every slot painted
  Resave resave = Resave::None;
  bool dropTile = false; // the tile of the first slot leaves the capture before the build
};

// What an artist paints into slot `slot` of group `group` at (x, y): the colours of the tiles
// stored in the order blue, green, red, alpha; plain background tiles opaque.
std::array<std::uint8_t, 4> paintAt(std::size_t slot, int group, std::uint32_t x, std::uint32_t y) {
  const auto alpha = std::uint8_t(group < kPriorityGroupOffset ? 255 : (x * 17 + y * 5 + slot) & 255);
  return {std::uint8_t(slot * 101 + y * 7), std::uint8_t(slot * 37 + x * 11), std::uint8_t(x * y + slot),
          alpha};
}

void copyFile(const std::string& from, const std::string& to) {
  const std::string bytes = test::readFileBytes(from);
  ASSERT_FALSE(bytes.empty()) << from;
  ASSERT_TRUE(test::writeFileBytes(to, bytes.data(), bytes.size())) << to;
}

// The tiles file of `folder` without the entry that `slot` names.
void dropEntry(const std::string& folder, const SheetSlot& slot) {
  TileSet set;
  ASSERT_TRUE(readTilesFile(set, joinPath(folder, "game.mstiles")));
  test::TilesContent content = test::TilesContent::of(set);
  std::vector<TileEntry>& entries = content.groups[slot.group];
  const std::size_t before = entries.size();
  std::erase_if(entries, [&](const TileEntry& e) {
    return std::memcmp(content.palettes[e.paletteIndex].colours, slot.colours, 16) == 0 &&
           std::memcmp(content.patterns[e.patternIndex].planes, slot.planes, 32) == 0;
  });
  ASSERT_EQ(entries.size(), before - 1);
  ASSERT_TRUE(test::writeTilesFixture(joinPath(folder, "game.mstiles"), content));
}

// The tile of the entry that a slot names, held by the pack; null when the pack has none.
const std::uint8_t* tileOf(const PackTiles& pack, const SheetSlot& slot) {
  const std::uint32_t index = findEntryByContent(pack.tiles->groups[slot.group], slot.colours, slot.planes);
  return index == kNotFound ? nullptr : pack.tile(slot.group, index);
}

class PaintSheetTest : public ::testing::TestWithParam<RoundTrip> {
protected:
  Outcome run(const std::string& arguments) const { return test::runZelvo(dir.path(), arguments, dir); }
  // A copy of the example's capture in `folder`.
  void makeCapture(const std::string& folder) const {
    ASSERT_TRUE(createDirectory(folder));
    for (const char* file : kGameFiles)
      copyFile(joinPath(test::kExampleFolder, file), joinPath(folder, file));
  }
  Result<PackTiles> build(const std::string& folder, const std::string& pack,
                          Outcome* outcome = nullptr) const {
    const Outcome o = run("build '" + folder + "' --rom '" + test::kExampleRom + "' --output '" + pack +
                          "' --scale " + std::to_string(kBuildScale));
    EXPECT_EQ(o.status, 0) << o.out << o.err;
    if (outcome) *outcome = o;
    return readPackTiles(pack);
  }

  test::TempDir dir;
};

// Each case writes the sheet of every tile into the capture, changes what the case says, and
// builds: every slot's tile in the pack is the painted one or the one the same capture gives
// without the sheet.
TEST_P(PaintSheetTest, RoundTripHoldsOnThePacksTiles) {
  const RoundTrip& c = GetParam();
  const std::string game = dir.file("game"), plain = dir.file("plain"), sheet = joinPath(game, "tiles.png");
  makeCapture(game);
  const Outcome written =
      run("sheet '" + game + "' '" + sheet + "' --to-paint -s " + std::to_string(c.sheetScale));
  ASSERT_EQ(written.status, 0) << written.err;
  std::vector<PngText> texts;
  Result<RgbaImage> image = readImage(sheet, &texts);
  ASSERT_TRUE(image);
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0].keyword, kSheetMapKeyword);
  Result<SheetMap> map = parseSheetMap(test::readFileBytes(joinPath(game, "tiles.json")), "tiles.json");
  ASSERT_TRUE(map) << map.error().message();
  EXPECT_EQ(sheetMapJson(*map), texts[0].text); // the chunk and the sidecar say the same
  ASSERT_GT(map->slots.size(), 20u);

  if (c.repaintScreen) {
    Result<RgbaImage> title = readImage(joinPath(game, "title.png"));
    ASSERT_TRUE(title);
    for (std::size_t i = 0; i < title->byteCount(); i += 4) title->pixels[i] ^= 0x40;
    ASSERT_TRUE(saveImageAtomically(*title, ImageFormat::Png, joinPath(game, "title.png")));
  }
  if (c.paint)
    for (std::size_t s = 0; s < map->slots.size(); ++s) {
      const SheetSlot& slot = map->slots[s];
      for (std::uint32_t y = 0; y < slot.size; ++y)
        for (std::uint32_t x = 0; x < slot.size; ++x) {
          const auto bgra = paintAt(s, slot.group, x, y);
          const std::uint8_t rgba[4] = {bgra[2], bgra[1], bgra[0], bgra[3]};
          std::memcpy(image->at(std::uint32_t(slot.x) + x, std::uint32_t(slot.y) + y), rgba, 4);
        }
    }
  switch (c.resave) {
  case Resave::None: {
    Result<EncodedImage> encoded = encodePng(*image, sheet, texts);
    ASSERT_TRUE(encoded);
    ASSERT_TRUE(test::writeFileBytes(sheet, encoded->bytes.get(), encoded->size));
    break;
  }
  case Resave::PngWithoutChunk:
    ASSERT_TRUE(saveImageAtomically(*image, ImageFormat::Png, sheet));
    break;
  case Resave::BmpPair:
    ASSERT_TRUE(deleteFile(sheet));
    ASSERT_TRUE(saveBmpPair(*image, joinPath(game, "tiles.bmp"), joinPath(game, "tiles_alpha.bmp")));
    break;
  }
  if (c.dropTile) dropEntry(game, map->slots[0]);

  // The same capture without the sheet.
  makeCapture(plain);
  for (const char* file : {"game.mstiles", "title.png"})
    copyFile(joinPath(game, file), joinPath(plain, file));
  Result<PackTiles> expected = build(plain, dir.file("plain.zrm"));
  Outcome built;
  Result<PackTiles> pack = build(game, dir.file("game.zrm"), &built);
  ASSERT_TRUE(expected && pack);

  const std::string shown = c.resave == Resave::BmpPair ? "tiles.bmp" : "tiles.png";
  if (c.sheetScale != kBuildScale) {
    EXPECT_NE(built.out.find("Warning: sheet " + shown + " skipped: the sheet is painted at " +
                             std::to_string(c.sheetScale) + "x"),
              std::string::npos)
        << built.out;
  } else {
    const std::size_t replaced = c.paint ? map->slots.size() - c.dropTile : 0;
    std::string line = "Sheet " + shown + ": " + std::to_string(replaced) + " tiles replaced";
    if (c.dropTile) line += " (1 slot skipped: its tile is not in this capture)";
    EXPECT_NE(built.out.find(line + "\n"), std::string::npos) << built.out;
  }
  const std::size_t bytes = pack->tileBytes;
  for (std::size_t s = 0; s < map->slots.size(); ++s) {
    SCOPED_TRACE("slot " + std::to_string(s + 1));
    const SheetSlot& slot = map->slots[s];
    const std::uint8_t* tile = tileOf(*pack, slot);
    if (c.dropTile && s == 0) {
      EXPECT_EQ(tile, nullptr);
      continue;
    }
    ASSERT_NE(tile, nullptr);
    if (!c.paint || c.sheetScale != kBuildScale) {
      ASSERT_EQ(std::memcmp(tile, tileOf(*expected, slot), bytes), 0);
      continue;
    }
    std::vector<std::uint8_t> painted;
    for (std::uint32_t y = 0; y < slot.size; ++y)
      for (std::uint32_t x = 0; x < slot.size; ++x) {
        const auto bgra = paintAt(s, slot.group, x, y);
        painted.insert(painted.end(), bgra.begin(), bgra.end());
      }
    ASSERT_EQ(std::memcmp(tile, painted.data(), bytes), 0);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Sheets, PaintSheetTest,
    ::testing::Values(RoundTrip{"Untouched"}, RoundTrip{"UntouchedScreenRepaintedSince", kBuildScale, true},
                      RoundTrip{"EachSlotPainted", kBuildScale, false, true},
                      RoundTrip{"PaintedChunkStripped", kBuildScale, false, true, Resave::PngWithoutChunk},
                      RoundTrip{"PaintedAsBmpPair", kBuildScale, false, true, Resave::BmpPair},
                      RoundTrip{"WrongScale", 1, false, true},
                      RoundTrip{"TileLeftTheCapture", kBuildScale, false, true, Resave::None, true}),
    [](const ::testing::TestParamInfo<RoundTrip>& info) { return std::string(info.param.name); });

} // namespace
} // namespace zelvo
