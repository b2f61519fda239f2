// BMP of our own: a 14-byte file header and a 40-byte BITMAPINFOHEADER, rows bottom-up, each
// padded with zeros to 4 bytes.
#include "platform/byte_io.h"
#include "render/image_save.h"

#include <cstring>

namespace zelvo {

namespace {

constexpr std::uint32_t kHeaderBytes = 14 + 40;
constexpr std::int32_t kDotsPerMetre = 2835; // 72 dots per inch

// Where the rows of a BMP lie: the file row of image row y starts at top - y * pitch.
struct BmpRows {
  std::uint8_t* top = nullptr;
  std::size_t pitch = 0;

  std::uint8_t* operator[](std::uint32_t y) const { return top - y * pitch; }
};

// A BMP of `image`'s size with `bits` per pixel and `paletteSize` entries, every byte after the
// headers 0, for the caller to write the palette and the rows into. Fails when the file would
// reach 4 GiB or memory cannot be had.
Result<EncodedImage> newBmp(const RgbaImage& image, std::uint16_t bits, std::uint32_t paletteSize,
                            BmpRows& rows, const std::string& name) {
  const std::size_t pitch = (std::size_t(image.width) * bits / 8 + 3) & ~std::size_t(3);
  const std::size_t offset = kHeaderBytes + std::size_t(paletteSize) * 4;
  const std::size_t size = offset + pitch * image.height;
  if (size > 0xFFFFFFFFu || image.width > 0x7FFFFFFFu || image.height > 0x7FFFFFFFu)
    return makeError(ErrorCause::LimitExceeded, name, "the image is too large for a BMP");
  EncodedImage out;
  out.bytes.reset(static_cast<std::uint8_t*>(std::calloc(size, 1)));
  if (!out.bytes) return makeError(ErrorCause::OutOfMemory, name, "no memory to encode the image");
  out.size = size;
  std::uint8_t* p = out.bytes.get();
  p[0] = 'B';
  p[1] = 'M';
  storeLE32(p + 2, std::uint32_t(size));
  storeLE32(p + 10, std::uint32_t(offset));
  storeLE32(p + 14, 40);
  storeLE32(p + 18, image.width);
  storeLE32(p + 22, image.height);
  storeLE16(p + 26, 1); // planes
  storeLE16(p + 28, bits);
  // Compression BI_RGB and the image size (which BI_RGB lets a writer leave 0) stay 0.
  storeLE32(p + 38, kDotsPerMetre);
  storeLE32(p + 42, kDotsPerMetre);
  storeLE32(p + 46, paletteSize);
  storeLE32(p + 50, paletteSize);
  rows.pitch = pitch;
  rows.top = p + offset + pitch * (image.height ? image.height - 1 : 0);
  return out;
}

} // namespace

Result<EncodedImage> encodeBmp(const RgbaImage& image, const std::string& name) {
  BmpRows rows;
  Result<EncodedImage> bmp = newBmp(image, 24, 0, rows, name);
  if (!bmp) return bmp;
  for (std::uint32_t y = 0; y < image.height; ++y) {
    const std::uint8_t* in = image.row(y);
    std::uint8_t* out = rows[y];
    for (std::uint32_t x = 0; x < image.width; ++x, in += 4, out += 3) {
      out[0] = in[2];
      out[1] = in[1];
      out[2] = in[0];
    }
  }
  return bmp;
}

Result<EncodedImage> encodeAlphaBmp(const RgbaImage& image, const std::string& name) {
  BmpRows rows;
  Result<EncodedImage> bmp = newBmp(image, 8, 256, rows, name);
  if (!bmp) return bmp;
  std::uint8_t* palette = bmp->bytes.get() + kHeaderBytes;
  for (std::uint32_t i = 0; i < 256; ++i) std::memset(palette + 4 * i, int(i), 3);
  for (std::uint32_t y = 0; y < image.height; ++y) {
    const std::uint8_t* in = image.row(y);
    std::uint8_t* out = rows[y];
    for (std::uint32_t x = 0; x < image.width; ++x) out[x] = in[std::size_t(x) * 4 + 3];
  }
  return bmp;
}

} // namespace zelvo
