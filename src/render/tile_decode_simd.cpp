// Vector tile decoding: the whole 32-byte pattern sits in two 16-byte registers; one byte-mask
// gather takes the top bit of every plane byte, which is the colour number of one pixel column in
// all eight rows (4 bits per row, plane 0 lowest). Adding each byte to itself then brings the next
// pixel's bit to the top.
#include "render/tile_decode_simd.h"

#include <cstddef>
#include <utility>

#include "render/tile_decode_kernels.h"

#if defined(__x86_64__) || defined(_M_X64)
#define ZELVO_TILE_SSE2 1
#include <emmintrin.h>
#if defined(_MSC_VER) && !defined(__clang__)
#include <intrin.h>
#endif
#endif

namespace zelvo::tile_detail {

namespace {

#if ZELVO_TILE_SSE2

class PatternLanes {
public:
  explicit PatternLanes(const std::uint8_t* pattern)
      : low_(_mm_loadu_si128(reinterpret_cast<const __m128i*>(pattern))),
        high_(_mm_loadu_si128(reinterpret_cast<const __m128i*>(pattern + 16))) {}

  // Bit 4r + k: the top bit of plane k in pattern row r.
  std::uint32_t topBits() const {
    return static_cast<std::uint32_t>(_mm_movemask_epi8(low_)) |
           static_cast<std::uint32_t>(_mm_movemask_epi8(high_)) << 16;
  }

  // Every byte shifted left by one bit (there is no byte shift; a byte add carries nothing across).
  void advance() {
    low_ = _mm_add_epi8(low_, low_);
    high_ = _mm_add_epi8(high_, high_);
  }

private:
  __m128i low_;
  __m128i high_;
};

#else

// The same gather without vector registers, for builds where the vector path is never chosen.
class PatternLanes {
public:
  explicit PatternLanes(const std::uint8_t* pattern) {
    for (int i = 0; i < 32; ++i) bytes_[i] = pattern[i];
  }
  std::uint32_t topBits() const {
    std::uint32_t bits = 0;
    for (int i = 0; i < 32; ++i) bits |= static_cast<std::uint32_t>(bytes_[i] >> 7) << i;
    return bits;
  }
  void advance() {
    for (auto& b : bytes_) b = static_cast<std::uint8_t>(b << 1);
  }

private:
  std::uint8_t bytes_[32];
};

#endif

// Writes pattern column x of every row: op(rowPointer, blockPixel, colourNumber).
template <bool H, bool V, class Op, std::size_t... R>
inline void writeColumn(std::uint32_t bits, std::uint32_t x, std::uint8_t* destination, std::uint32_t pitch,
                        const Op& op, std::index_sequence<R...>) {
  (op(rowAddress(destination, blockRow<V>(R), pitch), blockColumn<H>(x), (bits >> (4 * R)) & 15u), ...);
}

template <bool H, bool V, class Op>
inline void decodeColumns(const std::uint8_t* pattern, std::uint8_t* destination, std::uint32_t pitch,
                          const Op& op) {
  PatternLanes lanes(pattern);
  for (std::uint32_t x = 0; x < 8; ++x) {
    writeColumn<H, V>(lanes.topBits(), x, destination, pitch, op, std::make_index_sequence<8>{});
    lanes.advance();
  }
}

template <class Pixel, bool H, bool V>
void decodeOpaque(const std::uint8_t* pattern, const std::uint32_t* pixels, std::uint8_t* destination,
                  std::uint32_t pitch) {
  decodeColumns<H, V>(pattern, destination, pitch,
                      [pixels](std::uint8_t* row, std::uint32_t x, std::uint32_t n) {
                        Pixel::store(row + Pixel::size * x, pixels[n]);
                      });
}

template <class Pixel>
void decodeOpaqueFlip(const std::uint8_t* pattern, const std::uint32_t* pixels, std::uint8_t* destination,
                      std::uint32_t pitch, std::uint32_t flip) {
  switch (flip) {
  case TileFlipNone:
    decodeOpaque<Pixel, false, false>(pattern, pixels, destination, pitch);
    break;
  case TileFlipH:
    decodeOpaque<Pixel, true, false>(pattern, pixels, destination, pitch);
    break;
  case TileFlipV:
    decodeOpaque<Pixel, false, true>(pattern, pixels, destination, pitch);
    break;
  case TileFlipHV:
    decodeOpaque<Pixel, true, true>(pattern, pixels, destination, pitch);
    break;
  default:
    break;
  }
}

} // namespace

bool simdSupportedByProcessor() {
#if ZELVO_TILE_SSE2
#if defined(_MSC_VER) && !defined(__clang__)
  int info[4] = {};
  __cpuid(info, 1);
  return (info[3] >> 26) & 1; // EDX bit 26: SSE2
#else
  __builtin_cpu_init();
  return __builtin_cpu_supports("sse2");
#endif
#else
  return false;
#endif
}

void decodeSimd32(const std::uint8_t* pattern, const std::uint32_t* pixels, std::uint8_t* destination,
                  std::uint32_t pitch, std::uint32_t flip) {
  decodeOpaqueFlip<Pixel32>(pattern, pixels, destination, pitch, flip);
}

void decodeSimd16(const std::uint8_t* pattern, const std::uint32_t* pixels, std::uint8_t* destination,
                  std::uint32_t pitch, std::uint32_t flip) {
  decodeOpaqueFlip<Pixel16>(pattern, pixels, destination, pitch, flip);
}

void decodeSimdTransparent(const std::uint8_t* pattern, const std::uint32_t* pixels,
                           std::uint8_t* destination, std::uint32_t pitch) {
  decodeColumns<false, false>(pattern, destination, pitch,
                              [pixels](std::uint8_t* row, std::uint32_t x, std::uint32_t n) {
                                if (n) store32(row + 4 * x, pixels[n]);
                              });
}

} // namespace zelvo::tile_detail
