// The vector tile decoders (render/tile_decode_simd.cpp). Internal to the render library; call
// them only when simdSupportedByProcessor() said yes.
#pragma once

#include <cstdint>

namespace zelvo::tile_detail {

// Processor feature test, uncached. False where no vector path is built.
bool simdSupportedByProcessor();

// `pixels` holds the 16 ready pixel values of the tile's palette (TileColourTable[mode][palette[c]]).
// `flip` must be one of the four known values.
void decodeSimd32(const std::uint8_t* pattern, const std::uint32_t* pixels, std::uint8_t* destination,
                  std::uint32_t pitch, std::uint32_t flip);
void decodeSimd16(const std::uint8_t* pattern, const std::uint32_t* pixels, std::uint8_t* destination,
                  std::uint32_t pitch, std::uint32_t flip);
// Unflipped, 32-bit; colour number 0 is skipped.
void decodeSimdTransparent(const std::uint8_t* pattern, const std::uint32_t* pixels,
                           std::uint8_t* destination, std::uint32_t pitch);

} // namespace zelvo::tile_detail
