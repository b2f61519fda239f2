#include <gtest/gtest.h>

#include "render/scale.h"
#include "scale_test_util.h"

namespace zelvo::test {
namespace {

TEST(Scale2xRow, CopiesNeighboursIntoCornersWhereEqualEdgesMeet) {
  EXPECT_EQ(scaledGrid(2, {"AAA", "AAA"}), (Grid{"AAAAAA", "AAAAAA", "AAAAAA", "AAAAAA"}));
  // At the image corner the missing neighbours are the pixel itself: X loses only its
  // lower-right pixel.
  EXPECT_EQ(scaledGrid(2, {"XY", "YY"}), (Grid{"XXYY", //
                                               "XYYY", //
                                               "YYYY", //
                                               "YYYY"}));
  // E with X to the left and above, Y to the right and below.
  EXPECT_EQ(scaledGrid(2, {"PXQ", "XEY", "RYS"}), (Grid{"PPXXQQ", //
                                                        "PXXXQQ", //
                                                        "XXXEYY", //
                                                        "XXEYYY", //
                                                        "RRYYYS", //
                                                        "RRYYSS"}));
  // No equal neighbours: plain 2x2 blocks.
  EXPECT_EQ(scaledGrid(2, {"ABC", "DEF", "GHI"}), (Grid{"AABBCC", //
                                                        "AABBCC", //
                                                        "DDEEFF", //
                                                        "DDEEFF", //
                                                        "GGHHII", //
                                                        "GGHHII"}));
  // Equal opposite neighbours (a line through E) leave E whole; the corners fill in.
  EXPECT_EQ(scaledGrid(2, {"AXB", "XEX", "CXD"}), (Grid{"AAXXBB", //
                                                        "AXXXXB", //
                                                        "XXEEXX", //
                                                        "XXEEXX", //
                                                        "CXXXXD", //
                                                        "CCXXDD"}));
}

TEST(Scale2xRow, PixelsDifferingOnlyInTheTopByteAreDifferentColours) {
  // x is X with another alpha.
  {
    EXPECT_EQ(scaledGrid(2, {"xX", "XX"}), (Grid{"xxXX", "xXXX", "XXXX", "XXXX"}));
    EXPECT_EQ(scaledGrid(2, {"XY", "yY"}), (Grid{"XXYY", "XXYY", "yyYY", "yyYY"}));
  }
}

TEST(Scale2xRow, MatchesTheReferenceOnRandomRows) {
  std::mt19937 rng(2024);
  for (int round = 0; round < 300; ++round) {
    const unsigned width = round % 12, height = 1 + rng() % 5;
    const Picture p = randomPicture(rng, width, height, {0xFF112233, 0x00112233, 0xFF112234, 0x7F000000});
    EXPECT_EQ(scaleByRows(p, 2), referenceScale2x(p));
  }
}

TEST(Scale2xRow, WritesNothingForWidthZeroAndCopiesASinglePixel) {
  const std::uint32_t pixel = 5, other = 9;
  std::uint32_t upper[3] = {1, 1, 1}, lower[3] = {1, 1, 1};
  Scale2xRow32(&pixel, &other, &other, upper, lower, 0);
  EXPECT_EQ(upper[0], 1u);
  EXPECT_EQ(lower[0], 1u);
  Scale2xRow32(&pixel, &other, &other, upper, lower, 1);
  EXPECT_EQ((std::vector<std::uint32_t>(upper, upper + 3)), (std::vector<std::uint32_t>{5, 5, 1}));
  EXPECT_EQ((std::vector<std::uint32_t>(lower, lower + 3)), (std::vector<std::uint32_t>{5, 5, 1}));
}

} // namespace
} // namespace zelvo::test
