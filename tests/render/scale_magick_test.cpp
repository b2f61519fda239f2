// Scale2xImage against ImageMagick's own Scale2x magnification, an implementation none of us
// wrote. ImageMagick 6.9 compares pixel intensities, not whole pixel values, so the pictures
// use only opaque colours of distinct intensity.
#include <algorithm>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "render/scale.h"
#include "scale_test_util.h"
#include "support/temp_dir.h"

namespace zelvo::test {
namespace {

#if defined(_WIN32)
constexpr const char* kNullDevice = "NUL";
#else
constexpr const char* kNullDevice = "/dev/null";
#endif

bool convertAvailable() {
  const std::string command = std::string("convert -version > ") + kNullDevice + " 2>&1";
  return std::system(command.c_str()) == 0;
}

// ImageMagick's result as 32-bit pixels with the alpha byte dropped, rows top first.
Picture loadRgb(const std::string& path) {
  const FiBitmap loaded(FreeImage_Load(FIF_PNG, path.c_str(), PNG_DEFAULT));
  if (!loaded) return {};
  const FiBitmap rgba(FreeImage_ConvertTo32Bits(loaded.get()));
  if (!rgba) return {};
  Picture p = readBitmap(rgba.get());
  for (std::uint32_t& pixel : p.pixels) pixel &= 0x00FFFFFF;
  return p;
}

TEST(Scale2xImage, AgreesWithImageMagick) {
  if (!convertAvailable()) GTEST_SKIP() << "ImageMagick's convert is not installed (package imagemagick)";
  FreeImageSession session;
  TempDir dir;
  // Black, blue, red, green, yellow, white: distinct intensities.
  const std::vector<std::uint32_t> palette = {0x000000, 0x0000FF, 0xFF0000, 0x00FF00, 0xFFFF00, 0xFFFFFF};
  std::mt19937 rng(1966);
  for (int round = 0; round < 50; ++round) {
    SCOPED_TRACE(round);
    // A different handful of the colours each time, at most four.
    std::vector<std::uint32_t> colours = palette;
    std::shuffle(colours.begin(), colours.end(), rng);
    colours.resize(4);
    const Picture p = randomPicture(rng, 5 + rng() % 8, 4 + rng() % 6, colours);
    const FiBitmap input = makeBitmap(p, 24);
    const std::string in = dir.file("in.png"), out = dir.file("out.png");
    ASSERT_TRUE(FreeImage_Save(FIF_PNG, input.get(), in.c_str(), PNG_DEFAULT));
    const std::string command = "convert \"" + in +
                                "\" -define magnify:method=scale2x -magnify \"PNG32:" + out + "\" > " +
                                kNullDevice + " 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;

    const FiBitmap ours = Scale2xImage(input.get());
    ASSERT_TRUE(ours);
    EXPECT_EQ(loadRgb(out), readBitmap(ours.get()));
  }
}

} // namespace
} // namespace zelvo::test
