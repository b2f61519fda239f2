// bzip2 compressor and decompressor over libbz2.
#include "compress/codec_error.h"
#include "compress/codec_steps.h"
#include "compress/streams.h"

#include <bzlib.h>
#include <cstdlib>
#include <new>

namespace zelvo {

namespace {

// libbz2 takes its memory zero-filled from the heap.
void* heapAlloc(void*, int items, int size) {
  if (items < 0 || size < 0) return nullptr;
  return std::calloc(std::size_t(items), std::size_t(size));
}
void heapFree(void*, void* address) { std::free(address); }

constexpr int kWorkFactor = 30;

// A new zero-filled block whose stream takes its memory from the heap; null without memory.
template <class Block> std::unique_ptr<Block> newBlock() {
  std::unique_ptr<Block> block(new (std::nothrow) Block{});
  if (block) {
    block->stream.bzalloc = heapAlloc;
    block->stream.bzfree = heapFree;
  }
  return block;
}

} // namespace

namespace pump {

Result<Step> bzip2DecompressStep(bz_stream& s, int& result) {
  result = BZ2_bzDecompress(&s);
  if (result == BZ_STREAM_END) return Step::End;
  if (result != BZ_OK) return bzip2Error(result, CodecSide::Decompressing);
  return Step::More;
}

} // namespace pump

struct CBZip2Compressor::Block : pump::StagedStream<bz_stream, char> {};
struct CBZip2Decompressor::Block : pump::StagedStream<bz_stream, char> {};

CBZip2Compressor::CBZip2Compressor() = default;

CBZip2Compressor::~CBZip2Compressor() {
  if (block_) BZ2_bzCompressEnd(&block_->stream);
}

Status CBZip2Compressor::Write(File& file, const void* data, std::size_t size) {
  if (!block_) {
    std::unique_ptr<Block> block = newBlock<Block>();
    if (!block) return streamNoMemory("bzip2");
    bz_stream& s = block->stream;
    s.next_out = block->staging;
    s.avail_out = kStagingBufferSize;
    if (const int started = BZ2_bzCompressInit(&s, kBZip2BlockSize100k, 0, kWorkFactor); started != BZ_OK)
      return bzip2Error(started, CodecSide::Compressing);
    block_ = std::move(block);
  }
  if (lastResult_ != BZ_RUN_OK) return bzip2Error(lastResult_, CodecSide::Compressing);
  if (size == 0) return {};

  bz_stream& s = block_->stream;
  return pump::compressInput(file, s, block_->staging, data, size, [&]() -> Status {
    lastResult_ = BZ2_bzCompress(&s, BZ_RUN);
    if (lastResult_ != BZ_RUN_OK) return bzip2Error(lastResult_, CodecSide::Compressing);
    return {};
  });
}

Status CBZip2Compressor::Finish(File& file) {
  if (!block_) return {}; // never written to: no stream at all
  if (lastResult_ != BZ_RUN_OK) return bzip2Error(lastResult_, CodecSide::Compressing);

  bz_stream& s = block_->stream;
  for (;;) {
    if (Status written = pump::writeStaged(file, s, block_->staging); !written) return written;
    if (lastResult_ == BZ_STREAM_END) return {};
    lastResult_ = BZ2_bzCompress(&s, BZ_FINISH);
    if (lastResult_ != BZ_FINISH_OK && lastResult_ != BZ_STREAM_END)
      return bzip2Error(lastResult_, CodecSide::Compressing);
  }
}

CBZip2Decompressor::CBZip2Decompressor() = default;

CBZip2Decompressor::~CBZip2Decompressor() {
  if (block_) BZ2_bzDecompressEnd(&block_->stream);
}

Status CBZip2Decompressor::Read(File& file, void* buffer, std::size_t size) {
  if (!block_) {
    std::unique_ptr<Block> block = newBlock<Block>();
    if (!block) return streamNoMemory("bzip2");
    bz_stream& s = block->stream;
    s.next_in = block->staging;
    s.avail_in = 0;
    if (const int started = BZ2_bzDecompressInit(&s, 0, 0); started != BZ_OK)
      return bzip2Error(started, CodecSide::Decompressing);
    block_ = std::move(block);
  }
  if (lastResult_ == BZ_STREAM_END) return streamEnded();
  if (lastResult_ != BZ_OK) return bzip2Error(lastResult_, CodecSide::Decompressing);
  if (size == 0) return {};

  bz_stream& s = block_->stream;
  return pump::decompressInto(file, s, block_->staging, buffer, size,
                              [&] { return pump::bzip2DecompressStep(s, lastResult_); });
}

} // namespace zelvo
