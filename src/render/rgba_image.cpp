#include "render/rgba_image.h"

#include "render/image_codecs.h"

#include <cstring>
#include <new>

namespace zelvo {

namespace {

// The pixel of a tile word 0xAARRGGBB as red, green, blue, alpha.
void storeWord(std::uint8_t* pixel, std::uint32_t word) {
  pixel[0] = std::uint8_t(word >> 16);
  pixel[1] = std::uint8_t(word >> 8);
  pixel[2] = std::uint8_t(word);
  pixel[3] = std::uint8_t(word >> 24);
}

std::uint32_t loadWord(const std::uint8_t* tile, std::size_t index) {
  std::uint32_t word;
  std::memcpy(&word, tile + index * 4, 4);
  return word;
}

} // namespace

Result<RgbaImage> allocateRgbaImage(std::uint32_t width, std::uint32_t height, const std::string& name,
                                    bool zeroed) {
  RgbaImage image;
  image.width = width;
  image.height = height;
  const std::size_t size = image.byteCount();
  image.pixels.reset(zeroed ? new (std::nothrow) std::uint8_t[size]()
                            : new (std::nothrow) std::uint8_t[size]);
  if (!image.pixels)
    return makeError(ErrorCause::OutOfMemory, name,
                     "no memory for " + std::to_string(width) + " x " + std::to_string(height) + " pixels");
  return image;
}

Result<RgbaImage> makeRgbaImage(std::uint32_t width, std::uint32_t height, const std::string& name) {
  return allocateRgbaImage(width, height, name, true);
}

void fillImage(RgbaImage& image, std::uint8_t red, std::uint8_t green, std::uint8_t blue,
               std::uint8_t alpha) {
  const std::uint8_t pixel[4] = {red, green, blue, alpha};
  std::uint8_t* out = image.pixels.get();
  for (std::size_t i = 0, size = image.byteCount(); i < size; i += 4) std::memcpy(out + i, pixel, 4);
}

bool isOpaque(const RgbaImage& image) {
  for (std::size_t i = 3, size = image.byteCount(); i < size; i += 4)
    if (image.pixels[i] != 255) return false;
  return true;
}

Result<RgbaImage> cropImage(const RgbaImage& image, std::uint32_t left, std::uint32_t top,
                            std::uint32_t width, std::uint32_t height) {
  Result<RgbaImage> out = allocateRgbaImage(width, height, {}, false); // every byte copied
  if (!out) return out;
  for (std::uint32_t y = 0; y < height; ++y) std::memcpy(out->row(y), image.at(left, top + y), width * 4);
  return out;
}

void pasteImage(RgbaImage& into, const RgbaImage& from, std::uint32_t left, std::uint32_t top) {
  for (std::uint32_t y = 0; y < from.height; ++y)
    std::memcpy(into.at(left, top + y), from.row(y), std::size_t(from.width) * 4);
}

void putTile(RgbaImage& image, const std::uint8_t* tile, std::uint32_t edge, std::uint32_t left,
             std::uint32_t top) {
  for (std::uint32_t y = 0; y < edge; ++y) {
    std::uint8_t* out = image.at(left, top + y);
    for (std::uint32_t x = 0; x < edge; ++x, out += 4)
      storeWord(out, loadWord(tile, std::size_t(y) * edge + x));
  }
}

void putPaintedTile(RgbaImage& image, const std::uint8_t* tile, std::uint32_t edge, std::uint32_t left,
                    std::uint32_t top) {
  for (std::uint32_t y = 0; y < edge; ++y) {
    std::uint8_t* out = image.at(left, top + y);
    for (std::uint32_t x = 0; x < edge; ++x, out += 4) {
      const std::uint32_t word = loadWord(tile, std::size_t(y) * edge + x);
      if (word != kUnpaintedPixel) storeWord(out, word | 0xFF000000u);
    }
  }
}

} // namespace zelvo
