// The tile enlargement against ImageMagick's own Scale2x magnification, an implementation none
// of us wrote. ImageMagick 6.9 compares pixel intensities, not whole pixel values, so the
// pictures use only opaque colours of distinct intensity.
#include <algorithm>
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "render/image_read.h"
#include "render/image_save.h"
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

// 0xRRGGBB pixels as an opaque image.
RgbaImage imageOf(const Picture& p) {
  RgbaImage image = makeRgbaImage(p.width, p.height).value();
  for (unsigned i = 0; i < p.width * p.height; ++i) {
    const std::uint32_t v = p.pixels[i];
    const std::uint8_t rgba[4] = {std::uint8_t(v >> 16), std::uint8_t(v >> 8), std::uint8_t(v), 255};
    std::copy_n(rgba, 4, image.pixels.get() + 4 * std::size_t(i));
  }
  return image;
}

// The image's pixels as 0xRRGGBB, alpha dropped.
Picture rgbOf(const RgbaImage& image) {
  Picture p{image.width, image.height, {}};
  for (std::size_t i = 0; i < image.byteCount(); i += 4)
    p.pixels.push_back(std::uint32_t(image.pixels[i]) << 16 | std::uint32_t(image.pixels[i + 1]) << 8 |
                       image.pixels[i + 2]);
  return p;
}

TEST(EnlargeTileBlock, AgreesWithImageMagickAtScale2) {
  if (!convertAvailable()) GTEST_SKIP() << "ImageMagick's convert is not installed (package imagemagick)";
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
    const Picture p = randomPicture(rng, 8, 8, colours);
    const std::string in = dir.file("in.png"), out = dir.file("out.png");
    ASSERT_TRUE(saveImageAtomically(imageOf(p), ImageFormat::Png, in));
    const std::string command = "convert \"" + in +
                                "\" -define magnify:method=scale2x -magnify \"PNG32:" + out + "\" > " +
                                kNullDevice + " 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;

    Picture ours = enlargedBlock(p, 2);
    for (std::uint32_t& pixel : ours.pixels) pixel &= 0x00FFFFFF;
    Result<RgbaImage> theirs = readImage(out);
    ASSERT_TRUE(theirs) << theirs.error().message();
    EXPECT_EQ(rgbOf(*theirs), ours);
  }
}

} // namespace
} // namespace zelvo::test
