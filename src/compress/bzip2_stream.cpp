// bzip2 compressor and decompressor over libbz2.
#include "compress/stream_pump.h"
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

} // namespace

struct CBZip2Compressor::Block : pump::StagedStream<bz_stream, char> {};
struct CBZip2Decompressor::Block : pump::StagedStream<bz_stream, char> {};

CBZip2Compressor::CBZip2Compressor() = default;

CBZip2Compressor::~CBZip2Compressor() {
  if (block_) BZ2_bzCompressEnd(&block_->stream);
}

bool CBZip2Compressor::Write(File& file, const void* data, std::size_t size) {
  if (!block_) {
    std::unique_ptr<Block> block(new (std::nothrow) Block{});
    if (!block) return false;
    bz_stream& s = block->stream;
    s.bzalloc = heapAlloc;
    s.bzfree = heapFree;
    s.next_out = block->staging;
    s.avail_out = kStagingBufferSize;
    if (BZ2_bzCompressInit(&s, kBZip2BlockSize100k, 0, kWorkFactor) != BZ_OK) return false;
    block_ = std::move(block);
  }
  if (lastResult_ != BZ_RUN_OK) return false;
  if (size == 0) return true;

  bz_stream& s = block_->stream;
  return pump::compressInput(file, s, block_->staging, data, size, [&] {
    lastResult_ = BZ2_bzCompress(&s, BZ_RUN);
    return lastResult_ == BZ_RUN_OK;
  });
}

bool CBZip2Compressor::Finish(File& file) {
  if (!block_) return true; // never written to: no stream at all
  if (lastResult_ != BZ_RUN_OK) return false;

  bz_stream& s = block_->stream;
  for (;;) {
    if (!pump::writeStaged(file, s, block_->staging)) return false;
    if (lastResult_ == BZ_STREAM_END) return true;
    lastResult_ = BZ2_bzCompress(&s, BZ_FINISH);
    if (lastResult_ != BZ_FINISH_OK && lastResult_ != BZ_STREAM_END) return false;
  }
}

CBZip2Decompressor::CBZip2Decompressor() = default;

CBZip2Decompressor::~CBZip2Decompressor() {
  if (block_) BZ2_bzDecompressEnd(&block_->stream);
}

bool CBZip2Decompressor::Read(File& file, void* buffer, std::size_t size) {
  if (!block_) {
    std::unique_ptr<Block> block(new (std::nothrow) Block{});
    if (!block) return false;
    bz_stream& s = block->stream;
    s.bzalloc = heapAlloc;
    s.bzfree = heapFree;
    s.next_in = block->staging;
    s.avail_in = 0;
    if (BZ2_bzDecompressInit(&s, 0, 0) != BZ_OK) return false;
    block_ = std::move(block);
  }
  if (lastResult_ != BZ_OK) return false; // an error, or the stream has ended
  if (size == 0) return true;

  bz_stream& s = block_->stream;
  return pump::decompressInto(file, s, block_->staging, buffer, size, [&] {
    lastResult_ = BZ2_bzDecompress(&s);
    if (lastResult_ == BZ_STREAM_END) return pump::Step::End;
    return lastResult_ == BZ_OK ? pump::Step::More : pump::Step::Failed;
  });
}

} // namespace zelvo
