#include <gtest/gtest.h>

#include "render/scale.h"
#include "scale_test_util.h"

namespace zelvo::test {
namespace {

// The 3x3 output block of the centre pixel of a 3x3 neighbourhood (rows A B C / D E F / G H I).
Grid centreBlock(const Grid& neighbourhood) {
  const Grid out = scaledGrid(3, neighbourhood);
  if (out.size() != 9) return out;
  return {out[3].substr(3, 3), out[4].substr(3, 3), out[5].substr(3, 3)};
}

TEST(Scale3xRow, WholePicturesOfOneColourTwoColoursAndNoEqualNeighbours) {
  EXPECT_EQ(scaledGrid(3, {"AA", "AA"}), Grid(6, "AAAAAA"));
  EXPECT_EQ(scaledGrid(3, {"XY", "YY"}), (Grid{"XXXYYY", //
                                               "XXYYYY", //
                                               "XYYYYY", //
                                               "YYYYYY", //
                                               "YYYYYY", //
                                               "YYYYYY"}));
  EXPECT_EQ(scaledGrid(3, {"ABC", "DEF", "GHI"}), (Grid{"AAABBBCCC", //
                                                        "AAABBBCCC", //
                                                        "AAABBBCCC", //
                                                        "DDDEEEFFF", //
                                                        "DDDEEEFFF", //
                                                        "DDDEEEFFF", //
                                                        "GGGHHHIII", //
                                                        "GGGHHHIII", //
                                                        "GGGHHHIII"}));
}

TEST(Scale3xRow, CornersAndEdgeMidpointsFollowTheEqualEdges) {
  // Upper-left edge pair X and lower-right edge pair Y.
  EXPECT_EQ(centreBlock({"XXZ", "XEY", "WYY"}), (Grid{"XXE", "XEY", "EYY"}));
  // The same with E continuing the diagonal at C and G: the midpoints stay E.
  EXPECT_EQ(centreBlock({"XXE", "XEY", "EYY"}), (Grid{"XEE", "EEE", "EEY"}));
  // One equal edge pair per corner; a midpoint takes the neighbour unless E sits in the
  // far corner of that edge.
  EXPECT_EQ(centreBlock({"AXC", "XEF", "GHI"}), (Grid{"XXE", "XEE", "EEE"}));
  EXPECT_EQ(centreBlock({"EXX", "DEX", "GHI"}), (Grid{"EEX", "EEX", "EEE"}));
  EXPECT_EQ(centreBlock({"ABC", "XEF", "GXE"}), (Grid{"EEE", "XEE", "XEE"}));
  EXPECT_EQ(centreBlock({"ABC", "DEY", "GYI"}), (Grid{"EEE", "EEY", "EYY"}));
  // Equal opposite neighbours leave the block whole.
  EXPECT_EQ(centreBlock({"XXB", "XEX", "CXD"}), (Grid{"EEE", "EEE", "EEE"}));
}

TEST(Scale3xRow, PixelsDifferingOnlyInTheTopByteAreDifferentColours) {
  EXPECT_EQ(scaledGrid(3, {"xX", "XX"}), (Grid{"xxxXXX", //
                                               "xxXXXX", //
                                               "xXXXXX", //
                                               "XXXXXX", //
                                               "XXXXXX", //
                                               "XXXXXX"}));
}

TEST(Scale3xRow, MatchesTheReferenceOnRandomRows) {
  std::mt19937 rng(33);
  for (int round = 0; round < 300; ++round) {
    const unsigned width = round % 12, height = 1 + rng() % 5;
    const Picture p = randomPicture(rng, width, height, {0xFF112233, 0x00112233, 0xFF112234, 0x7F000000});
    EXPECT_EQ(scaleByRows(p, 3), referenceScale3x(p));
  }
}

} // namespace
} // namespace zelvo::test
