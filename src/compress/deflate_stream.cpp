// Raw deflate compressor and decompressor over zlib.
#include "compress/streams.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <new>
#include <zlib.h>

namespace zelvo {

namespace {

// zlib takes its memory zero-filled from the heap.
voidpf heapAlloc(voidpf, uInt items, uInt size) { return std::calloc(items, size); }
void heapFree(voidpf, voidpf address) { std::free(address); }

// zlib counts input and output in 32-bit unsigned fields; larger spans go in pieces.
constexpr std::size_t kMaxPiece = UINT_MAX;

uInt pieceOf(std::size_t remaining) { return uInt(std::min(remaining, kMaxPiece)); }

} // namespace

// The staging buffer and the zlib stream record in one zero-filled allocation.
struct CDeflateCompressor::Block {
  Bytef staging[kStagingBufferSize];
  z_stream stream;
};

struct CDeflateDecompressor::Block {
  Bytef staging[kStagingBufferSize];
  z_stream stream;
};

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
  auto* in = static_cast<const Bytef*>(data);
  std::size_t remaining = size;
  while (remaining > 0) {
    s.next_in = const_cast<Bytef*>(in);
    s.avail_in = pieceOf(remaining);
    const std::size_t piece = s.avail_in;
    while (s.avail_in > 0) {
      if (s.avail_out == 0) {
        if (!file.writeAll(block_->staging, kStagingBufferSize)) return false;
        s.next_out = block_->staging;
        s.avail_out = kStagingBufferSize;
      }
      lastResult_ = deflate(&s, Z_NO_FLUSH);
      if (lastResult_ != Z_OK) return false;
    }
    in += piece;
    remaining -= piece;
  }
  return true;
}

bool CDeflateCompressor::Finish(File& file) {
  if (!block_) return true; // never written to: no stream at all
  if (lastResult_ != Z_OK) return false;

  z_stream& s = block_->stream;
  for (;;) {
    const std::size_t pending = kStagingBufferSize - s.avail_out;
    if (pending > 0) {
      if (!file.writeAll(block_->staging, pending)) return false;
      s.next_out = block_->staging;
      s.avail_out = kStagingBufferSize;
    }
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
  auto* out = static_cast<Bytef*>(buffer);
  std::size_t remaining = size; // not yet handed to zlib as output room
  s.avail_out = 0;
  for (;;) {
    if (s.avail_in == 0) {
      std::size_t got = 0;
      if (!file.read(block_->staging, kStagingBufferSize, got) || got == 0) return false;
      s.next_in = block_->staging;
      s.avail_in = uInt(got);
    }
    if (s.avail_out == 0) {
      s.next_out = out;
      s.avail_out = pieceOf(remaining);
      out += s.avail_out;
      remaining -= s.avail_out;
    }
    lastResult_ = inflate(&s, Z_NO_FLUSH);
    if (lastResult_ == Z_STREAM_END) break;
    if (lastResult_ != Z_OK) return false;
    if (s.avail_out == 0 && remaining == 0) return true;
  }

  // The stream ended: give back what was read beyond it, so the file stands on the first byte
  // after the deflate data.
  if (s.avail_in > 0) {
    if (!file.seekBy(-std::int64_t(s.avail_in))) return false;
    s.avail_in = 0;
  }
  return s.avail_out == 0 && remaining == 0;
}

} // namespace zelvo
