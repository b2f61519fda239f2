#include "compress/bzip2_parallel.h"

#include "compress/bzip2_fast.h"
#include "compress/codec_error.h"

#include "platform/thread_pool.h"

#include <algorithm>
#include <bzlib.h>
#include <cstring>

namespace zelvo {

namespace {

constexpr std::uint64_t kStreamMagic = 0x177245385090ull; // end of stream, 48 bits
constexpr std::uint64_t kHeaderBits = 32;                 // "BZh" and the block size digit
constexpr std::size_t kExpandPiece = 65536;               // raw bytes handed to libbz2 at a time

// `count` (at most 57) bits of `bytes` from bit `at`, most significant first.
std::uint64_t bitsAt(const std::vector<std::uint8_t>& bytes, std::uint64_t at, int count) {
  std::uint64_t value = 0;
  for (int i = 0; i < count; ++i, ++at) value = (value << 1) | ((bytes[at >> 3] >> (7 - (at & 7))) & 1u);
  return value;
}

// Fills `out` with the stream of `encoded`; BZ_STREAM_END, else libbz2's failing result.
int compressWithLibrary(const std::vector<std::uint8_t>& encoded, int blockSize100k, int workFactor,
                        std::vector<std::uint8_t>& out) {
  bz_stream s{};
  if (const int started = BZ2_bzCompressInit(&s, blockSize100k, 0, workFactor); started != BZ_OK)
    return started;
  out.resize(encoded.size() + encoded.size() / 64 + 1024);
  std::size_t produced = 0;
  auto room = [&] {
    if (produced == out.size()) out.resize(out.size() * 2);
    s.next_out = reinterpret_cast<char*>(out.data() + produced);
    s.avail_out = unsigned(out.size() - produced);
  };
  auto gather = [&] { produced = out.size() - s.avail_out; };

  std::vector<std::uint8_t> piece(kExpandPiece);
  BZip2RunExpander expander(encoded.data(), encoded.size());
  int result = BZ_RUN_OK;
  while (result == BZ_RUN_OK) {
    const std::size_t n = expander.expand(piece.data(), piece.size());
    if (n == 0) break;
    s.next_in = reinterpret_cast<char*>(piece.data());
    s.avail_in = unsigned(n);
    while (result == BZ_RUN_OK && s.avail_in > 0) {
      room();
      result = BZ2_bzCompress(&s, BZ_RUN);
      gather();
    }
  }
  if (result == BZ_RUN_OK) result = BZ_FINISH_OK;
  while (result == BZ_FINISH_OK) {
    room();
    result = BZ2_bzCompress(&s, BZ_FINISH);
    gather();
  }
  BZ2_bzCompressEnd(&s);
  out.resize(produced);
  return result;
}

// Gathers bits into whole bytes, which go to the file in 16384-byte pieces.
class BitSink {
public:
  void putBits(std::uint64_t value, int count) { // count at most 48
    acc_ = (acc_ << count) | (value & ((std::uint64_t(1) << count) - 1));
    bits_ += count;
    while (bits_ >= 8) {
      bits_ -= 8;
      bytes_.push_back(std::uint8_t(acc_ >> bits_));
    }
  }
  // Bits [from, to) of `stream`, where `from` is a multiple of 8.
  void putStreamBits(const std::vector<std::uint8_t>& stream, std::uint64_t from, std::uint64_t to) {
    const std::size_t whole = std::size_t((to - from) / 8);
    const std::uint8_t* in = stream.data() + from / 8;
    const std::size_t start = bytes_.size();
    bytes_.resize(start + whole);
    std::uint8_t* out = bytes_.data() + start;
    if (bits_ == 0) {
      std::memcpy(out, in, whole);
    } else {
      std::uint64_t acc = acc_;
      for (std::size_t i = 0; i < whole; ++i) {
        acc = (acc << 8) | in[i];
        out[i] = std::uint8_t(acc >> bits_);
      }
      acc_ = acc;
    }
    const int rest = int((to - from) % 8);
    if (rest > 0) putBits(in[whole] >> (8 - rest), rest);
  }
  // Pads the last byte with zero bits.
  void padToByte() {
    if (bits_ > 0) putBits(0, 8 - bits_);
  }
  // The whole bytes gathered (after padToByte, all of them); the sink starts empty again.
  std::vector<std::uint8_t> take() { return std::move(bytes_); }
  // Writes the whole 16384-byte pieces gathered so far, or with `all` every byte.
  Status write(File& file, bool all) {
    const std::size_t n = all ? bytes_.size() : bytes_.size() / kStagingBufferSize * kStagingBufferSize;
    if (n == 0) return {};
    if (Status s = file.writeAll(bytes_.data(), n); !s) return s;
    bytes_.erase(bytes_.begin(), bytes_.begin() + std::ptrdiff_t(n));
    return {};
  }

private:
  std::vector<std::uint8_t> bytes_; // whole bytes not yet written
  std::uint64_t acc_ = 0;           // its low bits_ bits are not yet in bytes_
  int bits_ = 0;                    // 0 to 7 between calls
};

} // namespace

BZip2BlockCutter::BZip2BlockCutter(int blockSize100k)
    : capacity_(std::size_t(blockSize100k) * 100000 - 19), block_(capacity_ + kRunSlack) {}

std::size_t BZip2BlockCutter::feed(const std::uint8_t* data, std::size_t size) {
  if (complete_) return 0;
  std::uint8_t* const start = block_.data();
  std::uint8_t* const full = start + capacity_;
  std::uint8_t* out = start + used_;
  int runByte = runByte_, runLength = runLength_;
  const std::uint8_t* in = data;
  const std::uint8_t* const end = data + size;
  while (in < end) {
    const int byte = *in++;
    if (byte == runByte && runLength < 255) {
      ++runLength;
      continue;
    }
    if (runByte >= 0) {
      // The run is complete: 1 to 3 bytes as they are, else four and the count. (The buffer's
      // slack lets three bytes be stored whatever the length.)
      const std::uint8_t b = std::uint8_t(runByte);
      out[0] = out[1] = out[2] = out[3] = b;
      if (runLength < 4) {
        out += runLength;
      } else {
        out[4] = std::uint8_t(runLength - 4);
        out += 5;
      }
    }
    runByte = byte;
    runLength = 1;
    if (out >= full) {
      complete_ = true;
      break;
    }
  }
  used_ = std::size_t(out - start);
  runByte_ = runByte;
  runLength_ = runLength;
  return std::size_t(in - data);
}

bool BZip2BlockCutter::finish() {
  if (runByte_ >= 0) {
    // As in feed, once more for the run in progress.
    std::uint8_t* out = block_.data() + used_;
    const std::uint8_t b = std::uint8_t(runByte_);
    out[0] = out[1] = out[2] = out[3] = b;
    if (runLength_ < 4) {
      used_ += std::size_t(runLength_);
    } else {
      out[4] = std::uint8_t(runLength_ - 4);
      used_ += 5;
    }
  }
  runByte_ = -1;
  runLength_ = 0;
  return used_ > 0;
}

std::vector<std::uint8_t> BZip2BlockCutter::takeBlock() {
  std::vector<std::uint8_t> done(capacity_ + kRunSlack);
  done.swap(block_);
  done.resize(used_);
  used_ = 0;
  complete_ = false;
  return done;
}

std::size_t BZip2RunExpander::expand(std::uint8_t* out, std::size_t room) {
  std::size_t n = 0;
  while (n < room) {
    if (repeat_ > 0) {
      const std::size_t k = std::min(std::size_t(repeat_), room - n);
      std::memset(out + n, last_, k);
      n += k;
      repeat_ -= int(k);
      continue;
    }
    if (in_ == end_) break;
    const int byte = *in_++;
    if (equal_ == 4) { // the count after four equal bytes
      repeat_ = byte;
      equal_ = 0;
      continue;
    }
    equal_ = byte == last_ ? equal_ + 1 : 1;
    last_ = byte;
    out[n++] = std::uint8_t(byte);
  }
  return n;
}

int bzip2WorkFactorFor(const std::vector<std::uint8_t>& encoded) {
  // How far, on average, the text at every 16th position repeats the text at the last earlier
  // position that began with the same 8 bytes (capped at 4096 bytes). libbz2's first sort compares
  // suffixes byte by byte and gives up when the comparisons run long; on hi-res tile data at
  // scales 2 to 4 it gave up in nearly every block where this mean exceeded about 38 bytes and in
  // almost none below, and starting with the steady sort saved a third of the time in those blocks.
  constexpr int kHashBits = 18;
  constexpr std::size_t kSampleEvery = 16;
  constexpr std::size_t kMatchCap = 4096;
  constexpr std::uint64_t kRepetitiveMean = 38;
  const std::size_t n = encoded.size();
  if (n < 8) return 30;
  std::vector<std::int32_t> last(std::size_t(1) << kHashBits, -1);
  const std::uint8_t* b = encoded.data();
  std::uint64_t total = 0, samples = 0;
  for (std::size_t i = 0; i + 8 <= n; ++i) {
    std::uint64_t word;
    std::memcpy(&word, b + i, 8);
    const std::size_t h = std::size_t((word * 0x9E3779B97F4A7C15ull) >> (64 - kHashBits));
    const std::int32_t j = last[h];
    last[h] = std::int32_t(i);
    if (i % kSampleEvery != 0) continue;
    ++samples;
    if (j < 0) continue;
    const std::uint8_t* earlier = b + j;
    const std::size_t cap = std::min(kMatchCap, n - i);
    std::size_t length = 0;
    for (std::uint64_t x, y; length + 8 <= cap; length += 8) {
      std::memcpy(&x, earlier + length, 8);
      std::memcpy(&y, b + i + length, 8);
      if (x != y) break;
    }
    while (length < cap && earlier[length] == b[i + length]) ++length;
    total += length;
  }
  return total > kRepetitiveMean * samples ? 1 : 30;
}

BZip2CompressedBlock compressBZip2Block(const std::vector<std::uint8_t>& encoded, int blockSize100k,
                                        int workFactor) {
  BZip2CompressedBlock block;
  if (encoded.empty()) return block;
  if (const int result = compressWithLibrary(encoded, blockSize100k, workFactor, block.stream);
      result != BZ_STREAM_END) {
    block.libraryResult = result;
    return block;
  }
  const std::vector<std::uint8_t>& s = block.stream;
  // A one-block stream: header, block magic and CRC, ..., end marker, combined CRC (which is the
  // block's), then up to 7 zero bits to the byte.
  const std::uint64_t bits = std::uint64_t(s.size()) * 8;
  if (bits < kHeaderBits + 80 + 80 || s[0] != 'B' || s[1] != 'Z' || s[2] != 'h' ||
      s[3] != '0' + blockSize100k)
    return block;
  if (bitsAt(s, kHeaderBits, 48) != kBZip2BlockMagic) return block;
  block.crc = std::uint32_t(bitsAt(s, kHeaderBits + 48, 32));
  // The end marker has no period below 8 bits, so only one padding length can fit.
  for (int pad = 0; pad < 8; ++pad) {
    const std::uint64_t end = bits - std::uint64_t(pad) - 80;
    if (bitsAt(s, end, 48) == kStreamMagic && bitsAt(s, end + 48, 32) == block.crc &&
        (pad == 0 || bitsAt(s, bits - std::uint64_t(pad), pad) == 0)) {
      block.bitEnd = end;
      block.ok = true;
      return block;
    }
  }
  return block;
}

bool bzip2BlockReadsBack(const BZip2CompressedBlock& block, const std::vector<std::uint8_t>& encoded) {
  if (!block.ok || block.bitEnd < kHeaderBits || block.bitEnd > std::uint64_t(block.stream.size()) * 8)
    return false;
  BitSink sink;
  sink.putStreamBits(block.stream, 0, block.bitEnd);
  sink.putBits(kStreamMagic, 48);
  sink.putBits(block.crc, 32);
  sink.padToByte();
  std::vector<std::uint8_t> stream = sink.take();

  bz_stream s{};
  if (BZ2_bzDecompressInit(&s, 0, 0) != BZ_OK) return false;
  s.next_in = reinterpret_cast<char*>(stream.data());
  s.avail_in = unsigned(stream.size());
  // What libbz2 gives back is compared piece by piece with the block's bytes as they expand.
  std::vector<std::uint8_t> got(kExpandPiece), want(kExpandPiece);
  BZip2RunExpander expander(encoded.data(), encoded.size());
  bool same = true;
  int result = BZ_OK;
  while (same && result == BZ_OK) {
    s.next_out = reinterpret_cast<char*>(got.data());
    s.avail_out = unsigned(got.size());
    result = BZ2_bzDecompress(&s);
    const std::size_t n = got.size() - s.avail_out;
    if (result != BZ_OK && result != BZ_STREAM_END) same = false;
    if (result == BZ_OK && n == 0 && s.avail_in == 0) same = false; // the stream ends early
    for (std::size_t k = 0; same && k < n;) {
      const std::size_t m = expander.expand(want.data(), n - k);
      same = m > 0 && std::memcmp(got.data() + k, want.data(), m) == 0;
      k += m;
    }
  }
  BZ2_bzDecompressEnd(&s);
  return same && result == BZ_STREAM_END && s.avail_in == 0 && expander.expand(want.data(), 1) == 0;
}

BZip2CompressedBlock compressBZip2BlockWith(BZip2Encoder encoder, const std::vector<std::uint8_t>& encoded,
                                            int blockSize100k) {
  if (encoder == BZip2Encoder::Fast) {
    BZip2CompressedBlock fast = encodeBZip2BlockFast(encoded, blockSize100k);
    if (bzip2BlockReadsBack(fast, encoded)) return fast;
  }
  BZip2CompressedBlock block = compressBZip2Block(encoded, blockSize100k, bzip2WorkFactorFor(encoded));
  block.readBackFailed = encoder == BZip2Encoder::Fast;
  return block;
}

class BZip2Splicer::Bits : public BitSink {};

BZip2Splicer::BZip2Splicer(int blockSize100k) : bits_(std::make_unique<Bits>()) {
  bits_->putBits(0x425A68u, 24); // "BZh"
  bits_->putBits(std::uint64_t('0' + blockSize100k), 8);
}

BZip2Splicer::~BZip2Splicer() = default;

Status BZip2Splicer::add(File& file, const BZip2CompressedBlock& block) {
  if (!block.ok) return makeError(ErrorCause::InvalidArgument, {}, "a bzip2 block that failed to compress");
  bits_->putStreamBits(block.stream, kHeaderBits, block.bitEnd);
  combinedCrc_ = ((combinedCrc_ << 1) | (combinedCrc_ >> 31)) ^ block.crc;
  return bits_->write(file, false);
}

Status BZip2Splicer::finish(File& file) {
  bits_->putBits(kStreamMagic, 48);
  bits_->putBits(combinedCrc_, 32);
  bits_->padToByte();
  return bits_->write(file, true);
}

std::vector<BZip2CompressedBlock> compressBZip2Run(const std::uint8_t* data, std::size_t size,
                                                   int blockSize100k, BZip2Encoder encoder) {
  std::vector<BZip2CompressedBlock> blocks;
  BZip2BlockCutter cutter(blockSize100k);
  while (size > 0) {
    const std::size_t taken = cutter.feed(data, size);
    data += taken;
    size -= taken;
    if (cutter.blockComplete())
      blocks.push_back(compressBZip2BlockWith(encoder, cutter.takeBlock(), blockSize100k));
  }
  if (cutter.finish()) blocks.push_back(compressBZip2BlockWith(encoder, cutter.takeBlock(), blockSize100k));
  return blocks;
}

struct ParallelBZip2Compressor::State {
  State(ThreadPool* pool, int blockSize100k)
      : cutter(blockSize100k), tasks(pool, pool ? std::size_t(pool->size()) * 2 : 1), splicer(blockSize100k) {
  }

