#include "pipeline/coverage.h"

#include "pipeline/hires_tiles.h"

#include <gtest/gtest.h>

namespace zelvo {
namespace {

// A store of six entries in group 0 over five tiles (entries 2 and 3 share one), and screens whose
// squares show entries: which are painted here, elsewhere or not, and what to paint next.
TEST(Coverage, CountsCellsAndProposesTheScreensThatCoverTheMostUnpaintedEntries) {
  HiResTileTable table;
  table.scale = 1;
  table.entryCount = 6;
  table.groupCounts[0] = 6;
  for (int g = 2; g < kGroupCount; ++g) table.groupStarts[g - 2] = 6;
  table.entryOffsets.reset(new std::uint32_t[6]{0, 256, 512, 512, 768, 1024});
  struct Shown {
    std::uint32_t entry;
    bool painted; // the image differs from the export there
  };
  auto screen = [](std::vector<Shown> shown) {
    PreparedScreen prepared;
    prepared.info.imageSize.width = 64;
    prepared.info.imageSize.height = 8;
    int left = 0;
    for (const Shown& s : shown) {
      prepared.squares.push_back({{0, s.entry}, left, 0, {}, false, !s.painted});
      left += 8;
    }
    return prepared;
  };
  PaintLedger ledger;
  ledger.painted[0] = {};   // entry 0, painted by "a"
  ledger.painted[512] = {}; // entries 2 and 3 together, painted by "b"
  CoverageCounter counter;
  counter.addScreen("a", table, screen({{0, true}, {0, false}, {1, false}}), true);
  counter.addScreen("b", table, screen({{3, true}, {4, false}, {0, false}}), true);
  counter.addScreen("c", table, screen({{1, false}, {4, false}, {5, false}}), false); // no image
  counter.addScreen("d", table, screen({{5, false}, {2, false}}), true);
  const Coverage c = counter.finish(table, ledger);
  EXPECT_EQ(c.tilesTotal, 6u);
  EXPECT_EQ(c.tilesPainted, 3u); // 0, and 2 with 3
  EXPECT_EQ(c.cellsTotal, 11u);
  EXPECT_EQ(c.cellsPainted, 5u);
  const std::size_t expected[4][3] = {{1, 1, 1}, {1, 1, 1}, {0, 0, 3}, {0, 1, 1}};
  ASSERT_EQ(c.screens.size(), 4u);
  for (std::size_t s = 0; s < 4; ++s) {
    EXPECT_EQ(c.screens[s].paintedHere, expected[s][0]) << s;
    EXPECT_EQ(c.screens[s].paintedElsewhere, expected[s][1]) << s;
    EXPECT_EQ(c.screens[s].unpainted, expected[s][2]) << s;
  }
  // Each square keeps its place and its kind: "a" paints its first, and shows entry 1 unpainted.
  const std::vector<std::pair<int, SquareKind>> a = {
      {0, SquareKind::PaintedHere}, {8, SquareKind::PaintedElsewhere}, {16, SquareKind::Unpainted}};
  ASSERT_EQ(c.screens[0].squares.size(), a.size());
  for (std::size_t i = 0; i < a.size(); ++i) {
    EXPECT_EQ(c.screens[0].squares[i].left, a[i].first) << i;
    EXPECT_EQ(c.screens[0].squares[i].kind, a[i].second) << i;
  }
  EXPECT_EQ(c.squareEdge, 8u);
  // "c" shows all three unpainted entries; then nothing is left.
  ASSERT_EQ(c.next.size(), 1u);
  EXPECT_EQ(c.next[0].screen, "c");
  EXPECT_EQ(c.next[0].unpaintedTiles, 3u);
  EXPECT_EQ(coverageText(c), "3 of 6 tile entries painted (50 %)");
  EXPECT_EQ(groupedNumber(1234567), "1,234,567");

  // Without "c", two screens are needed, the larger gain first.
  CoverageCounter withoutC;
  withoutC.addScreen("a", table, screen({{1, false}}), true);
  withoutC.addScreen("d", table, screen({{5, false}, {4, false}}), true);
  const Coverage two = withoutC.finish(table, ledger);
  ASSERT_EQ(two.next.size(), 2u);
  EXPECT_EQ(two.next[0].screen, "d");
  EXPECT_EQ(two.next[0].unpaintedTiles, 2u);
  EXPECT_EQ(two.next[1].screen, "a");
}

} // namespace
} // namespace zelvo
