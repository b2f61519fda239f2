// A bzip2 compressor that works on several blocks at once and still writes one stream, byte for
// byte the one CBZip2Compressor writes for the same input.
//
// libbz2 compresses every block on its own; the blocks of a stream are tied together only by the
// bit position at which each one starts and by the stream's combined CRC. So the input is cut
// exactly where libbz2 would end its blocks, each block is compressed by libbz2 as a stream of
// its own (on a worker thread), and the blocks' bits are spliced behind one stream header, ended
// by one end-of-stream marker with the combined CRC.
#pragma once

#include "compress/streams.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace zelvo {

class ThreadPool;

// The 48 bits that start every bzip2 block.
inline constexpr std::uint64_t kBZip2BlockMagic = 0x314159265359ull;

// libbz2's first stage turns every run of 4 to 255 equal bytes into the byte four times and a count
// (0 to 251); shorter runs stay as they are, longer ones are cut into runs of 255. A block is
// complete once it holds blockSize100k x 100000 - 19 bytes of that output: the check comes when a
// run is complete, that is when the byte after it arrives, and that byte starts the next block.
// This cutter follows the same rule over a stream of bytes and keeps each block in its first-stage
// form, which never exceeds the block size however repetitive the input.
class BZip2BlockCutter {
public:
  explicit BZip2BlockCutter(int blockSize100k);

  // Takes bytes from `data` until a block is complete or `size` bytes were taken; returns the
  // count taken. After a block completed, take it with takeBlock() before feeding on.
  std::size_t feed(const std::uint8_t* data, std::size_t size);
  bool blockComplete() const { return complete_; }
  // At the end of the input: ends the last block with the run in progress. True when there is
  // one (false for empty input).
  bool finish();
  // The completed (or, after finish(), the last) block in first-stage form; the cutter starts
  // collecting the next block.
  std::vector<std::uint8_t> takeBlock();

private:
  static constexpr std::size_t kRunSlack = 8; // room beyond the capacity for the last run

  std::size_t capacity_;            // first-stage bytes that complete a block
  std::vector<std::uint8_t> block_; // capacity_ + kRunSlack bytes, used_ of them taken
  std::size_t used_ = 0;
  int runByte_ = -1;  // the byte of the run in progress; -1 before the first byte
  int runLength_ = 0; // 1 to 255
  bool complete_ = false;
};

// Expands a block in first-stage form back to the bytes it stands for, piece by piece.
class BZip2RunExpander {
public:
  BZip2RunExpander(const std::uint8_t* encoded, std::size_t size) : in_(encoded), end_(encoded + size) {}
  // Writes up to `room` bytes to `out`; returns the count, 0 once all is expanded.
  std::size_t expand(std::uint8_t* out, std::size_t room);

private:
  const std::uint8_t* in_;
  const std::uint8_t* end_;
  int last_ = -1;  // the previous byte read, for counting equal bytes
  int equal_ = 0;  // how many equal bytes in a row were read (up to 4)
  int repeat_ = 0; // copies of last_ still to write
};

// The work factor (libbz2's sort effort before it turns to its slower, steady sort) for a block in
// first-stage form. It changes only the speed, never the output: blocks with long repeats, where
// the first sort would give up anyway, start with the steady sort (1); others get 30.
int bzip2WorkFactorFor(const std::vector<std::uint8_t>& encoded);

// A whole block compressed by libbz2 as a stream of its own, reduced to what the splicing needs.
struct BZip2CompressedBlock {
  bool ok = false;
  std::vector<std::uint8_t> stream; // the block's own stream: header, block, end marker, CRC
  std::uint64_t bitEnd = 0;         // the block's bits are stream bits 32 up to bitEnd
  std::uint32_t crc = 0;            // the block's CRC
  bool readBackFailed = false;      // the fast encoder's block did not read back: libbz2 made this one
  int libraryResult = 0;            // libbz2's failing result, when it failed
};

// Compresses one block (in first-stage form) with libbz2 at `blockSize100k` and `workFactor`.
BZip2CompressedBlock compressBZip2Block(const std::vector<std::uint8_t>& encoded, int blockSize100k,
                                        int workFactor);

