#include <gtest/gtest.h>

#include "render/scale.h"
#include "scale_test_util.h"

namespace zelvo::test {
namespace {

constexpr unsigned kAllSizes[] = {8, 16, 24, 32};

TEST(Scale2xImage, CopiesNeighboursIntoCornersWhereEqualEdgesMeet) {
  for (unsigned bpp : kAllSizes) {
    SCOPED_TRACE(bpp);
    EXPECT_EQ(scaledGrid(Scale2xImage, {"AAA", "AAA"}, bpp), (Grid{"AAAAAA", "AAAAAA", "AAAAAA", "AAAAAA"}));
    // At the image corner the missing neighbours are the pixel itself: X loses only its
    // lower-right pixel.
    EXPECT_EQ(scaledGrid(Scale2xImage, {"XY", "YY"}, bpp), (Grid{"XXYY", //
                                                                 "XYYY", //
                                                                 "YYYY", //
                                                                 "YYYY"}));
    // E with X to the left and above, Y to the right and below.
    EXPECT_EQ(scaledGrid(Scale2xImage, {"PXQ", "XEY", "RYS"}, bpp), (Grid{"PPXXQQ", //
                                                                          "PXXXQQ", //
                                                                          "XXXEYY", //
                                                                          "XXEYYY", //
                                                                          "RRYYYS", //
                                                                          "RRYYSS"}));
    // No equal neighbours: plain 2x2 blocks.
    EXPECT_EQ(scaledGrid(Scale2xImage, {"ABC", "DEF", "GHI"}, bpp), (Grid{"AABBCC", //
                                                                          "AABBCC", //
                                                                          "DDEEFF", //
                                                                          "DDEEFF", //
                                                                          "GGHHII", //
                                                                          "GGHHII"}));
    // Equal opposite neighbours (a line through E) leave E whole; the corners fill in.
    EXPECT_EQ(scaledGrid(Scale2xImage, {"AXB", "XEX", "CXD"}, bpp), (Grid{"AAXXBB", //
                                                                          "AXXXXB", //
                                                                          "XXEEXX", //
                                                                          "XXEEXX", //
                                                                          "CXXXXD", //
                                                                          "CCXXDD"}));
  }
}

TEST(Scale2xImage, PixelsDifferingOnlyInTheTopByteAreDifferentColours) {
  // x is X with another alpha (32 bits), high byte (16 bits) or palette index (8 bits).
  for (unsigned bpp : {8u, 16u, 32u}) {
    SCOPED_TRACE(bpp);
    EXPECT_EQ(scaledGrid(Scale2xImage, {"xX", "XX"}, bpp), (Grid{"xxXX", "xXXX", "XXXX", "XXXX"}));
    EXPECT_EQ(scaledGrid(Scale2xImage, {"XY", "yY"}, bpp), (Grid{"XXYY", "XXYY", "yyYY", "yyYY"}));
  }
}

TEST(Scale4xImage, IsScale2xTwice) {
  EXPECT_EQ(scaledGrid(Scale4xImage, {"XY", "YY"}, 32), (Grid{"XXXXYYYY", //
                                                              "XXXYYYYY", //
                                                              "XXXYYYYY", //
                                                              "XYYYYYYY", //
                                                              "YYYYYYYY", //
                                                              "YYYYYYYY", //
                                                              "YYYYYYYY", //
                                                              "YYYYYYYY"}));
}

// Runs a 2x row operation over a picture in screen order, every row in its own exact-size
// buffer so that a read or write past a row end is caught by the sanitizer build.
template <typename T, typename RowOp> Picture scaleByRows2x(const Picture& p, RowOp op) {
  std::vector<std::vector<T>> rows;
  for (unsigned y = 0; y < p.height; ++y) {
    rows.emplace_back(p.pixels.begin() + std::ptrdiff_t(y * p.width),
                      p.pixels.begin() + std::ptrdiff_t((y + 1) * p.width));
  }
  Picture out{2 * p.width, 2 * p.height, {}};
  for (unsigned y = 0; y < p.height; ++y) {
    const std::vector<T>& above = y > 0 ? rows[y - 1] : rows[y];
    const std::vector<T>& below = y + 1 < p.height ? rows[y + 1] : rows[y];
    std::vector<T> upper(2 * p.width), lower(2 * p.width);
    op(rows[y].data(), above.data(), below.data(), upper.data(), lower.data(), p.width);
    out.pixels.insert(out.pixels.end(), upper.begin(), upper.end());
    out.pixels.insert(out.pixels.end(), lower.begin(), lower.end());
  }
  return out;
}

TEST(Scale2xRow, MatchesTheReferenceOnRandomRowsOfEveryPixelSize) {
  std::mt19937 rng(2024);
  for (int round = 0; round < 300; ++round) {
    const unsigned width = round % 12, height = 1 + rng() % 5;
    const Picture p8 = randomPicture(rng, width, height, {7, 200, 3, 9});
    EXPECT_EQ(scaleByRows2x<std::uint8_t>(p8, Scale2xRow8), referenceScale2x(p8));
    const Picture p16 = randomPicture(rng, width, height, {0x8001, 0x0001, 0x1234, 0xFFFF});
    EXPECT_EQ(scaleByRows2x<std::uint16_t>(p16, Scale2xRow16), referenceScale2x(p16));
    const Picture p32 = randomPicture(rng, width, height, {0xFF112233, 0x00112233, 0xFF112234, 0x7F000000});
    EXPECT_EQ(scaleByRows2x<std::uint32_t>(p32, Scale2xRow32), referenceScale2x(p32));
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
