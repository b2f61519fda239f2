// The PNG and BMP writers, read back by the image reader and looked at byte by byte where the
// format leaves the writer a choice.
#include "render/image_save.h"

#include "platform/byte_io.h"
#include "render/image_read.h"
#include "support/image_files.h"

#include <gtest/gtest.h>

namespace zelvo {
namespace {

using Bytes = std::vector<std::uint8_t>;

RgbaImage imageOf(const test::Picture& p) {
  RgbaImage image = makeRgbaImage(std::uint32_t(p.width), std::uint32_t(p.height)).value();
  std::copy(p.rgba.begin(), p.rgba.end(), image.pixels.get());
  return image;
}

Bytes bytesOf(const Result<EncodedImage>& encoded) {
  return encoded ? Bytes(encoded->bytes.get(), encoded->bytes.get() + encoded->size) : Bytes();
}

// The RGBA bytes the reader decodes from `bytes`, and the kind its header names.
Bytes decoded(const Bytes& bytes, std::string& kind) {
  Result<ImageInfo> info = readImageHeader(bytes, "image");
  kind = info ? info->kind : info.error().message();
  Result<RgbaImage> image = readImageFromMemory(bytes, "image");
  return image ? Bytes(image->pixels.get(), image->pixels.get() + image->byteCount()) : Bytes();
}

TEST(ImageSave, PngAndBmpPairHoldThePixelsAndOnlyTheChannelsNeeded) {
  // Widths that leave every BMP row padding length (0 to 3 bytes), one row or several.
  for (const auto& [width, height] : {std::pair{1, 1}, {2, 3}, {3, 2}, {5, 4}, {8, 1}}) {
    SCOPED_TRACE(std::to_string(width) + " x " + std::to_string(height));
    const test::Picture random = test::randomPicture(width, height, unsigned(width * 16 + height));
    test::Picture opaque = random;
    for (std::size_t i = 3; i < opaque.rgba.size(); i += 4) opaque.rgba[i] = 255;
    std::string kind;

    // PNG: RGB when every pixel is opaque, else RGBA with the colours of transparent pixels kept.
    EXPECT_EQ(decoded(bytesOf(encodePng(imageOf(opaque), "a.png")), kind), opaque.rgba);
    EXPECT_EQ(kind, "PNG, 8-bit RGB");
    test::Picture seeThrough = opaque;
    seeThrough.rgba[3] = 0;
    EXPECT_EQ(decoded(bytesOf(encodePng(imageOf(seeThrough), "a.png")), kind), seeThrough.rgba);
    EXPECT_EQ(kind, "PNG, 8-bit RGBA");

    // BMP: the colours at 24 bits; the alpha image's grey is the alpha.
    const Bytes colour = bytesOf(encodeBmp(imageOf(random), "a.bmp"));
    EXPECT_EQ(decoded(colour, kind), opaque.rgba);
    EXPECT_EQ(kind, "BMP, 40-byte header, 24 bits");
    const Bytes alpha = bytesOf(encodeAlphaBmp(imageOf(random), "a_alpha.bmp"));
    Bytes grey;
    for (std::size_t i = 3; i < random.rgba.size(); i += 4)
      grey.insert(grey.end(), {random.rgba[i], random.rgba[i], random.rgba[i], 255});
    EXPECT_EQ(decoded(alpha, kind), grey);
    EXPECT_EQ(kind, "BMP, 40-byte header, 8 bits");

    // The headers: the file's size, where the rows start, 72 dots per inch, and a palette of
    // 256 entries only for the alpha image; rows padded to 4 bytes.
    const std::size_t pitch24 = (std::size_t(width) * 3 + 3) / 4 * 4,
                      pitch8 = (std::size_t(width) + 3) / 4 * 4;
    for (const auto& [file, offset, pitch, colours] :
         {std::tuple{&colour, 54u, pitch24, 0u}, std::tuple{&alpha, 54u + 1024u, pitch8, 256u}}) {
      ASSERT_EQ(file->size(), offset + pitch * height);
      EXPECT_EQ(loadLE32(file->data() + 2), file->size());
      EXPECT_EQ(loadLE32(file->data() + 10), offset);
      EXPECT_EQ(loadLE32(file->data() + 38), 2835u);
      EXPECT_EQ(loadLE32(file->data() + 42), 2835u);
      EXPECT_EQ(loadLE32(file->data() + 46), colours);
    }
  }
}

} // namespace
} // namespace zelvo
