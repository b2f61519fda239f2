#include <cstring>

#include <gtest/gtest.h>

#include "render/scale.h"
#include "scale_test_util.h"

namespace zelvo::test {
namespace {

// Few colours per pixel size, the first two differing only in their top byte where the size has one.
std::vector<std::uint32_t> coloursFor(unsigned bpp) {
  switch (bpp) {
  case 8:
    return {4, 132, 17, 255};
  case 16:
    return {0x0421, 0x8421, 0xF800, 0x001F};
  case 24:
    return {0x112233, 0x112234, 0xFFFFFF, 0x000000};
  default:
    return {0xFF102030, 0x00102030, 0xFF102031, 0x80FFFFFF};
  }
}

TEST(ScaleImage, MatchesTheReferenceOnRandomImagesOfEveryPixelSize) {
  std::mt19937 rng(7);
  for (unsigned bpp : {8u, 16u, 24u, 32u}) {
    SCOPED_TRACE(bpp);
    for (int round = 0; round < 120; ++round) {
      const Picture p = randomPicture(rng, 1 + rng() % 10, 1 + rng() % 9, coloursFor(bpp));
      const FiBitmap input = makeBitmap(p, bpp);
      const Picture before = readBitmap(input.get());
      const FiBitmap twice = Scale2xImage(input.get());
      const FiBitmap thrice = Scale3xImage(input.get());
      const FiBitmap four = Scale4xImage(input.get());
      ASSERT_TRUE(twice && thrice && four);
      EXPECT_EQ(FreeImage_GetBPP(twice.get()), bpp);
      EXPECT_EQ(FreeImage_GetBPP(thrice.get()), bpp);
      EXPECT_EQ(FreeImage_GetBPP(four.get()), bpp);
      EXPECT_EQ(readBitmap(twice.get()), referenceScale2x(p));
      EXPECT_EQ(readBitmap(thrice.get()), referenceScale3x(p));
      EXPECT_EQ(readBitmap(four.get()), referenceScale2x(referenceScale2x(p)));
      EXPECT_EQ(readBitmap(input.get()), before);
    }
  }
}

TEST(ScaleImage, KeepsThePaletteTransparencyAndColourMasks) {
  const Picture p = fromGrid({"AB", "BC"}, 8);
  const FiBitmap paletted = makeBitmap(p, 8);
  BYTE transparency[3] = {0, 128, 255};
  FreeImage_SetTransparencyTable(paletted.get(), transparency, 3);

  const FiBitmap masked555(
      FreeImage_Allocate(3, 2, 16, FI16_555_RED_MASK, FI16_555_GREEN_MASK, FI16_555_BLUE_MASK));
  for (auto scale : {Scale2xImage, Scale3xImage, Scale4xImage}) {
    const FiBitmap out = scale(paletted.get());
    ASSERT_TRUE(out);
    EXPECT_EQ(FreeImage_GetBPP(out.get()), 8u);
    EXPECT_EQ(std::memcmp(FreeImage_GetPalette(out.get()), FreeImage_GetPalette(paletted.get()),
                          256 * sizeof(RGBQUAD)),
              0);
    ASSERT_EQ(FreeImage_GetTransparencyCount(out.get()), 3u);
    EXPECT_EQ(std::memcmp(FreeImage_GetTransparencyTable(out.get()), transparency, 3), 0);

    const FiBitmap out16 = scale(masked555.get());
    ASSERT_TRUE(out16);
    EXPECT_EQ(FreeImage_GetRedMask(out16.get()), unsigned(FI16_555_RED_MASK));
    EXPECT_EQ(FreeImage_GetGreenMask(out16.get()), unsigned(FI16_555_GREEN_MASK));
    EXPECT_EQ(FreeImage_GetBlueMask(out16.get()), unsigned(FI16_555_BLUE_MASK));
  }
}

TEST(ScaleImage, SampleImagesOfOtherTypesKeepTheirType) {
  // 16-bit grey samples are whole words like any 16-bit pixel; the result must not turn
  // into a 16-bit colour bitmap.
  const FiBitmap grey(FreeImage_AllocateT(FIT_UINT16, 3, 2));
  auto* line = reinterpret_cast<std::uint16_t*>(FreeImage_GetScanLine(grey.get(), 1));
  line[0] = 0xBEEF;
  const FiBitmap out = Scale2xImage(grey.get());
  ASSERT_TRUE(out);
  EXPECT_EQ(FreeImage_GetImageType(out.get()), FIT_UINT16);
  EXPECT_EQ(readBitmap(out.get()), referenceScale2x(readBitmap(grey.get())));
}

TEST(ScaleImage, UnsupportedInputGivesNull) {
  const FiBitmap oneBit(FreeImage_Allocate(4, 4, 1));
  const FiBitmap fourBit(FreeImage_Allocate(4, 4, 4));
  const FiBitmap rgb16(FreeImage_AllocateT(FIT_RGB16, 4, 4));
  ASSERT_TRUE(oneBit && fourBit && rgb16);
  for (auto scale : {Scale2xImage, Scale3xImage, Scale4xImage}) {
    EXPECT_FALSE(scale(nullptr));
    EXPECT_FALSE(scale(oneBit.get()));
    EXPECT_FALSE(scale(fourBit.get()));
    EXPECT_FALSE(scale(rgb16.get()));
  }
}

} // namespace
} // namespace zelvo::test
