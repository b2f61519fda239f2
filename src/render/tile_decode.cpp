#include "render/tile_decode.h"

#include <atomic>
#include <utility>

#include "render/tile_decode_kernels.h"
#include "render/tile_decode_simd.h"

namespace zelvo {

using namespace tile_detail;

namespace {

inline std::uint32_t loadRow(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// Colour number of bit B of the four plane bytes of a row word: bit B of every byte is moved to
// bit 2 of that byte, and the two halves select their planes' weights by byte offset.
template <std::uint32_t B> inline std::uint32_t colourNumber(std::uint32_t word) {
  std::uint32_t bits;
  if constexpr (B >= 2) {
    bits = (word >> (B - 2)) & 0x04040404u;
  } else {
    bits = (word << (2 - B)) & 0x04040404u;
  }
  return PlaneBits01[(bits & 0xFFFFu) >> 2] | PlaneBits23[bits >> 18];
}

// Calls op(blockPixel, colourNumber) for the eight pixels of one row, unrolled.
template <bool H, class Op, std::size_t... X>
inline void forEachPixel(std::uint32_t word, Op& op, std::index_sequence<X...>) {
  (op(static_cast<std::uint32_t>(X), colourNumber < H ? X : 7 - X > (word)), ...);
}

// One loop over the pattern rows; makeOp(row) gives the per-pixel writer of that block row.
template <bool H, bool V, class MakeOp>
inline void decodeRows(const std::uint8_t* pattern, std::uint8_t* destination, std::uint32_t pitch,
                       const MakeOp& makeOp) {
  for (std::uint32_t r = 0; r < 8; ++r) {
    auto op = makeOp(rowAddress(destination, blockRow<V>(r), pitch));
    forEachPixel<H>(loadRow(pattern + 4 * r), op, std::make_index_sequence<8>{});
  }
}

template <class Pixel, bool H, bool V>
void decodeOpaque(const std::uint8_t* pattern, const std::uint8_t* palette, std::uint8_t* destination,
                  std::uint32_t pitch, const std::uint32_t* table) {
  decodeRows<H, V>(pattern, destination, pitch, [=](std::uint8_t* row) {
    return [=](std::uint32_t x, std::uint32_t n) { Pixel::store(row + Pixel::size * x, table[palette[n]]); };
  });
}

template <bool H, bool V>
void decodeAlpha(const std::uint8_t* pattern, const std::uint8_t* palette, std::uint8_t* destination,
                 std::uint32_t pitch) {
  const std::uint32_t background = TileColourTable[PixelXrgb32][palette[0]];
  const std::uint32_t* opaque = TileColourTable[PixelArgb32].data();
  decodeRows<H, V>(pattern, destination, pitch, [=](std::uint8_t* row) {
    return
        [=](std::uint32_t x, std::uint32_t n) { store32(row + 4 * x, n ? opaque[palette[n]] : background); };
  });
}

template <class Pixel>
void decodeOpaqueFlip(const std::uint8_t* pattern, const std::uint8_t* palette, std::uint8_t* destination,
                      std::uint32_t pitch, std::uint32_t flip, const std::uint32_t* table) {
  switch (flip) {
  case TileFlipNone:
    decodeOpaque<Pixel, false, false>(pattern, palette, destination, pitch, table);
    break;
  case TileFlipH:
    decodeOpaque<Pixel, true, false>(pattern, palette, destination, pitch, table);
    break;
  case TileFlipV:
    decodeOpaque<Pixel, false, true>(pattern, palette, destination, pitch, table);
    break;
  case TileFlipHV:
    decodeOpaque<Pixel, true, true>(pattern, palette, destination, pitch, table);
    break;
  default:
    break;
  }
}

// 0 not yet tested, 1 no, 2 yes. Written once; a racing second writer stores the same answer.
std::atomic<std::uint8_t> simdState{0};

void decodeTileSimdChecked(const std::uint8_t* pattern, const std::uint8_t* palette,
                           std::uint8_t* destination, std::uint32_t pitch, std::uint32_t flip,
                           std::uint32_t mode) {
  if (mode > PixelRgb555 || !knownFlip(flip)) return;
  const std::uint32_t* table = TileColourTable[mode].data();
  std::uint32_t pixels[16];
  for (int c = 0; c < 16; ++c) pixels[c] = table[palette[c]];
  if (mode >= PixelRgb565) {
    decodeSimd16(pattern, pixels, destination, pitch, flip);
  } else {
    decodeSimd32(pattern, pixels, destination, pitch, flip);
  }
}

void decodeTileTransparentSimdChecked(const std::uint8_t* pattern, const std::uint8_t* palette,
                                      std::uint8_t* destination, std::uint32_t pitch) {
  std::uint32_t pixels[16];
  for (int c = 0; c < 16; ++c) pixels[c] = TileColourTable[PixelXrgb32][palette[c]];
  decodeSimdTransparent(pattern, pixels, destination, pitch);
}

} // namespace

bool SimdAvailable() {
  std::uint8_t state = simdState.load(std::memory_order_relaxed);
  if (state == 0) {
    state = simdSupportedByProcessor() ? 2 : 1;
    simdState.store(state, std::memory_order_relaxed);
  }
  return state == 2;
}

void DecodeTilePlain(const std::uint8_t* pattern, const std::uint8_t* palette, std::uint8_t* destination,
                     std::uint32_t pitch, std::uint32_t flip, std::uint32_t mode) {
  if (mode > PixelRgb555) return;
  const std::uint32_t* table = TileColourTable[mode].data();
  if (mode >= PixelRgb565) {
    decodeOpaqueFlip<Pixel16>(pattern, palette, destination, pitch, flip, table);
  } else {
    decodeOpaqueFlip<Pixel32>(pattern, palette, destination, pitch, flip, table);
  }
}

void DecodeTileSimd(const std::uint8_t* pattern, const std::uint8_t* palette, std::uint8_t* destination,
                    std::uint32_t pitch, std::uint32_t flip, std::uint32_t mode) {
  if (SimdAvailable()) {
    decodeTileSimdChecked(pattern, palette, destination, pitch, flip, mode);
  } else {
    DecodeTilePlain(pattern, palette, destination, pitch, flip, mode);
  }
}

void DecodeTile(const std::uint8_t* pattern, const std::uint8_t* palette, std::uint8_t* destination,
                std::uint32_t pitch, std::uint32_t flip, std::uint32_t mode) {
  DecodeTileSimd(pattern, palette, destination, pitch, flip, mode);
}

void DecodeTileTransparentPlain(const std::uint8_t* pattern, const std::uint8_t* palette,
                                std::uint8_t* destination, std::uint32_t pitch) {
  const std::uint32_t* table = TileColourTable[PixelXrgb32].data();
  decodeRows<false, false>(pattern, destination, pitch, [=](std::uint8_t* row) {
    return [=](std::uint32_t x, std::uint32_t n) {
      if (n) store32(row + 4 * x, table[palette[n]]);
    };
  });
}

void DecodeTileTransparentSimd(const std::uint8_t* pattern, const std::uint8_t* palette,
                               std::uint8_t* destination, std::uint32_t pitch) {
  if (SimdAvailable()) {
    decodeTileTransparentSimdChecked(pattern, palette, destination, pitch);
  } else {
    DecodeTileTransparentPlain(pattern, palette, destination, pitch);
  }
}

void DecodeTileTransparent(const std::uint8_t* pattern, const std::uint8_t* palette,
                           std::uint8_t* destination, std::uint32_t pitch) {
  DecodeTileTransparentSimd(pattern, palette, destination, pitch);
}

void DecodeTileAlpha(const std::uint8_t* pattern, const std::uint8_t* palette, std::uint8_t* destination,
                     std::uint32_t pitch, std::uint32_t flip) {
  switch (flip) {
  case TileFlipNone:
    decodeAlpha<false, false>(pattern, palette, destination, pitch);
    break;
  case TileFlipH:
    decodeAlpha<true, false>(pattern, palette, destination, pitch);
    break;
  case TileFlipV:
    decodeAlpha<false, true>(pattern, palette, destination, pitch);
    break;
  case TileFlipHV:
    decodeAlpha<true, true>(pattern, palette, destination, pitch);
    break;
  default:
    break;
  }
}

} // namespace zelvo
