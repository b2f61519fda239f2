// Reading one compressed section whose decompressed size a header claims: the claim is weighed
// against the compressed bytes that could hold it before anything is decompressed, and memory is
// taken only as decompressed data arrive, never on the claim alone.
#pragma once

#include "compress/md5.h"
#include "platform/error.h"
#include "platform/file.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace zelvo {

// "800 bytes", "17.6 KB", "4.3 GB": a size for a person to read.
std::string sizeText(std::uint64_t bytes);
// "stored", "deflate", "bzip2", "lzma"; "unknown" for any other number.
const char* methodName(std::uint32_t method);

// Whether `available` compressed bytes of `method` could hold `payloadSize` decompressed bytes at
// all. Unsupported for an unknown method, Truncated when the claim is beyond what the bytes can
// expand to ("the payload claims 4.3 GB but the 800 bytes left can hold at most 825.6 KB").
Status checkExpansion(std::uint32_t method, std::uint64_t available, std::uint64_t payloadSize,
                      const std::string& path);
// The same for the rest of `file`, from its current position.
Status checkPayloadFitsFile(File& file, std::uint32_t method, std::uint64_t payloadSize,
                            const std::string& path);

// Reads exactly `size` bytes; when fewer arrive, Truncated names `what` ("the header ends after 40
// of 64 bytes").
Status readExactly(File& file, void* buffer, std::size_t size, const std::string& path, const char* what);

struct SectionBlock {
  std::unique_ptr<std::uint8_t[]> data; // `headroom` bytes for the caller, then the payload
  Md5Digest digest{};                   // of the payload
};

// Decompresses `payloadSize` bytes of `method` from the file's current position (once the claim
// passed checkPayloadFitsFile) into a new block
// that begins with `headroom` bytes left for the caller. The block starts small and grows (by
// doubling, up to its full size) only as the data arrive. An empty payload still makes one read of
// nothing. The file then stands where the decompressor leaves it.
Result<SectionBlock> readSectionBlock(File& file, std::uint32_t method, std::uint64_t payloadSize,
                                      std::size_t headroom, const std::string& path);

// Decompresses `payloadSize` bytes of `method` piece by piece (once the claim passed
// checkPayloadFitsFile) and digests them, keeping nothing.
Result<Md5Digest> digestSection(File& file, std::uint32_t method, std::uint64_t payloadSize,
                                const std::string& path);

} // namespace zelvo
