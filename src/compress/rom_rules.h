// What makes a file an original ROM image: its size, the copier header some dumps begin with, and
// the signature that stands near the end of its first 32 KiB. The loader (rom_loader.h) uses these
// to pick a ROM out of a container; the build, to refuse what is no ROM.
#pragma once

#include "platform/error.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace zelvo {

// Sizes a ROM image may have, with or without a 512-byte copier header.
inline constexpr std::uint32_t kRomMinSize = 32760;  // 0x7FF8
inline constexpr std::uint32_t kRomMaxSize = 524800; // 0x80200
inline constexpr std::uint32_t kCopierHeaderSize = 512;
// "TMR SEGA" stands at this offset of a ROM image (after the copier header, when there is one).
inline constexpr char kRomSignature[8] = {'T', 'M', 'R', ' ', 'S', 'E', 'G', 'A'};
inline constexpr std::uint32_t kRomSignatureOffset = 0x7FF0;
static_assert(kRomSignatureOffset + sizeof kRomSignature == kRomMinSize);

constexpr bool romSizeAllowed(std::uint64_t size) { return size >= kRomMinSize && size <= kRomMaxSize; }
// BadFormat unless romSizeAllowed: "the ROM holds 100 bytes; a ROM holds 32760 to 524800".
Status checkRomSize(std::uint64_t size, const std::string& path);

// Bit 9 of the size set: the file starts with a copier header, which is no part of the image.
constexpr std::uint32_t copierHeaderOf(std::uint64_t size) {
  return (size & kCopierHeaderSize) ? kCopierHeaderSize : 0;
}

// Whether `image` (the ROM without its copier header, `length` bytes of it at hand) carries the
// signature.
bool hasRomSignature(const std::uint8_t* image, std::size_t length);

} // namespace zelvo