  BZip2BlockCutter cutter;
  OrderedTasks<BZip2CompressedBlock> tasks;
  BZip2Splicer splicer;
};

ParallelBZip2Compressor::ParallelBZip2Compressor(ThreadPool* pool, int blockSize100k, BZip2Encoder encoder)
    : pool_(pool), blockSize100k_(blockSize100k), encoder_(encoder) {}

ParallelBZip2Compressor::~ParallelBZip2Compressor() = default;

Status ParallelBZip2Compressor::Write(File& file, const void* data, std::size_t size) {
  if (failed_ || finished_) return finishedError();
  if (!state_) state_ = std::make_unique<State>(pool_, blockSize100k_);
  const auto* in = static_cast<const std::uint8_t*>(data);
  while (size > 0) {
    const std::size_t taken = state_->cutter.feed(in, size);
    in += taken;
    size -= taken;
    if (state_->cutter.blockComplete()) {
      if (Status started = startBlock(file); !started) return fail(started.error());
    }
  }
  return {};
}

Status ParallelBZip2Compressor::Finish(File& file) {
  if (failed_ || finished_) return finishedError();
  finished_ = true;
  if (!state_) return {}; // never written to: no stream at all
  State& st = *state_;
  if (st.cutter.finish()) {
    if (Status started = startBlock(file); !started) return fail(started.error());
  }
  while (!st.tasks.empty()) {
    if (Status spliced = spliceOldest(file); !spliced) return fail(spliced.error());
  }
  if (Status s = st.splicer.finish(file); !s) return fail(s.error());
  state_.reset();
  return {};
}

Status ParallelBZip2Compressor::startBlock(File& file) {
  State& st = *state_;
  while (st.tasks.full()) {
    if (Status spliced = spliceOldest(file); !spliced) return spliced;
  }
  st.tasks.push([block = st.cutter.takeBlock(), size = blockSize100k_, encoder = encoder_] {
    return compressBZip2BlockWith(encoder, block, size);
  });
  return {};
}

Status ParallelBZip2Compressor::spliceOldest(File& file) {
  State& st = *state_;
  const BZip2CompressedBlock block = st.tasks.pop();
  if (block.readBackFailed) ++readBackFailed_;
  if (!block.ok) {
    if (block.libraryResult != 0) return bzip2Error(block.libraryResult, CodecSide::Compressing);
    return makeError(ErrorCause::WriteFailed, {}, "a bzip2 block could not be compressed");
  }
  return st.splicer.add(file, block);
}

Error ParallelBZip2Compressor::fail(Error why) {
  failed_ = true;
  state_.reset(); // waits for the blocks still being compressed
  return why;
}

Error ParallelBZip2Compressor::finishedError() const {
  return makeError(ErrorCause::InvalidArgument, {},
                   failed_ ? "the bzip2 stream failed earlier" : "the bzip2 stream is already finished");
}

} // namespace zelvo
