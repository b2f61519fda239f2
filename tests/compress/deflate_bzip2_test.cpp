// Deflate and bzip2 streams: round trips against the libraries' one-shot coders, the file position
// after a stream has ended, the kept result, and the write pattern of the compressors.
#include "compress/bzip2_parallel.h"
#include "platform/thread_pool.h"
#include "stream_test_util.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

namespace zelvo::test {
namespace {

struct Codec {
  const char* name;
  std::uint32_t method;
  std::unique_ptr<ICompressor> (*makeCompressor)();
  Bytes (*reference)(const Bytes&);
  std::optional<Bytes> (*referenceDecode)(const Bytes&, std::size_t);
  const char* dataError; // how a damaged stream's failure begins: the library and its own code
};

const Codec kDeflate = {"Deflate",
                        kMethodDeflate,
                        [] { return std::unique_ptr<ICompressor>(new CDeflateCompressor); },
                        zlibRawDeflate,
                        [](const Bytes& s, std::size_t n) { return zlibInflate(s, n, -15); },
                        "zlib Z_DATA_ERROR (-3)"};
const Codec kBZip2 = {
    "BZip2",       kMethodBZip2,    [] { return std::unique_ptr<ICompressor>(new CBZip2Compressor); },
    bzip2Compress, bzip2Decompress, "libbz2 BZ_DATA_ERROR (-4)"};
// The same stream from blocks compressed on two worker threads.
const Codec kParallelBZip2 = {"ParallelBZip2",
                              kMethodBZip2,
                              [] {
                                static ThreadPool pool(2);
                                return std::unique_ptr<ICompressor>(new ParallelBZip2Compressor(&pool));
                              },
                              bzip2Compress,
                              bzip2Decompress,
                              "libbz2 BZ_DATA_ERROR (-4)"};

class StreamTest : public ::testing::TestWithParam<Codec> {
protected:
  void SetUp() override {
    file = test::opened(File::createTemporary(dir.file("section")));
    ASSERT_TRUE(file);
  }

  // Compresses `data` into the file at its current position; returns the stream's bytes.
  Bytes compress(const Bytes& data, const std::vector<std::size_t>& pieces = {65536}) {
    const std::uint64_t start = positionOf(file);
    auto c = GetParam().makeCompressor();
    EXPECT_EQ(c->GetMethod(), GetParam().method);
    EXPECT_TRUE(compressInPieces(*c, file, data, pieces));
    const std::uint64_t end = positionOf(file);
    Bytes all = allBytes(file);
    EXPECT_TRUE(file.seek(end));
    return Bytes(all.begin() + std::ptrdiff_t(start), all.begin() + std::ptrdiff_t(end));
  }

  std::unique_ptr<IDecompressor> decompressor() {
    return std::move(CreateDecompressor(GetParam().method).value());
  }

