// Raw deflate compressor and decompressor over zlib.
#include "compress/codec_error.h"
#include "compress/codec_steps.h"
#include "compress/streams.h"

#include <cstdlib>
#include <new>
#include <zlib.h>

namespace zelvo {

namespace {

// zlib takes its memory zero-filled from the heap.
voidpf heapAlloc(voidpf, uInt items, uInt size) { return std::calloc(items, size); }
void heapFree(voidpf, voidpf address) { std::free(address); }

// A new zero-filled block whose stream takes its memory from the heap; null without memory.
template <class Block> std::unique_ptr<Block> newBlock() {
  std::unique_ptr<Block> block(new (std::nothrow) Block{});
  if (block) {
    block->stream.zalloc = heapAlloc;
    block->stream.zfree = heapFree;
  }
  return block;
}

} // namespace

namespace pump {

Result<Step> inflateStep(z_stream& s, int& result) {
  result = inflate(&s, Z_NO_FLUSH);
  if (result == Z_STREAM_END) return Step::End;
  if (result != Z_OK) return zlibError(result, s.msg, CodecSide::Decompressing);
  return Step::More;
}

} // namespace pump

struct CDeflateCompressor::Block : pump::StagedStream<z_stream, Bytef> {};
struct CDeflateDecompressor::Block : pump::StagedStream<z_stream, Bytef> {};

CDeflateCompressor::CDeflateCompressor() = default;

CDeflateCompressor::~CDeflateCompressor() {
  if (block_) deflateEnd(&block_->stream);
}

Status CDeflateCompressor::Write(File& file, const void* data, std::size_t size) {
  if (!block_) {
    std::unique_ptr<Block> block = newBlock<Block>();
    if (!block) return streamNoMemory("deflate");
    z_stream& s = block->stream;
    s.next_out = block->staging;
    s.avail_out = kStagingBufferSize;
    // Window bits -15: raw deflate with a 32 KiB window, no header and no check value.
    if (const int started = deflateInit2(&s, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY); started != Z_OK)
      return zlibError(started, s.msg, CodecSide::Compressing);
    block_ = std::move(block);
  }
  z_stream& s = block_->stream;
  if (lastResult_ != Z_OK) return zlibError(lastResult_, s.msg, CodecSide::Compressing);
  if (size == 0) return {};

  return pump::compressInput(file, s, block_->staging, data, size, [&]() -> Status {
    lastResult_ = deflate(&s, Z_NO_FLUSH);
    if (lastResult_ != Z_OK) return zlibError(lastResult_, s.msg, CodecSide::Compressing);
    return {};
  });
}

Status CDeflateCompressor::Finish(File& file) {
  if (!block_) return {}; // never written to: no stream at all
  z_stream& s = block_->stream;
  if (lastResult_ != Z_OK) return zlibError(lastResult_, s.msg, CodecSide::Compressing);

  for (;;) {
    if (Status written = pump::writeStaged(file, s, block_->staging); !written) return written;
    if (lastResult_ == Z_STREAM_END) return {};
    lastResult_ = deflate(&s, Z_FINISH);
    if (lastResult_ == Z_STREAM_END) continue; // write the tail, then done
    // Z_OK means the output is full and more follows; Z_OK with room left would mean deflate
    // cannot finish the stream, which must not pass as a complete one.
    if (lastResult_ != Z_OK || s.avail_out != 0) {
      if (lastResult_ == Z_OK) lastResult_ = Z_BUF_ERROR;
      return zlibError(lastResult_, s.msg, CodecSide::Compressing);
    }
  }
}

CDeflateDecompressor::CDeflateDecompressor() = default;

CDeflateDecompressor::~CDeflateDecompressor() {
  if (block_) inflateEnd(&block_->stream);
}

Status CDeflateDecompressor::Read(File& file, void* buffer, std::size_t size) {
  if (!block_) {
    std::unique_ptr<Block> block = newBlock<Block>();
    if (!block) return streamNoMemory("deflate");
    z_stream& s = block->stream;
    s.next_in = block->staging;
    s.avail_in = 0;
    if (const int started = inflateInit2(&s, -15); started != Z_OK)
      return zlibError(started, s.msg, CodecSide::Decompressing);
    block_ = std::move(block);
  }
  z_stream& s = block_->stream;
  if (lastResult_ == Z_STREAM_END) return streamEnded();
  if (lastResult_ != Z_OK) return zlibError(lastResult_, s.msg, CodecSide::Decompressing);
  if (size == 0) return {};

  return pump::decompressInto(file, s, block_->staging, buffer, size,
                              [&] { return pump::inflateStep(s, lastResult_); });
}

} // namespace zelvo
