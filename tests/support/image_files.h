// Writers of PNG and BMP files in memory, for tests of the image reader (and seeds of its fuzzer):
// PNG through libspng's encoder in any colour type, depth and chunk mix; BMP byte by byte in any
// header, depth, mask and compression, including ones that lie.
//
//   Picture picture = randomPicture(13, 7, 1);
//   auto png = rgbaPng(picture);
//   BmpLayout layout;
//   layout.bits = 24;
//   auto bmp = bmpBytes(layout, 13, 7, bmpRows(13, 7, 24, false, [&](int x, int y) { ... }));
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace zelvo::test {

// width x height pixels, 4 bytes each (red, green, blue, alpha), rows from the top.
struct Picture {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> rgba;

  std::uint8_t* at(int x, int y) { return &rgba[(std::size_t(y) * width + x) * 4]; }
  const std::uint8_t* at(int x, int y) const { return &rgba[(std::size_t(y) * width + x) * 4]; }
};

// Every byte random (alpha included), from `seed`.
Picture randomPicture(int width, int height, unsigned seed);

struct PngLayout {
  std::uint8_t colourType = 6; // 0 grey, 2 RGB, 3 palette, 4 grey+alpha, 6 RGBA
  std::uint8_t bitDepth = 8;
  bool interlaced = false;
  std::vector<std::array<std::uint8_t, 4>> palette; // RGBA entries (colour type 3)
  bool transparency = false;                        // a tRNS chunk of the palette's alphas
  std::optional<double> gamma;                      // gAMA
  bool srgb = false;                                // sRGB
  bool iccProfile = false;                          // iCCP with a small profile
  bool chromaticities = false;                      // cHRM
  int filters = -1; // the row filters the encoder chooses from (SPNG_FILTER_CHOICE flags); -1: all
};

// A PNG of `samples`: rows from the top in the PNG's own layout (samples below 8 bits packed
// from the high bit, each row starting on a byte; 16-bit samples in host order), no filter bytes.
// Empty when the encoder refuses.
std::vector<std::uint8_t> pngBytes(const PngLayout& layout, int width, int height,
                                   const std::vector<std::uint8_t>& samples);
// The picture as an 8-bit RGBA PNG.
std::vector<std::uint8_t> rgbaPng(const Picture& picture);

// BI_RGB, BI_RLE8, BI_RLE4, BI_BITFIELDS, BI_ALPHABITFIELDS.
enum BmpCompression : std::uint32_t {
  kBmpRgb = 0,
  kBmpRle8 = 1,
  kBmpRle4 = 2,
  kBmpBitfields = 3,
  kBmpAlphaBitfields = 6
};

struct BmpLayout {
  std::uint32_t headerSize = 40; // 12, 40, 52, 56, 108, 124; other sizes get the fields of 56, then zeros
  std::uint16_t bits = 24;
  std::uint32_t compression = kBmpRgb;
  bool topDown = false; // a negative height
  // Red, green, blue, alpha: inside headers of 52 bytes and more; after a 40-byte header, three
  // (bit fields) or four (alpha bit fields).
  std::array<std::uint32_t, 4> masks = {};
  std::vector<std::array<std::uint8_t, 3>> palette; // red, green, blue
  std::optional<std::uint32_t> coloursUsed;         // default: the palette's size, 0 when full
  std::uint16_t planes = 1;
  std::optional<std::uint32_t> pixelOffset; // default: right after the palette
};

// A BMP file: headers, masks, palette, then `pixelData` as given.
std::vector<std::uint8_t> bmpBytes(const BmpLayout& layout, std::int32_t width, std::int32_t height,
                                   const std::vector<std::uint8_t>& pixelData);

// Uncompressed BMP rows in file order (bottom-up unless `topDown`), each padded to 4 bytes, of
// `value(x, y)` (y from the top): a palette index for 1 to 8 bits, the little-endian pixel for 16
// and 32, 0xRRGGBB for 24.
std::vector<std::uint8_t> bmpRows(int width, int height, int bits, bool topDown,
                                  const std::function<std::uint32_t(int, int)>& value);

// An RLE8 (or RLE4) stream of the palette indices `index(x, y)` (y from the top), rows bottom-up:
// runs of equal indices, literal stretches between them, and for pixels whose index is -1
// delta moves, early ends of line and an early end of bitmap.
std::vector<std::uint8_t> bmpRle(int width, int height, bool fourBits,
                                 const std::function<int(int, int)>& index);

} // namespace zelvo::test
