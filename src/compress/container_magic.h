// Telling containers by their first bytes, never by their names.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zelvo {

// Tests on the first `length` bytes of a file or an unpacked entry.
bool hasZipMagic(const std::uint8_t* head, std::size_t length);  // a zip local header
bool hasGzipMagic(const std::uint8_t* head, std::size_t length); // 1F 8B
// "BZh" and a block size digit 1 to 9, followed by the block magic 31 41 59 26 53 59.
bool hasBzip2Magic(const std::uint8_t* head, std::size_t length);
// A zip, gzip or bzip2 file.
bool hasContainerMagic(const std::uint8_t* head, std::size_t length);

} // namespace zelvo
