#include <gtest/gtest.h>

#include "render/scale.h"
#include "scale_test_util.h"

#include <cstring>

namespace zelvo::test {
namespace {

TEST(EnlargeTileBlock, MatchesTheReferenceAtEveryScale) {
  std::mt19937 rng(7);
  const std::vector<std::uint32_t> colours = {0xFF102030, 0x00102030, 0xFF102031, 0x80FFFFFF};
  for (int round = 0; round < 200; ++round) {
    const Picture p = randomPicture(rng, 8, 8, colours);
    EXPECT_EQ(enlargedBlock(p, 1), p);
    EXPECT_EQ(enlargedBlock(p, 2), referenceScale2x(p));
    EXPECT_EQ(enlargedBlock(p, 3), referenceScale3x(p));
    EXPECT_EQ(enlargedBlock(p, 4), referenceScale2x(referenceScale2x(p)));
  }
  // A corner of another colour at 4x, as Scale2x twice draws it.
  Grid grid(8, "YYYYYYYY");
  grid[0][0] = 'X';
  const Grid big = toGrid(enlargedBlock(fromGrid(grid), 4));
  const auto row = [](const char* xs) { return xs + std::string(32 - std::strlen(xs), 'Y'); };
  EXPECT_EQ(Grid(big.begin(), big.begin() + 5),
            (Grid{row("XXXX"), row("XXX"), row("XXX"), row("X"), row("")}));
}

TEST(EnlargeTileBlock, RejectsScalesOutsideOneToFour) {
  std::uint8_t block[256] = {};
  std::vector<std::uint8_t> tile(4096, 0xAB);
  EXPECT_FALSE(enlargeTileBlock(block, 0, tile.data()));
  EXPECT_FALSE(enlargeTileBlock(block, 5, tile.data()));
  EXPECT_EQ(tile, std::vector<std::uint8_t>(4096, 0xAB));
}

} // namespace
} // namespace zelvo::test
