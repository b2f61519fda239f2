// LZMA sections in the ZIP framing (version, properties size, properties, raw LZMA1 data),
// made with liblzma's encoder, for tests of the LZMA decompressor and of files that use it.
#pragma once

#include <cstdint>
#include <vector>

namespace zelvo::test {

std::vector<std::uint8_t> lzmaZipEncode(const void* data, std::size_t size);

} // namespace zelvo::test
