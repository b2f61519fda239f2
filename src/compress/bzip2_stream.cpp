// bzip2 compressor and decompressor over libbz2.
#include "compress/streams.h"

#include <algorithm>
#include <bzlib.h>
#include <climits>
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

// libbz2 counts input and output in 32-bit unsigned fields; larger spans go in pieces.
constexpr std::size_t kMaxPiece = UINT_MAX;

unsigned pieceOf(std::size_t remaining) { return unsigned(std::min(remaining, kMaxPiece)); }

constexpr int kBlockSize100k = 6;
constexpr int kWorkFactor = 30;

} // namespace

// The staging buffer and the bzip2 stream record in one zero-filled allocation.
struct CBZip2Compressor::Block {
  char staging[kStagingBufferSize];
  bz_stream stream;
};

struct CBZip2Decompressor::Block {
  char staging[kStagingBufferSize];
  bz_stream stream;
};

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
    if (BZ2_bzCompressInit(&s, kBlockSize100k, 0, kWorkFactor) != BZ_OK) return false;
    block_ = std::move(block);
  }
  if (lastResult_ != BZ_RUN_OK) return false;
  if (size == 0) return true;

  bz_stream& s = block_->stream;
  auto* in = static_cast<const char*>(data);
  std::size_t remaining = size;
  while (remaining > 0) {
    s.next_in = const_cast<char*>(in);
    s.avail_in = pieceOf(remaining);
    const std::size_t piece = s.avail_in;
    while (s.avail_in > 0) {
      if (s.avail_out == 0) {
        if (!file.writeAll(block_->staging, kStagingBufferSize)) return false;
        s.next_out = block_->staging;
        s.avail_out = kStagingBufferSize;
      }
      lastResult_ = BZ2_bzCompress(&s, BZ_RUN);
      if (lastResult_ != BZ_RUN_OK) return false;
    }
    in += piece;
    remaining -= piece;
  }
  return true;
}

bool CBZip2Compressor::Finish(File& file) {
  if (!block_) return true; // never written to: no stream at all
  if (lastResult_ != BZ_RUN_OK) return false;

  bz_stream& s = block_->stream;
  for (;;) {
    const std::size_t pending = kStagingBufferSize - s.avail_out;
    if (pending > 0) {
      if (!file.writeAll(block_->staging, pending)) return false;
      s.next_out = block_->staging;
      s.avail_out = kStagingBufferSize;
    }
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
  auto* out = static_cast<char*>(buffer);
  std::size_t remaining = size; // not yet handed to libbz2 as output room
  s.avail_out = 0;
  for (;;) {
    if (s.avail_in == 0) {
      std::size_t got = 0;
      if (!file.read(block_->staging, kStagingBufferSize, got) || got == 0) return false;
      s.next_in = block_->staging;
      s.avail_in = unsigned(got);
    }
    if (s.avail_out == 0) {
      s.next_out = out;
      s.avail_out = pieceOf(remaining);
      out += s.avail_out;
      remaining -= s.avail_out;
    }
    lastResult_ = BZ2_bzDecompress(&s);
    if (lastResult_ == BZ_STREAM_END) {
      // Give back what was read beyond the stream, so the file stands on its first byte after.
      // A request that reaches past the end can no longer be filled.
      if (s.avail_in > 0) {
        if (!file.seekBy(-std::int64_t(s.avail_in))) return false;
        s.avail_in = 0;
      }
      return s.avail_out == 0 && remaining == 0;
    }
    if (lastResult_ != BZ_OK) return false;
    if (s.avail_out == 0 && remaining == 0) return true;
  }
}

} // namespace zelvo
