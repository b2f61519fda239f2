// The one image type of the program: what artists' files are read into, what the renderers draw,
// and what is saved as PNG or BMP. Also the bridge to the tiles as the decoders, the enlargement
// and the pack hold them (4 bytes a pixel: blue, green, red, alpha).
#pragma once

#include "platform/error.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace zelvo {

// The file types images are read from and saved as.
enum class ImageFormat { Png, Bmp };

// 4 bytes per pixel in the order red, green, blue, alpha; rows from the top, no padding.
struct RgbaImage {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::unique_ptr<std::uint8_t[]> pixels;

  std::size_t byteCount() const { return std::size_t(width) * height * 4; }
  std::uint8_t* row(std::uint32_t y) { return pixels.get() + std::size_t(y) * width * 4; }
  const std::uint8_t* row(std::uint32_t y) const { return pixels.get() + std::size_t(y) * width * 4; }
  std::uint8_t* at(std::uint32_t x, std::uint32_t y) { return row(y) + std::size_t(x) * 4; }
  const std::uint8_t* at(std::uint32_t x, std::uint32_t y) const { return row(y) + std::size_t(x) * 4; }
};

// An image of `width` x `height` pixels, every byte 0 (transparent black); OutOfMemory, naming
// `name`, when the memory cannot be had.
Result<RgbaImage> makeRgbaImage(std::uint32_t width, std::uint32_t height, const std::string& name = {});

// Every pixel of `image` set to `red`, `green`, `blue`, `alpha`.
void fillImage(RgbaImage& image, std::uint8_t red, std::uint8_t green, std::uint8_t blue, std::uint8_t alpha);

// Whether every pixel has alpha 255.
bool isOpaque(const RgbaImage& image);

// The `width` x `height` pixels of `image` whose top-left corner is (left, top); the rectangle
// lies wholly inside the image.
Result<RgbaImage> cropImage(const RgbaImage& image, std::uint32_t left, std::uint32_t top,
                            std::uint32_t width, std::uint32_t height);

// Copies `from` into `into` with its top-left corner at (left, top); it lies wholly inside.
void pasteImage(RgbaImage& into, const RgbaImage& from, std::uint32_t left, std::uint32_t top);

// A tile square: `edge` x `edge` pixels of 4 bytes blue, green, red, alpha, top row first, as
// enlargeTileBlock (render/scale.h) and the pack give them.
//
// putTile copies the square into `image` with its top-left corner at (left, top); putPaintedTile
// copies only its pixels other than kUnpaintedPixel, made opaque. The square lies wholly inside.
void putTile(RgbaImage& image, const std::uint8_t* tile, std::uint32_t edge, std::uint32_t left,
             std::uint32_t top);
void putPaintedTile(RgbaImage& image, const std::uint8_t* tile, std::uint32_t edge, std::uint32_t left,
                    std::uint32_t top);

// A pixel value (a 32-bit word of a tile square) that the decoders' opaque sprite drawing never
// writes (its top byte is always 0) and that the enlargement copies but never makes: it marks
// colour number 0 through an enlargement.
inline constexpr std::uint32_t kUnpaintedPixel = 0xFF000000u;

} // namespace zelvo