  TempDir dir;
  File file;
};

// Our streaming output is byte-for-byte the one-shot output of the library with the same parameters,
// however the input is cut, and our decompressor reads it back however the requests are cut.
TEST_P(StreamTest, RoundTripMatchesLibraryOneShot) {
  const std::vector<std::size_t> writePieces[] = {{1, 7, 16383}, {16384}, {16385, 3}, {1 << 20}};
  const std::vector<std::size_t> readPieces[] = {{1, 16385, 5}, {16384}, {100000}, {1 << 20}};
  std::mt19937 rng(7);
  for (int round = 0; round < 12; ++round) {
    const std::size_t sizes[] = {0, 1, 16383, 16384, 16385, 40000 + rng() % 200000};
    const std::size_t size = sizes[round % 6];
    const Bytes data = round % 2 ? randomBytes(size, round) : tileLikeBytes(size, round);
    ASSERT_TRUE(file.seek(0));
    const Bytes stream = compress(data, writePieces[round % 4]);
    EXPECT_EQ(stream, GetParam().reference(data)) << "size " << size;
    EXPECT_EQ(GetParam().referenceDecode(stream, size), data) << "size " << size;

    ASSERT_TRUE(file.seek(0));
    auto d = decompressor();
    EXPECT_EQ(decompressInPieces(*d, file, size, readPieces[round % 4]), data) << "size " << size;
    // A fresh file for the next round, so no old tail follows the stream.
    file = test::opened(File::createTemporary(dir.file("section" + std::to_string(round))));
    ASSERT_TRUE(file);
  }
}

// A section inside a larger file: the read that meets the end of the stream leaves the file on the
// first byte after it, though more was buffered; reading one byte more than the section holds fails
// with the file in the same place, and so does every later Read.
TEST_P(StreamTest, EndOfStreamRepositionsAndReadingPastItFails) {
  for (std::size_t size : {std::size_t(1000), std::size_t(300000)}) {
    const Bytes data = randomBytes(size, unsigned(size));
    const Bytes before = randomBytes(123, 1), after = randomBytes(40000, 2);
    file = test::opened(File::createTemporary(dir.file("s" + std::to_string(size))));
    ASSERT_TRUE(file.writeAll(before.data(), before.size()));
    const Bytes stream = compress(data);
    ASSERT_TRUE(file.writeAll(after.data(), after.size()));
    const std::uint64_t streamEnd = before.size() + stream.size();

    // Exactly the length, then the stream is over.
    ASSERT_TRUE(file.seek(before.size()));
    auto d = decompressor();
    EXPECT_EQ(decompressInPieces(*d, file, size, {size / 3, 1, 16384}), data);
    if (stream.size() < kStagingBufferSize) {
      EXPECT_EQ(positionOf(file), streamEnd);
    }

    // One byte too many.
    ASSERT_TRUE(file.seek(before.size()));
    d = decompressor();
    Bytes out(size + 1);
    EXPECT_FALSE(d->Read(file, out.data(), out.size()));
    EXPECT_EQ(positionOf(file), streamEnd);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), out.begin()));
    EXPECT_FALSE(d->Read(file, out.data(), 1));
    EXPECT_FALSE(d->Read(file, out.data(), 0));
    EXPECT_EQ(positionOf(file), streamEnd);

    // The byte after the stream is still there for the next reader.
    std::uint8_t next = 0;
    ASSERT_TRUE(file.readExact(&next, 1));
    EXPECT_EQ(next, after[0]);
  }
}

// Sections written one after another are read back one after another, each decompressor leaving
// the file where the next section starts.
TEST_P(StreamTest, ConsecutiveSections) {
  const Bytes a = tileLikeBytes(70000, 3), b = randomBytes(5000, 4), c = tileLikeBytes(33, 5);
  for (const Bytes* data : {&a, &b, &c}) compress(*data, {4097});
  ASSERT_TRUE(file.seek(0));
  for (const Bytes* data : {&a, &b, &c}) {
    auto d = decompressor();
    Bytes out(data->size() + 1);
    ASSERT_FALSE(d->Read(file, out.data(), out.size())); // runs into the end, stops after it
    out.pop_back();
    EXPECT_EQ(out, *data);
  }
  std::uint64_t size = 0;
  ASSERT_TRUE(test::into(file.size(), size));
  EXPECT_EQ(positionOf(file), size);
}

// Finish without any Write writes nothing at all; an empty Write makes a complete, empty stream.
TEST_P(StreamTest, EmptyStreams) {
  auto c = GetParam().makeCompressor();
  EXPECT_TRUE(c->Finish(file));
  EXPECT_EQ(positionOf(file), 0u);

  c = GetParam().makeCompressor();
  EXPECT_TRUE(c->Write(file, nullptr, 0));
  EXPECT_EQ(positionOf(file), 0u);
  EXPECT_TRUE(c->Finish(file));
  const Bytes stream = allBytes(file);
  ASSERT_FALSE(stream.empty());
  EXPECT_EQ(stream, GetParam().reference({}));
  EXPECT_EQ(GetParam().referenceDecode(stream, 0), Bytes{});

  ASSERT_TRUE(file.seek(0));
  auto d = decompressor();
  std::uint8_t byte = 0;
  EXPECT_TRUE(d->Read(file, &byte, 0));
  EXPECT_FALSE(d->Read(file, &byte, 1));
  EXPECT_EQ(positionOf(file), stream.size());
}

