#include "render/scale.h"

#include <algorithm>
#include <climits>
#include <cstring>

#if defined(_MSC_VER)
#define ZELVO_SCALE_INLINE __forceinline
#else
#define ZELVO_SCALE_INLINE inline __attribute__((always_inline))
#endif

namespace zelvo {
namespace {

// ---------------------------------------------------------------------------------------------
// Scale2x. One source pixel E with left D, right F, above B and below H gives a 2x2 block.

template <typename T> ZELVO_SCALE_INLINE void block2x(T b, T d, T e, T f, T h, T* upper, T* lower) {
  if (b != h && d != f) {
    upper[0] = d == b ? d : e;
    upper[1] = b == f ? f : e;
    lower[0] = d == h ? d : e;
    lower[1] = h == f ? f : e;
  } else {
    upper[0] = upper[1] = lower[0] = lower[1] = e;
  }
}

template <typename T>
void scale2xRow(const T* centre, const T* above, const T* below, T* upper, T* lower, std::uint32_t width) {
  if (width == 0) return;
  if (width == 1) {
    // Both sides are the pixel itself, so D == F and the block is a plain copy.
    upper[0] = upper[1] = lower[0] = lower[1] = centre[0];
    return;
  }
  // x = 0: the left neighbour is the pixel itself.
  block2x(above[0], centre[0], centre[0], centre[1], below[0], upper, lower);
  const std::uint32_t last = width - 1;
  for (std::uint32_t x = 1; x < last; ++x) {
    block2x(above[x], centre[x - 1], centre[x], centre[x + 1], below[x], upper + 2 * x, lower + 2 * x);
  }
  // x = width - 1: the right neighbour is the pixel itself.
  block2x(above[last], centre[last - 1], centre[last], centre[last], below[last], upper + 2 * last,
          lower + 2 * last);
}

// ---------------------------------------------------------------------------------------------
// Scale3x. Neighbourhood A B C / D E F / G H I gives the block E0 E1 E2 / E3 E4 E5 / E6 E7 E8.

template <typename T>
ZELVO_SCALE_INLINE void block3x(T a, T b, T c, T d, T e, T f, T g, T h, T i, T* top, T* middle, T* bottom) {
  if (b != h && d != f) {
    const bool db = d == b;
    const bool bf = b == f;
    const bool dh = d == h;
    const bool hf = h == f;
    top[0] = db ? d : e;
    top[1] = (db && e != c) || (bf && e != a) ? b : e;
    top[2] = bf ? f : e;
    middle[0] = (db && e != g) || (dh && e != a) ? d : e;
    middle[1] = e;
    middle[2] = (bf && e != i) || (hf && e != c) ? f : e;
    bottom[0] = dh ? d : e;
    bottom[1] = (dh && e != i) || (hf && e != g) ? h : e;
    bottom[2] = hf ? f : e;
  } else {
    top[0] = top[1] = top[2] = e;
    middle[0] = middle[1] = middle[2] = e;
    bottom[0] = bottom[1] = bottom[2] = e;
  }
}

template <typename T>
void scale3xRow(const T* centre, const T* above, const T* below, T* top, T* middle, T* bottom,
                std::uint32_t width) {
  if (width == 0) return;
  if (width == 1) {
    // Both side columns are the centre column, so D == F and the block is a plain copy.
    const T e = centre[0];
    top[0] = top[1] = top[2] = e;
    middle[0] = middle[1] = middle[2] = e;
    bottom[0] = bottom[1] = bottom[2] = e;
    return;
  }
  // x = 0: the left column is the centre column.
  block3x(above[0], above[0], above[1], centre[0], centre[0], centre[1], below[0], below[0], below[1], top,
          middle, bottom);
  const std::uint32_t last = width - 1;
  for (std::uint32_t x = 1; x < last; ++x) {
    block3x(above[x - 1], above[x], above[x + 1], centre[x - 1], centre[x], centre[x + 1], below[x - 1],
            below[x], below[x + 1], top + 3 * x, middle + 3 * x, bottom + 3 * x);
  }
  // x = width - 1: the right column is the centre column.
  block3x(above[last - 1], above[last], above[last], centre[last - 1], centre[last], centre[last],
          below[last - 1], below[last], below[last], top + 3 * last, middle + 3 * last, bottom + 3 * last);
}

// ---------------------------------------------------------------------------------------------
// Whole images.

template <typename T> T* lineOf(FIBITMAP* bitmap, unsigned y) {
  return reinterpret_cast<T*>(FreeImage_GetScanLine(bitmap, static_cast<int>(y)));
}

// Runs the row operation of pixel type T over every source line, bottom line first. Output
// lines of source line y are factor * y (the side of the line below) up to factor * y + factor - 1
// (the side of the line above).
template <int Factor, typename T> void scaleLines(FIBITMAP* source, FIBITMAP* output) {
  const unsigned width = FreeImage_GetWidth(source);
  const unsigned height = FreeImage_GetHeight(source);
  for (unsigned y = 0; y < height; ++y) {
    const T* centre = lineOf<T>(source, y);
    const T* above = y + 1 < height ? lineOf<T>(source, y + 1) : centre;
    const T* below = y > 0 ? lineOf<T>(source, y - 1) : centre;
    if constexpr (Factor == 2) {
      scale2xRow<T>(centre, above, below, lineOf<T>(output, 2 * y + 1), lineOf<T>(output, 2 * y), width);
    } else {
      scale3xRow<T>(centre, above, below, lineOf<T>(output, 3 * y + 2), lineOf<T>(output, 3 * y + 1),
                    lineOf<T>(output, 3 * y), width);
    }
  }
}

template <int Factor> FiBitmap scaleImage(FIBITMAP* image) {
  if (!image) return nullptr;
  const unsigned bpp = FreeImage_GetBPP(image);
  const unsigned width = FreeImage_GetWidth(image);
  const unsigned height = FreeImage_GetHeight(image);
  if (bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) return nullptr;
  if (width == 0 || height == 0 || width > INT_MAX / Factor || height > INT_MAX / Factor) return nullptr;
  const int outWidth = static_cast<int>(width) * Factor;
  const int outHeight = static_cast<int>(height) * Factor;
  // Non-standard types (16-bit grey, 32-bit integer or float samples) keep their type: their
  // pixels are copied as whole words, so labelling them as colour bitmaps would be wrong.
  const FREE_IMAGE_TYPE type = FreeImage_GetImageType(image);

  if (bpp == 8) {
    const RGBQUAD* palette = FreeImage_GetPalette(image);
    if (!palette) return nullptr;
    FiBitmap output(FreeImage_AllocateT(type, outWidth, outHeight, 8, 0, 0, 0));
    if (!output) return nullptr;
    RGBQUAD* outPalette = FreeImage_GetPalette(output.get());
    if (!outPalette) return nullptr;
    const unsigned colours = std::min(FreeImage_GetColorsUsed(image), FreeImage_GetColorsUsed(output.get()));
    std::memcpy(outPalette, palette, colours * sizeof(RGBQUAD));
    // A transparent palette stays transparent.
    if (const unsigned count = FreeImage_GetTransparencyCount(image); count > 0) {
      FreeImage_SetTransparencyTable(output.get(), FreeImage_GetTransparencyTable(image),
                                     static_cast<int>(count));
    }
    scaleLines<Factor, std::uint8_t>(image, output.get());
    return output;
  }

  FiBitmap output(FreeImage_AllocateT(type, outWidth, outHeight, bpp == 24 ? 32 : static_cast<int>(bpp),
                                      FreeImage_GetRedMask(image), FreeImage_GetGreenMask(image),
                                      FreeImage_GetBlueMask(image)));
  if (!output) return nullptr;
  if (bpp == 16) {
    scaleLines<Factor, std::uint16_t>(image, output.get());
    return output;
  }
  if (bpp == 32) {
    scaleLines<Factor, std::uint32_t>(image, output.get());
    return output;
  }
  // 24 bits: enlarge a 32-bit copy and convert the result back.
  FiBitmap source(FreeImage_ConvertTo32Bits(image));
  if (!source) return nullptr;
  scaleLines<Factor, std::uint32_t>(source.get(), output.get());
  source.reset();
  return FiBitmap(FreeImage_ConvertTo24Bits(output.get()));
}

} // namespace

void Scale2xRow8(const std::uint8_t* centre, const std::uint8_t* above, const std::uint8_t* below,
                 std::uint8_t* upper, std::uint8_t* lower, std::uint32_t width) {
  scale2xRow(centre, above, below, upper, lower, width);
}

void Scale2xRow16(const std::uint16_t* centre, const std::uint16_t* above, const std::uint16_t* below,
                  std::uint16_t* upper, std::uint16_t* lower, std::uint32_t width) {
  scale2xRow(centre, above, below, upper, lower, width);
}

void Scale2xRow32(const std::uint32_t* centre, const std::uint32_t* above, const std::uint32_t* below,
                  std::uint32_t* upper, std::uint32_t* lower, std::uint32_t width) {
  scale2xRow(centre, above, below, upper, lower, width);
}

void Scale3xRow8(const std::uint8_t* centre, const std::uint8_t* above, const std::uint8_t* below,
                 std::uint8_t* top, std::uint8_t* middle, std::uint8_t* bottom, std::uint32_t width) {
  scale3xRow(centre, above, below, top, middle, bottom, width);
}

void Scale3xRow16(const std::uint16_t* centre, const std::uint16_t* above, const std::uint16_t* below,
                  std::uint16_t* top, std::uint16_t* middle, std::uint16_t* bottom, std::uint32_t width) {
  scale3xRow(centre, above, below, top, middle, bottom, width);
}

void Scale3xRow32(const std::uint32_t* centre, const std::uint32_t* above, const std::uint32_t* below,
                  std::uint32_t* top, std::uint32_t* middle, std::uint32_t* bottom, std::uint32_t width) {
  scale3xRow(centre, above, below, top, middle, bottom, width);
}

FiBitmap Scale2xImage(FIBITMAP* image) { return scaleImage<2>(image); }

FiBitmap Scale3xImage(FIBITMAP* image) { return scaleImage<3>(image); }

FiBitmap Scale4xImage(FIBITMAP* image) {
  FiBitmap twice = Scale2xImage(image);
  if (!twice) return nullptr;
  return Scale2xImage(twice.get());
}

} // namespace zelvo