// Whether libbz2 reads `block` (its stream up to bitEnd, ended by the end marker and its CRC) back
// to exactly the bytes that `encoded` (the block in first-stage form) stands for.
bool bzip2BlockReadsBack(const BZip2CompressedBlock& block, const std::vector<std::uint8_t>& encoded);

// Which code compresses the blocks: libbz2 (the stream is libbz2's own, byte for byte), or the
// faster encoder of bzip2_fast.h (the same blocks and data, other bytes).
enum class BZip2Encoder { Library, Fast };

// One block compressed by `encoder`. A block of the fast encoder is read back by libbz2 before it
// is handed out; should it not read back, libbz2 compresses the block instead and the result says
// so (readBackFailed), so a stream of these blocks always holds the data it was given.
BZip2CompressedBlock compressBZip2BlockWith(BZip2Encoder encoder, const std::vector<std::uint8_t>& encoded,
                                            int blockSize100k);

// A bzip2 stream put together from blocks compressed apart: the stream header, the bits of each
// block in turn, the end marker and the combined CRC. Bytes go to the file in whole 16384-byte
// pieces as they gather, the rest at the end.
class BZip2Splicer {
public:
  explicit BZip2Splicer(int blockSize100k);
  ~BZip2Splicer();
  BZip2Splicer(const BZip2Splicer&) = delete;
  BZip2Splicer& operator=(const BZip2Splicer&) = delete;
  // Fails when the block is not ok or a write failed.
  Status add(File& file, const BZip2CompressedBlock& block);
  // Ends the stream and writes what is left.
  Status finish(File& file);

private:
  class Bits;
  std::unique_ptr<Bits> bits_;
  std::uint32_t combinedCrc_ = 0;
};

// `size` bytes compressed on their own into whole blocks by `encoder` (see compressBZip2BlockWith):
// one block when their first-stage form fits in one, else as many as BZip2BlockCutter makes. The
// blocks depend only on these bytes, so a run may be compressed at any time and spliced anywhere.
// Empty for empty input; a block that is not ok means that compression failed.
std::vector<BZip2CompressedBlock> compressBZip2Run(const std::uint8_t* data, std::size_t size,
                                                   int blockSize100k, BZip2Encoder encoder);

// ICompressor whose output is that of libbz2 fed the same way as CBZip2Compressor feeds it (every
// byte with BZ_RUN, then BZ_FINISH), at the default block size 6 exactly CBZip2Compressor's
// stream; with BZip2Encoder::Fast, a stream of the same blocks that decompresses to the same data
// (every block read back by libbz2 on the worker that made it, see compressBZip2BlockWith). Blocks go
// to `pool` as they fill, at most two per worker in flight; without a pool they are compressed on the calling
// thread. Write and Finish are called from one thread, and the pool must outlive the compressor. Output is
// written in whole 16384-byte pieces during Write, the rest by Finish.
class ParallelBZip2Compressor final : public ICompressor {
public:
  explicit ParallelBZip2Compressor(ThreadPool* pool, int blockSize100k = kBZip2BlockSize100k,
                                   BZip2Encoder encoder = BZip2Encoder::Library);
  ~ParallelBZip2Compressor() override;
  ParallelBZip2Compressor(const ParallelBZip2Compressor&) = delete;
  ParallelBZip2Compressor& operator=(const ParallelBZip2Compressor&) = delete;

  std::uint32_t GetMethod() const override { return kMethodBZip2; }
  Status Write(File& file, const void* data, std::size_t size) override;
  Status Finish(File& file) override;
  // Blocks of the fast encoder that did not read back and were compressed by libbz2 instead.
  std::uint64_t blocksReadBackFailed() const { return readBackFailed_; }

private:
  struct State;
  Status startBlock(File& file);   // hands the completed block to a worker
  Status spliceOldest(File& file); // appends the oldest block's bits to the stream
  Error fail(Error why);           // ends the stream for good with `why`
  Error finishedError() const;     // why a call after a failure or after Finish fails

  ThreadPool* pool_;
  int blockSize100k_;
  BZip2Encoder encoder_;
  std::unique_ptr<State> state_; // null until the first Write
  bool failed_ = false;          // once set, every later call fails
  bool finished_ = false;
  std::uint64_t readBackFailed_ = 0;
};

} // namespace zelvo
