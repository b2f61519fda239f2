// Reading artists' images (PNG and BMP) into 8-bit RGBA pixels, exactly as stored: no gamma,
// colour profile or other correction. The type is told by the file's first bytes, never by its
// name. The header is read and checked first, so an image whose header is inconsistent or whose
// size exceeds the limits is refused, with a reason, before any pixel is decoded.
//
// Alpha: a PNG's own (alpha channel or tRNS chunk); a BMP's from its alpha mask, or the fourth
// byte of a 32-bit BI_RGB BMP unless all of them are 0 (then opaque); every other pixel is opaque,
// except pixels that a BMP's RLE stream skips, which are transparent black.
#pragma once

#include "platform/error.h"
#include "render/rgba_image.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace zelvo {

// The largest image side read: twice the largest export (1024 x 896 at 4x).
constexpr std::uint32_t kMaxImageSide = 2048;
// The largest image file read: room for the least compressible 2048 x 2048 PNG (16 bits per
// channel with alpha, stored without compression) and its ancillary chunks.
constexpr std::size_t kMaxImageFileBytes = std::size_t(40) << 20;
// How much of a file readImageHeader looks at: every BMP header, bit masks and palette, and a
// PNG's signature and header chunk, fit in it.
constexpr std::size_t kImageHeaderBytes = 4096;

struct ImageInfo {
  ImageFormat format = ImageFormat::Png;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::string kind; // for a person: "PNG, 8-bit palette, interlaced", "BMP, 40-byte header, 8 bits, RLE8"
};

// The header of the image in `bytes` (its start is enough: see kImageHeaderBytes); `name` is the
// path that errors name.
Result<ImageInfo> readImageHeader(std::span<const std::uint8_t> bytes, const std::string& name);
// The header of the image file at `path`, reading only its first kImageHeaderBytes.
Result<ImageInfo> readImageHeader(const std::string& path);

// A text chunk of a PNG (tEXt, zTXt or iTXt), its text uncompressed.
struct PngText {
  std::string keyword;
  std::string text;
};

// Decodes a whole image held in memory (a fuzz target feeds this). With `texts`, a PNG's text
// chunks (before and after the image data) are kept there; other types leave it empty.
Result<RgbaImage> readImageFromMemory(std::span<const std::uint8_t> bytes, const std::string& name,
                                      std::vector<PngText>* texts = nullptr);
// Reads the image file at `path`: the header first, the rest only when the header is accepted
// and the file is no larger than kMaxImageFileBytes. `texts` as readImageFromMemory.
Result<RgbaImage> readImage(const std::string& path, std::vector<PngText>* texts = nullptr);

} // namespace zelvo
