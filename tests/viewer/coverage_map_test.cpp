// Coverage maps of a made-up capture folder: the example's title screen painted over one
// rectangle of cells, and its level screen without an image.
#include "viewer/coverage_map.h"

#include "render/image_save.h"
#include "support/example_pack.h"
#include "viewer/screen_render.h"

#include <gtest/gtest.h>

#include <map>

namespace zelvo {
namespace {

constexpr int kScale = 2;
constexpr int kPaintedRows[2] = {1, 3}, kPaintedColumns[2] = {4, 8}; // the rectangle, ends excluded

// The folder: the example's tiles, title and level screens, and the title's export at 2x with
// the rectangle painted magenta.
std::string paintedFolder(const test::TempDir& dir) {
  const std::string folder = dir.file("game");
  (void)createDirectory(folder);
  for (const char* name : {"game.mstiles", "title.msscreen", "level.msscreen"}) {
    const std::string bytes = test::readFileBytes(joinPath(test::kExampleFolder, name));
    test::writeFileBytes(joinPath(folder, name), bytes.data(), bytes.size());
  }
  ScreenFile title;
  if (!readScreenFile(title, joinPath(folder, "title.msscreen"))) return {};
  Result<RgbaImage> image = renderBackground(title, true, kScale);
  if (!image) return {};
  const int edge = 8 * kScale;
  fillRect(*image, kPaintedColumns[0] * edge, kPaintedRows[0] * edge,
           (kPaintedColumns[1] - kPaintedColumns[0]) * edge, (kPaintedRows[1] - kPaintedRows[0]) * edge,
           {255, 0, 255, 255});
  return saveImageAtomically(*image, ImageFormat::Png, joinPath(folder, "title.png")) ? folder
                                                                                      : std::string();
}

// Each square's kind read back from its map by the colour of its corner, which lies on the
// square's edge: the map's classes are the coverage's counts, each cell of the rectangle is
// painted here, and the map is the export's size with the legend beneath.
TEST(CoverageMap, EachSquareShowsTheKindTheCoverageCountsItAs) {
  test::TempDir dir;
  const std::string folder = paintedFolder(dir);
  ASSERT_FALSE(folder.empty());
  Result<Coverage> coverage = countFolderCoverage(folder, kScale);
  ASSERT_TRUE(coverage) << coverage.error().message();
  ASSERT_EQ(coverage->screens.size(), 2u);
  EXPECT_EQ(coverage->squareEdge, 16u);

  std::map<std::uint32_t, SquareKind> kindOfColour;
  for (SquareKind kind : {SquareKind::PaintedHere, SquareKind::PaintedElsewhere, SquareKind::Unpainted}) {
    const Colour c = squareTint(kind);
    kindOfColour[std::uint32_t(c.red) << 16 | std::uint32_t(c.green) << 8 | c.blue] = kind;
  }
  for (const ScreenCoverage& screen : coverage->screens) {
    SCOPED_TRACE(screen.screen);
    ScreenFile file;
    ASSERT_TRUE(readScreenFile(file, joinPath(folder, screen.screen)));
    Result<RgbaImage> plain = renderBackground(file, true, kScale);
    Result<RgbaImage> map = renderCoverageMap(file, screen, kScale);
    ASSERT_TRUE(plain && map);
    EXPECT_EQ(map->width, plain->width);
    EXPECT_GT(map->height, plain->height + 20) << "the legend";

    std::size_t counted[3] = {};
    for (const CoverageSquare& square : screen.squares) {
      ASSERT_GE(square.left, 0);
      const std::uint8_t* p = map->at(std::uint32_t(square.left), std::uint32_t(square.top));
      const auto found = kindOfColour.find(std::uint32_t(p[0]) << 16 | std::uint32_t(p[1]) << 8 | p[2]);
      ASSERT_NE(found, kindOfColour.end()) << square.left << "," << square.top;
      EXPECT_EQ(found->second, square.kind) << square.left << "," << square.top;
      ++counted[int(found->second)];
      const int row = square.top / 16, column = square.left / 16;
      const bool inRectangle = screen.screen == "title.msscreen" && row >= kPaintedRows[0] &&
                               row < kPaintedRows[1] && column >= kPaintedColumns[0] &&
                               column < kPaintedColumns[1];
      EXPECT_EQ(found->second == SquareKind::PaintedHere, inRectangle) << row << "," << column;
    }
    EXPECT_EQ(counted[0], screen.paintedHere);
    EXPECT_EQ(counted[1], screen.paintedElsewhere);
    EXPECT_EQ(counted[2], screen.unpainted);
    EXPECT_EQ(screen.squares.size(), screen.paintedHere + screen.paintedElsewhere + screen.unpainted);
  }
  EXPECT_EQ(coverage->screens[1].paintedHere, 8u);
  // The rectangle is sky: the title's other sky cells show a tile painted elsewhere.
  EXPECT_GT(coverage->screens[1].paintedElsewhere, 0u);
  EXPECT_GT(coverage->screens[1].unpainted, 0u);
}

} // namespace
} // namespace zelvo
