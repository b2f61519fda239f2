// Building blocks shared by the plain and the vector tile decoders (render/tile_decode.cpp,
// render/tile_decode_simd.cpp). Internal to the render library.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "render/tile_decode.h"

namespace zelvo::tile_detail {

// Pixel stores into a byte buffer of any alignment, little-endian whatever the host.
inline void store32(std::uint8_t* p, std::uint32_t v) {
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(p, &v, 4);
  } else {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
    p[2] = static_cast<std::uint8_t>(v >> 16);
    p[3] = static_cast<std::uint8_t>(v >> 24);
  }
}

inline void store16(std::uint8_t* p, std::uint32_t v) {
  if constexpr (std::endian::native == std::endian::little) {
    const auto half = static_cast<std::uint16_t>(v);
    std::memcpy(p, &half, 2);
  } else {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
  }
}

// Pixel-size tags: how wide a pixel is and how it is stored.
struct Pixel32 {
  static constexpr std::size_t size = 4;
  static void store(std::uint8_t* p, std::uint32_t v) { store32(p, v); }
};
struct Pixel16 {
  static constexpr std::size_t size = 2;
  static void store(std::uint8_t* p, std::uint32_t v) { store16(p, v); }
};

// Block row that pattern row r lands on: the buffers are bottom-up, so without the vertical flip
// pattern row 0 (the top of the tile) goes to block row 7.
template <bool V> constexpr std::uint32_t blockRow(std::uint32_t r) { return V ? r : 7 - r; }

// Block pixel that pattern pixel x lands on.
template <bool H> constexpr std::uint32_t blockColumn(std::uint32_t x) { return H ? 7 - x : x; }

inline std::uint8_t* rowAddress(std::uint8_t* destination, std::uint32_t blockRowIndex, std::uint32_t pitch) {
  return destination + static_cast<std::size_t>(blockRowIndex) * pitch;
}

// True for the four known flip values.
constexpr bool knownFlip(std::uint32_t flip) { return (flip & ~static_cast<std::uint32_t>(TileFlipHV)) == 0; }

} // namespace zelvo::tile_detail