// During Write only whole staging buffers reach the file; the rest comes with Finish. (Five 600k
// blocks: more than the parallel compressor keeps in flight on two threads.)
TEST_P(StreamTest, WriteEmitsOnlyWholeStagingBuffers) {
  const Bytes data = randomBytes(3000000, 9);
  auto c = GetParam().makeCompressor();
  std::size_t at = 0;
  bool wroteDuringWrite = false;
  std::mt19937 rng(1);
  while (at < data.size()) {
    const std::size_t n = std::min<std::size_t>(1 + rng() % 40000, data.size() - at);
    ASSERT_TRUE(c->Write(file, data.data() + at, n));
    at += n;
    const std::uint64_t written = positionOf(file);
    EXPECT_EQ(written % kStagingBufferSize, 0u);
    wroteDuringWrite |= written > 0;
  }
  EXPECT_TRUE(wroteDuringWrite);
  ASSERT_TRUE(c->Finish(file));
  EXPECT_EQ(GetParam().referenceDecode(allBytes(file), data.size()), data);
}

// After Finish the stream is closed: further Writes fail.
TEST_P(StreamTest, WriteAfterFinishFails) {
  auto c = GetParam().makeCompressor();
  const std::uint8_t byte = 1;
  ASSERT_TRUE(c->Write(file, &byte, 1));
  ASSERT_TRUE(c->Finish(file));
  EXPECT_FALSE(c->Write(file, &byte, 1));
  EXPECT_FALSE(c->Write(file, &byte, 0));
}

// Damaged data fails the Read with the library's own code, and the failure is kept.
TEST_P(StreamTest, CorruptStreamFails) {
  const Bytes data = tileLikeBytes(50000, 11);
  Bytes stream = compress(data);
  for (std::size_t i = stream.size() / 4; i < stream.size() / 2; ++i) stream[i] ^= 0x5A;
  file = test::opened(File::createTemporary(dir.file("corrupt")));
  ASSERT_TRUE(file.writeAll(stream.data(), stream.size()) && file.seek(0));
  auto d = decompressor();
  Bytes out(data.size());
  const Status damaged = d->Read(file, out.data(), out.size());
  ASSERT_FALSE(damaged);
  EXPECT_EQ(damaged.error().cause, ErrorCause::BadFormat);
  EXPECT_EQ(damaged.error().detail.rfind(GetParam().dataError, 0), 0u) << damaged.error().detail;
  EXPECT_FALSE(d->Read(file, out.data(), 1));
}

// A truncated section fails once the file has no more bytes.
TEST_P(StreamTest, TruncatedStreamFails) {
  const Bytes data = randomBytes(50000, 12);
  const Bytes stream = compress(data);
  file = test::opened(File::createTemporary(dir.file("short")));
  ASSERT_TRUE(file.writeAll(stream.data(), stream.size() - 20) && file.seek(0));
  auto d = decompressor();
  Bytes out(data.size());
  const Status cut = d->Read(file, out.data(), out.size());
  ASSERT_FALSE(cut);
  EXPECT_EQ(cut.error().cause, ErrorCause::Truncated);
}

INSTANTIATE_TEST_SUITE_P(Streams, StreamTest, ::testing::Values(kDeflate, kBZip2, kParallelBZip2),
                         [](const auto& info) { return std::string(info.param.name); });

// The deflate section starts with block data: a zlib-wrapped reader rejects it.
TEST(DeflateStream, IsRawDeflate) {
  TempDir dir;
  File file = test::opened(File::createTemporary(dir.file("raw")));
  const Bytes data = tileLikeBytes(20000, 13);
  CDeflateCompressor c;
  ASSERT_TRUE(compressInPieces(c, file, data, {20000}));
  const Bytes stream = allBytes(file);
  EXPECT_EQ(zlibInflate(stream, data.size(), -15), data);
  EXPECT_EQ(zlibInflate(stream, data.size(), 15), std::nullopt);
}

} // namespace
} // namespace zelvo::test
