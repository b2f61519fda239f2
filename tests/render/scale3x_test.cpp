#include <gtest/gtest.h>

#include "render/scale.h"
#include "scale_test_util.h"

namespace zelvo::test {
namespace {

constexpr unsigned kAllSizes[] = {8, 16, 24, 32};

// The 3x3 output block of the centre pixel of a 3x3 neighbourhood (rows A B C / D E F / G H I).
Grid centreBlock(const Grid& neighbourhood, unsigned bpp) {
  const Grid out = scaledGrid(Scale3xImage, neighbourhood, bpp);
  if (out.size() != 9) return out;
  return {out[3].substr(3, 3), out[4].substr(3, 3), out[5].substr(3, 3)};
}

TEST(Scale3xImage, WholeImagesOfOneColourTwoColoursAndNoEqualNeighbours) {
  for (unsigned bpp : kAllSizes) {
    SCOPED_TRACE(bpp);
    EXPECT_EQ(scaledGrid(Scale3xImage, {"AA", "AA"}, bpp), Grid(6, "AAAAAA"));
    EXPECT_EQ(scaledGrid(Scale3xImage, {"XY", "YY"}, bpp), (Grid{"XXXYYY", //
                                                                 "XXYYYY", //
                                                                 "XYYYYY", //
                                                                 "YYYYYY", //
                                                                 "YYYYYY", //
                                                                 "YYYYYY"}));
    EXPECT_EQ(scaledGrid(Scale3xImage, {"ABC", "DEF", "GHI"}, bpp), (Grid{"AAABBBCCC", //
                                                                          "AAABBBCCC", //
                                                                          "AAABBBCCC", //
                                                                          "DDDEEEFFF", //
                                                                          "DDDEEEFFF", //
                                                                          "DDDEEEFFF", //
                                                                          "GGGHHHIII", //
                                                                          "GGGHHHIII", //
                                                                          "GGGHHHIII"}));
  }
}

TEST(Scale3xImage, CornersAndEdgeMidpointsFollowTheEqualEdges) {
  for (unsigned bpp : kAllSizes) {
    SCOPED_TRACE(bpp);
    // Upper-left edge pair X and lower-right edge pair Y.
    EXPECT_EQ(centreBlock({"XXZ", "XEY", "WYY"}, bpp), (Grid{"XXE", "XEY", "EYY"}));
    // The same with E continuing the diagonal at C and G: the midpoints stay E.
    EXPECT_EQ(centreBlock({"XXE", "XEY", "EYY"}, bpp), (Grid{"XEE", "EEE", "EEY"}));
    // One equal edge pair per corner; a midpoint takes the neighbour unless E sits in the
    // far corner of that edge.
    EXPECT_EQ(centreBlock({"AXC", "XEF", "GHI"}, bpp), (Grid{"XXE", "XEE", "EEE"}));
    EXPECT_EQ(centreBlock({"EXX", "DEX", "GHI"}, bpp), (Grid{"EEX", "EEX", "EEE"}));
    EXPECT_EQ(centreBlock({"ABC", "XEF", "GXE"}, bpp), (Grid{"EEE", "XEE", "XEE"}));
    EXPECT_EQ(centreBlock({"ABC", "DEY", "GYI"}, bpp), (Grid{"EEE", "EEY", "EYY"}));
    // Equal opposite neighbours leave the block whole.
    EXPECT_EQ(centreBlock({"XXB", "XEX", "CXD"}, bpp), (Grid{"EEE", "EEE", "EEE"}));
  }
}

TEST(Scale3xImage, PixelsDifferingOnlyInTheTopByteAreDifferentColours) {
  for (unsigned bpp : {8u, 16u, 32u}) {
    SCOPED_TRACE(bpp);
    EXPECT_EQ(scaledGrid(Scale3xImage, {"xX", "XX"}, bpp), (Grid{"xxxXXX", //
                                                                 "xxXXXX", //
                                                                 "xXXXXX", //
                                                                 "XXXXXX", //
                                                                 "XXXXXX", //
                                                                 "XXXXXX"}));
  }
}

// Runs a 3x row operation over a picture in screen order, every row in its own exact-size
// buffer so that a read or write past a row end is caught by the sanitizer build.
template <typename T, typename RowOp> Picture scaleByRows3x(const Picture& p, RowOp op) {
  std::vector<std::vector<T>> rows;
  for (unsigned y = 0; y < p.height; ++y) {
    rows.emplace_back(p.pixels.begin() + std::ptrdiff_t(y * p.width),
                      p.pixels.begin() + std::ptrdiff_t((y + 1) * p.width));
  }
  Picture out{3 * p.width, 3 * p.height, {}};
  for (unsigned y = 0; y < p.height; ++y) {
    const std::vector<T>& above = y > 0 ? rows[y - 1] : rows[y];
    const std::vector<T>& below = y + 1 < p.height ? rows[y + 1] : rows[y];
    std::vector<T> top(3 * p.width), middle(3 * p.width), bottom(3 * p.width);
    op(rows[y].data(), above.data(), below.data(), top.data(), middle.data(), bottom.data(), p.width);
    for (const std::vector<T>* row : {&top, &middle, &bottom})
      out.pixels.insert(out.pixels.end(), row->begin(), row->end());
  }
  return out;
}

TEST(Scale3xRow, MatchesTheReferenceOnRandomRowsOfEveryPixelSize) {
  std::mt19937 rng(33);
  for (int round = 0; round < 300; ++round) {
    const unsigned width = round % 12, height = 1 + rng() % 5;
    const Picture p8 = randomPicture(rng, width, height, {7, 200, 3, 9});
    EXPECT_EQ(scaleByRows3x<std::uint8_t>(p8, Scale3xRow8), referenceScale3x(p8));
    const Picture p16 = randomPicture(rng, width, height, {0x8001, 0x0001, 0x1234, 0xFFFF});
    EXPECT_EQ(scaleByRows3x<std::uint16_t>(p16, Scale3xRow16), referenceScale3x(p16));
    const Picture p32 = randomPicture(rng, width, height, {0xFF112233, 0x00112233, 0xFF112234, 0x7F000000});
    EXPECT_EQ(scaleByRows3x<std::uint32_t>(p32, Scale3xRow32), referenceScale3x(p32));
  }
}

} // namespace
} // namespace zelvo::test
