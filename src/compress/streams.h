// Compression stream classes: compressors write finished output straight into an open file,
// decompressors read a compressed section from an open file and hand out exactly the bytes asked.
// A failure says why (codec_error.h): the library's own result code, the file failing under the
// stream, or memory; the error names no file, which the caller adds.
#pragma once

#include "platform/error.h"
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
  virtual Status Write(File& file, const void* data, std::size_t size) = 0;
  // Ends the stream and writes the rest of the output. Called once, after the last Write.
  virtual Status Finish(File& file) = 0;
};

class IDecompressor {
public:
  virtual ~IDecompressor() = default;
  virtual std::uint32_t GetMethod() const = 0;
  // Fills `buffer` with exactly `size` decompressed bytes, or fails.
  virtual Status Read(File& file, void* buffer, std::size_t size) = 0;
};

// A new decompressor for a CompressionMethod number; Unsupported for any other number.
Result<std::unique_ptr<IDecompressor>> CreateDecompressor(std::uint32_t method);

// The stream classes. Each starts its library stream on the first Write or Read, keeps the last
// library result (once the library reported an error, or a decompressed stream ended, every later
// call fails with that result), and holds its staging buffer and library stream record in one
// zero-filled block.

// Raw deflate (no zlib or gzip wrapper): level 6, 32 KiB window, memory level 8, default strategy.
class CDeflateCompressor final : public ICompressor {
public:
  CDeflateCompressor();
  ~CDeflateCompressor() override;
  CDeflateCompressor(const CDeflateCompressor&) = delete;
  CDeflateCompressor& operator=(const CDeflateCompressor&) = delete;

  std::uint32_t GetMethod() const override { return kMethodDeflate; }
  Status Write(File& file, const void* data, std::size_t size) override;
  // Without a prior Write nothing at all is written; after only empty Writes, an empty stream.
  Status Finish(File& file) override;

private:
  struct Block;
  std::unique_ptr<Block> block_; // null until the first Write
  int lastResult_ = 0;           // Z_OK
};

// The block size (in 100k) of every bzip2 stream this program writes.
inline constexpr int kBZip2BlockSize100k = 6;

// bzip2 stream with 600k blocks (block size 6), work factor 30.
class CBZip2Compressor final : public ICompressor {
public:
  CBZip2Compressor();
  ~CBZip2Compressor() override;
  CBZip2Compressor(const CBZip2Compressor&) = delete;
  CBZip2Compressor& operator=(const CBZip2Compressor&) = delete;

  std::uint32_t GetMethod() const override { return kMethodBZip2; }
  Status Write(File& file, const void* data, std::size_t size) override;
  Status Finish(File& file) override;

private:
  struct Block;
  std::unique_ptr<Block> block_; // null until the first call
  int lastResult_ = 1;           // BZ_RUN_OK
};

// Raw deflate. The file is read in 16384-byte pieces from wherever it stands; when a Read meets the
// end of the stream, the file is moved back over the bytes read beyond it.
class CDeflateDecompressor final : public IDecompressor {
public:
  CDeflateDecompressor();
  ~CDeflateDecompressor() override;
  CDeflateDecompressor(const CDeflateDecompressor&) = delete;
  CDeflateDecompressor& operator=(const CDeflateDecompressor&) = delete;

  std::uint32_t GetMethod() const override { return kMethodDeflate; }
  Status Read(File& file, void* buffer, std::size_t size) override;

private:
  struct Block;
  std::unique_ptr<Block> block_; // null until the first call
  int lastResult_ = 0;           // Z_OK
};

// bzip2 stream of any block size; same file handling as the deflate decompressor.
class CBZip2Decompressor final : public IDecompressor {
public:
  CBZip2Decompressor();
  ~CBZip2Decompressor() override;
  CBZip2Decompressor(const CBZip2Decompressor&) = delete;
  CBZip2Decompressor& operator=(const CBZip2Decompressor&) = delete;

  std::uint32_t GetMethod() const override { return kMethodBZip2; }
  Status Read(File& file, void* buffer, std::size_t size) override;

private:
  struct Block;
  std::unique_ptr<Block> block_; // null until the first call
  int lastResult_ = 0;           // BZ_OK
};

class LzmaDecoder;

// LZMA in the ZIP framing: major and minor version bytes, a 16-bit properties size (at most 5), the
// properties, then LZMA-coded data, read until the caller has its bytes (no end marker needed).
// Unlike the other decompressors it remembers where it stopped reading and repositions the file
// itself; after every Read the file stands right after the last byte the decoder consumed.
class CLZMADecompressor final : public IDecompressor {
public:
  CLZMADecompressor();
  ~CLZMADecompressor() override;
  CLZMADecompressor(const CLZMADecompressor&) = delete;
  CLZMADecompressor& operator=(const CLZMADecompressor&) = delete;

  std::uint32_t GetMethod() const override { return kMethodLZMA; }
  Status Read(File& file, void* buffer, std::size_t size) override;

private:
  Status start(File& file);
  Error stopped() const; // why every call fails once the decoder failed or stalled

  std::unique_ptr<std::uint8_t[]> input_; // null until the first Read
  const std::uint8_t* next_ = nullptr;    // next unconsumed byte in input_
  std::unique_ptr<LzmaDecoder> decoder_;
  std::size_t unconsumed_ = 0;
  std::uint64_t savedPosition_ = 0; // absolute file position after the last byte read into input_
  int lastResult_ = 0;
};

// Stored bytes: reads exactly what is asked.
class CDefaultDecompressor final : public IDecompressor {
public:
  std::uint32_t GetMethod() const override { return kMethodStored; }
  Status Read(File& file, void* buffer, std::size_t size) override;
};

} // namespace zelvo
