// The bzip2 compressor that splices blocks compressed apart: its stream is libbz2's own single
// stream, byte for byte, wherever the blocks end and however many threads compress them.
#include "compress/bzip2_fast.h"
#include "compress/bzip2_parallel.h"
#include "platform/fault.h"
#include "platform/thread_pool.h"
#include "stream_test_util.h"
#include "support/temp_dir.h"

#include <cerrno>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <string>

namespace zelvo::test {
namespace {

constexpr std::size_t kCapacity1 = 100000 - 19; // first-stage bytes of a block at block size 1

// Random bytes where no byte equals the one before: the first stage keeps them one for one, so
// their length is exactly their first-stage length.
Bytes distinct(std::size_t n, std::uint32_t seed) {
  Bytes out = randomBytes(n, seed);
  for (std::size_t i = 1; i < n; ++i)
    if (out[i] == out[i - 1]) out[i] = std::uint8_t(out[i] + 1);
  return out;
}
Bytes run(std::uint8_t byte, std::size_t n) { return Bytes(n, byte); }
Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

struct Case {
  std::string name;
  int blockSize100k;
  std::function<Bytes()> payload;
};

std::vector<Case> cases() {
  const std::size_t c = kCapacity1;
  std::vector<Case> all = {
      {"empty", 1, [] { return Bytes{}; }},
      {"one byte", 1, [] { return Bytes{0x42}; }},
      {"exactly one block", 1, [=] { return distinct(c, 1); }},
      {"full on the last byte", 1, [=] { return distinct(c + 1, 2); }},
      {"one byte into the next block", 1, [=] { return distinct(c + 2, 3); }},
      {"run completes the block", 1, [=] { return distinct(c - 3, 4) + run(0x41, 10) + distinct(50, 5); }},
      {"run of 4 ends on the edge", 1, [=] { return distinct(c - 5, 6) + run(0x41, 4) + distinct(9, 7); }},
      {"all zero", 1, [] { return Bytes(6000000, 0); }},
      {"random", 1, [] { return randomBytes(350000, 8); }},
      {"repetitive", 1, [] { return tileLikeBytes(400000, 9); }},
      {"repetitive, 600k blocks", 6, [] { return tileLikeBytes(1500000, 10); }},
      {"periodic", 1,
       [] {
         Bytes b;
         for (int i = 0; i < 100000; ++i) b.insert(b.end(), {'a', 'b', 'c'});
         return b;
       }},
  };
  // Runs longer than 255 (cut by the first stage) that start just before or after a block edge.
  for (int offset = -6; offset <= 6; offset += 2) {
    all.push_back({"run of 600 at edge " + std::to_string(offset), 1, [=] {
                     return distinct(std::size_t(std::ptrdiff_t(c) + offset), 11) + run(0x41, 600) +
                            distinct(1000, 12);
                   }});
  }
  return all;
}

// Compresses `data` through the compressor in pieces of varying sizes; the stream written.
Bytes compressSpliced(const Bytes& data, ThreadPool* pool, int blockSize100k, TempDir& dir,
                      BZip2Encoder encoder = BZip2Encoder::Library) {
  File file = test::opened(File::createTemporary(dir.file("spliced")));
  ParallelBZip2Compressor compressor(pool, blockSize100k, encoder);
  const std::vector<std::size_t> pieces = {4096, 1, 65537, 7, 300000};
  EXPECT_TRUE(compressInPieces(compressor, file, data, pieces));
  return allBytes(file);
}

TEST(ParallelBZip2, SplicedStreamIsLibbz2sOwnForEveryThreadCount) {
  TempDir dir;
  ThreadPool two(2), four(4);
  for (const Case& k : cases()) {
    SCOPED_TRACE(k.name);
    const Bytes data = k.payload();
    const Bytes reference = bzip2RunThenFinish(data, k.blockSize100k);
    ASSERT_FALSE(reference.empty());
    if (k.blockSize100k == 6 && data.size() < 2000000) {
      CBZip2Compressor single;
      File file = test::opened(File::createTemporary(dir.file("single")));
      ASSERT_TRUE(compressInPieces(single, file, data, {65536}));
      EXPECT_EQ(allBytes(file), reference);
    }
    for (ThreadPool* pool : {static_cast<ThreadPool*>(nullptr), &two, &four}) {
      const Bytes spliced = compressSpliced(data, pool, k.blockSize100k, dir);
      EXPECT_TRUE(spliced == reference) << (pool ? pool->size() : 1) << " threads: " << spliced.size()
                                        << " bytes, libbz2 " << reference.size();
    }
  }
}

// The fast encoder's stream is another one, but libbz2 reads it back to the same bytes, for any
// thread count, and it is hardly larger than libbz2's own.
TEST(ParallelBZip2, FastEncoderStreamsDecompressToTheSameData) {
  TempDir dir;
  ThreadPool two(2);
  for (const Case& k : cases()) {
    SCOPED_TRACE(k.name);
    const Bytes data = k.payload();
    const Bytes reference = bzip2RunThenFinish(data, k.blockSize100k);
    for (ThreadPool* pool : {static_cast<ThreadPool*>(nullptr), &two}) {
      const Bytes fast = compressSpliced(data, pool, k.blockSize100k, dir, BZip2Encoder::Fast);
      const std::optional<Bytes> back = bzip2Decompress(fast, data.size());
      ASSERT_TRUE(back.has_value());
      EXPECT_TRUE(*back == data);
      EXPECT_LE(fast.size(), reference.size() + reference.size() / 50 + 64)
          << "libbz2: " << reference.size() << " bytes";
    }
  }
}

// The read-back that every block of the fast encoder passes before a build splices it: a block
// that libbz2 would not give back exactly as it was given is refused.
TEST(ParallelBZip2, ReadBackRefusesEveryDamagedBlock) {
  BZip2BlockCutter cutter(1);
  const Bytes data = tileLikeBytes(60000, 14);
  cutter.feed(data.data(), data.size());
  ASSERT_TRUE(cutter.finish());
  const Bytes block = cutter.takeBlock();
  const BZip2CompressedBlock good = encodeBZip2BlockFast(block, 1);
  ASSERT_TRUE(bzip2BlockReadsBack(good, block));
  Bytes other = block;
  other[other.size() / 2] ^= 1;
  const struct {
    const char* name;
    std::function<void(BZip2CompressedBlock&)> damage;
    const Bytes& expected;
  } cases[] = {
      {"a bit flipped in the codes", [](BZip2CompressedBlock& b) { b.stream[b.stream.size() / 2] ^= 0x10; },
       block},
      {"the wrong CRC", [](BZip2CompressedBlock& b) { b.crc ^= 1; }, block},
      {"cut short", [](BZip2CompressedBlock& b) { b.bitEnd -= 9; }, block},
      {"beyond its bytes", [](BZip2CompressedBlock& b) { b.bitEnd = b.stream.size() * 8 + 1; }, block},
      {"other data", [](BZip2CompressedBlock&) {}, other},
  };
  for (const auto& k : cases) {
    BZip2CompressedBlock damaged = good;
    k.damage(damaged);
    EXPECT_FALSE(bzip2BlockReadsBack(damaged, k.expected)) << k.name;
  }
  // A block of either encoder, read back, as a build makes it.
  for (BZip2Encoder encoder : {BZip2Encoder::Fast, BZip2Encoder::Library}) {
    const BZip2CompressedBlock made = compressBZip2BlockWith(encoder, block, 1);
    EXPECT_TRUE(bzip2BlockReadsBack(made, block));
    EXPECT_FALSE(made.readBackFailed);
  }
}

// A failed write fails the call that met it and every later one; the blocks still being
// compressed are waited for, whichever call failed.
TEST(ParallelBZip2, AWriteFailureIsKept) {
  TempDir dir;
  ThreadPool pool(2);
  const Bytes data = tileLikeBytes(3000000, 13);
  for (std::uint64_t nth : {1, 2, 3}) {
    SCOPED_TRACE(nth);
    File file = test::opened(File::createTemporary(dir.file("fail" + std::to_string(nth))));
    ParallelBZip2Compressor compressor(&pool, 1);
    armFault(unsigned(FaultOp::Write), nth, ENOSPC);
    Status ok;
    for (std::size_t at = 0; ok && at < data.size(); at += 65536)
      ok = compressor.Write(file, data.data() + at, std::min<std::size_t>(65536, data.size() - at));
    if (ok) ok = compressor.Finish(file);
    EXPECT_TRUE(faultFired());
    disarmFault();
    ASSERT_FALSE(ok);
    EXPECT_EQ(ok.error().cause, ErrorCause::NoSpace) << ok.error().message();
    EXPECT_FALSE(compressor.Write(file, data.data(), 1));
    EXPECT_FALSE(compressor.Finish(file));
  }
}

} // namespace
} // namespace zelvo::test
