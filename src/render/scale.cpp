#include "render/scale.h"

#include <algorithm>
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

} // namespace

void Scale2xRow32(const std::uint32_t* centre, const std::uint32_t* above, const std::uint32_t* below,
                  std::uint32_t* upper, std::uint32_t* lower, std::uint32_t width) {
  scale2xRow(centre, above, below, upper, lower, width);
}

void Scale3xRow32(const std::uint32_t* centre, const std::uint32_t* above, const std::uint32_t* below,
                  std::uint32_t* top, std::uint32_t* middle, std::uint32_t* bottom, std::uint32_t width) {
  scale3xRow(centre, above, below, top, middle, bottom, width);
}

bool enlargeTileBlock(const std::uint8_t* block, std::uint32_t scale, std::uint8_t* tile) {
  if (scale < 1 || scale > 4) return false;
  std::uint32_t src[64];
  std::memcpy(src, block, kTileBlockBytes);
  auto row = [&src](int r) { return src + 8 * r; };

  if (scale == 1) {
    for (int r = 7; r >= 0; --r) std::memcpy(tile + (7 - r) * kTileBlockPitch, row(r), kTileBlockPitch);
    return true;
  }
  if (scale == 3) {
    std::uint32_t out[24 * 24];
    for (int r = 7; r >= 0; --r) {
      const int t = 3 * (7 - r);
      Scale3xRow32(row(r), row(std::min(r + 1, 7)), row(std::max(r - 1, 0)), out + 24 * t, out + 24 * (t + 1),
                   out + 24 * (t + 2), 8);
    }
    std::memcpy(tile, out, sizeof out);
    return true;
  }

  // Scale2x of the block, top row first.
  std::uint32_t mid[16 * 16];
  for (int r = 7; r >= 0; --r) {
    const int t = 2 * (7 - r);
    Scale2xRow32(row(r), row(std::min(r + 1, 7)), row(std::max(r - 1, 0)), mid + 16 * t, mid + 16 * (t + 1),
                 8);
  }
  if (scale == 2) {
    std::memcpy(tile, mid, sizeof mid);
    return true;
  }
  // Scale2x again over the intermediate tile, which is already top row first.
  std::uint32_t out[32 * 32];
  for (int r = 0; r < 16; ++r) {
    Scale2xRow32(mid + 16 * r, mid + 16 * std::max(r - 1, 0), mid + 16 * std::min(r + 1, 15),
                 out + 32 * (2 * r), out + 32 * (2 * r + 1), 16);
  }
  std::memcpy(tile, out, sizeof out);
  return true;
}

} // namespace zelvo
