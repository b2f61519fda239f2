// A bzip2 block encoder of our own, for speed: the block sort is a suffix sort (libdivsufsort) of
// the block written twice, followed by the format's move-to-front, zero-run coding and Huffman
// tables. libbz2 and every other bzip2 decoder read its blocks; the bytes are not libbz2's (its
// tables are chosen differently), so a stream of these blocks decompresses to the same data as
// libbz2's but differs from it.
#pragma once

#include "compress/bzip2_parallel.h"

#include <cstdint>
#include <vector>

namespace zelvo {

// Compresses one block in first-stage form (as BZip2BlockCutter gives it), shaped as
// compressBZip2Block's result so that ParallelBZip2Compressor splices it the same way.
BZip2CompressedBlock encodeBZip2BlockFast(const std::vector<std::uint8_t>& encoded, int blockSize100k);

} // namespace zelvo
