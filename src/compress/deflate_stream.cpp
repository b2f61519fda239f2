// Raw deflate compressor and decompressor over zlib.
#include "compress/stream_pump.h"
#include "compress/streams.h"

#include <cstdlib>
#include <new>
#include <zlib.h>

namespace zelvo {

namespace {

// zlib takes its memory zero-filled from the heap.
voidpf heapAlloc(voidpf, uInt items, uInt size) { return std::calloc(items, size); }
void heapFree(voidpf, voidpf address) { std::free(address); }

} // namespace

struct CDeflateCompressor::Block : pump::StagedStream<z_stream, Bytef> {};
struct CDeflateDecompressor::Block : pump::StagedStream<z_stream, Bytef> {};

CDeflateCompressor::CDeflateCompressor() = default;

CDeflateCompressor::~CDeflateCompressor() {
  if (block_) deflateEnd(&block_->stream);
}

bool CDeflateCompressor::Write(File& file, const void* data, std::size_t size) {
  if (!block_) {
    std::unique_ptr<Block> block(new (std::nothrow) Block{});
    if (!block) return false;
    z_stream& s = block->stream;
    s.zalloc = heapAlloc;
    s.zfree = heapFree;
    s.next_out = block->staging;
    s.avail_out = kStagingBufferSize;
    // Window bits -15: raw deflate with a 32 KiB window, no header and no check value.
    if (deflateInit2(&s, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) return false;
    block_ = std::move(block);
  }
  if (lastResult_ != Z_OK) return false;
  if (size == 0) return true;

  z_stream& s = block_->stream;
  return pump::compressInput(file, s, block_->staging, data, size, [&] {
    lastResult_ = deflate(&s, Z_NO_FLUSH);
    return lastResult_ == Z_OK;
  });
}

bool CDeflateCompressor::Finish(File& file) {
  if (!block_) return true; // never written to: no stream at all
  if (lastResult_ != Z_OK) return false;

  z_stream& s = block_->stream;
  for (;;) {
    if (!pump::writeStaged(file, s, block_->staging)) return false;
    if (lastResult_ == Z_STREAM_END) return true;
    lastResult_ = deflate(&s, Z_FINISH);
    if (lastResult_ == Z_STREAM_END) continue; // write the tail, then done
    // Z_OK means the output is full and more follows; Z_OK with room left would mean deflate
    // cannot finish the stream, which must not pass as a complete one.
    if (lastResult_ != Z_OK || s.avail_out != 0) {
      if (lastResult_ == Z_OK) lastResult_ = Z_BUF_ERROR;
      return false;
    }
  }
}

CDeflateDecompressor::CDeflateDecompressor() = default;

CDeflateDecompressor::~CDeflateDecompressor() {
  if (block_) inflateEnd(&block_->stream);
}

bool CDeflateDecompressor::Read(File& file, void* buffer, std::size_t size) {
  if (!block_) {
    std::unique_ptr<Block> block(new (std::nothrow) Block{});
    if (!block) return false;
    z_stream& s = block->stream;
    s.zalloc = heapAlloc;
    s.zfree = heapFree;
    s.next_in = block->staging;
    s.avail_in = 0;
    if (inflateInit2(&s, -15) != Z_OK) return false;
    block_ = std::move(block);
  }
  if (lastResult_ != Z_OK) return false; // an error, or the stream has ended
  if (size == 0) return true;

  z_stream& s = block_->stream;
  return pump::decompressInto(file, s, block_->staging, buffer, size, [&] {
    lastResult_ = inflate(&s, Z_NO_FLUSH);
    if (lastResult_ == Z_STREAM_END) return pump::Step::End;
    return lastResult_ == Z_OK ? pump::Step::More : pump::Step::Failed;
  });
}

} // namespace zelvo
