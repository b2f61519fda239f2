// Compression stream classes: compressors write finished output straight into an open file,
// decompressors read a compressed section from an open file and hand out exactly the bytes asked.
#pragma once

#include "platform/file.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace zelvo {

// The number stored in every compressed section.
enum CompressionMethod : std::uint32_t {
  kMethodStored = 0,
  kMethodDeflate = 1,
  kMethodBZip2 = 2,
  kMethodLZMA = 3,
};

inline constexpr std::size_t kStagingBufferSize = 16384;

class ICompressor {
public:
  virtual ~ICompressor() = default;
  virtual std::uint32_t GetMethod() const = 0;
  // Compresses `size` bytes; only whole 16384-byte pieces of output are written here.
  virtual bool Write(File& file, const void* data, std::size_t size) = 0;
  // Ends the stream and writes the rest of the output. Called once, after the last Write.
  virtual bool Finish(File& file) = 0;
};

class IDecompressor {
public:
  virtual ~IDecompressor() = default;
  virtual std::uint32_t GetMethod() const = 0;
  // Fills `buffer` with exactly `size` decompressed bytes, or fails.
  virtual bool Read(File& file, void* buffer, std::size_t size) = 0;
};

// A new decompressor for a CompressionMethod number; null for any other number.
std::unique_ptr<IDecompressor> CreateDecompressor(std::uint32_t method);

} // namespace zelvo
