// Images the program makes, encoded in memory and saved as files through an AtomicSave: a save
// that fails at any point leaves the old file as it was.
//
// PNG (libspng): 8-bit RGB when every pixel is opaque, else 8-bit RGBA with the colours of
// transparent pixels kept; 72 dots per inch. BMP: a 40-byte header, 24-bit BI_RGB rows bottom-up
// (the alpha dropped), or for the alpha image an 8-bit BMP of 256 greys whose index is the alpha.
#pragma once

#include "platform/atomic_save.h"
#include "platform/error.h"
#include "render/image_read.h"
#include "render/rgba_image.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>
#include <string>

namespace zelvo {

// An encoded image file held in memory.
struct EncodedImage {
  struct Free {
    void operator()(std::uint8_t* bytes) const { std::free(bytes); }
  };
  std::unique_ptr<std::uint8_t, Free> bytes;
  std::size_t size = 0;
};

// The encoders; `name` is the path that errors name. A PNG carries `texts` as compressed text
// chunks (zTXt) before its image data; keywords are 1 to 79 printable Latin-1 characters.
Result<EncodedImage> encodePng(const RgbaImage& image, const std::string& name,
                               std::span<const PngText> texts = {});
Result<EncodedImage> encodeBmp(const RgbaImage& image, const std::string& name);
Result<EncodedImage> encodeAlphaBmp(const RgbaImage& image, const std::string& name);

// Encodes `image` as `format` (for BMP, its colours) and writes it into a new save of `path`,
// which the caller commits (alone, or together with another). `replace`: what the save may replace.
Result<AtomicSave> writeImageSave(const RgbaImage& image, ImageFormat format, const std::string& path,
                                  ReplacePolicy replace = ReplacePolicy::anyFile());
// writeImageSave for the alpha BMP of `image`.
Result<AtomicSave> writeAlphaBmpSave(const RgbaImage& image, const std::string& path,
                                     ReplacePolicy replace = ReplacePolicy::anyFile());

// Saves `image` as `format` as the whole new content of `path`.
Status saveImageAtomically(const RgbaImage& image, ImageFormat format, const std::string& path,
                           ReplacePolicy replace = ReplacePolicy::anyFile());
// Saves `image` as a BMP at `path` and its alpha BMP at `alphaPath`; the two replace their old
// files together (commitTogether), or neither does.
Status saveBmpPair(const RgbaImage& image, const std::string& path, const std::string& alphaPath,
                   ReplacePolicy replace = ReplacePolicy::anyFile());

} // namespace zelvo
