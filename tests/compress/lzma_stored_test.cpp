// LZMA sections in the ZIP framing, stored sections, and the choice of decompressor.
#include "compress/lzma_decoder.h"
#include "platform/byte_io.h"
#include "stream_test_util.h"
#include "support/lzma_zip.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <lzma.h>

namespace zelvo::test {
namespace {

// An LZMA section without the end marker (the decoder learns the length from the caller only).
Bytes lzmaZipEncodeWithoutEndMarker(const Bytes& data) {
  lzma_options_lzma options{};
  if (lzma_lzma_preset(&options, 1)) return {};
  options.ext_flags = 0; // no end marker
  lzma_filter filters[2] = {{LZMA_FILTER_LZMA1EXT, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
  Bytes out = {9, 20, 5, 0, 0, 0, 0, 0, 0};
  if (lzma_properties_encode(&filters[0], out.data() + 4) != LZMA_OK) return {};
  lzma_stream strm = LZMA_STREAM_INIT;
  if (lzma_raw_encoder(&strm, filters) != LZMA_OK) return {};
  out.resize(9 + data.size() + data.size() / 2 + 4096);
  strm.next_in = data.data();
  strm.avail_in = data.size();
  strm.next_out = out.data() + 9;
  strm.avail_out = out.size() - 9;
  const lzma_ret ret = lzma_code(&strm, LZMA_FINISH);
  out.resize(out.size() - strm.avail_out);
  lzma_end(&strm);
  return ret == LZMA_STREAM_END ? out : Bytes{};
}

class LzmaTest : public ::testing::Test {
protected:
  // Places `section` in a fresh file between some leading and trailing bytes; the file then stands
  // at the start of the section.
  void place(const Bytes& section) {
    file = test::opened(File::createTemporary(dir.file("lzma" + std::to_string(++files))));
    ASSERT_TRUE(file.writeAll(before.data(), before.size()));
    ASSERT_TRUE(file.writeAll(section.data(), section.size()));
    ASSERT_TRUE(file.writeAll(after.data(), after.size()));
    ASSERT_TRUE(file.seek(before.size()));
    sectionEnd = before.size() + section.size();
  }

  TempDir dir;
  File file;
  int files = 0;
  const Bytes before = randomBytes(77, 1), after = randomBytes(30000, 2);
  std::uint64_t sectionEnd = 0;
};

// With or without an end marker, any cut of the requests gives back the data; after every Read the
// file stands inside the section, however far the reader buffered. (Without an end marker the
// decoder, not knowing the length, looks one byte ahead: it may take the first byte after.)
TEST_F(LzmaTest, RoundTripInPieces) {
  const std::vector<std::size_t> readPieces[] = {{1, 16385, 7}, {16384}, {1 << 20}, {3, 50000}};
  for (int round = 0; round < 8; ++round) {
    const std::size_t sizes[] = {1, 16384, 100000, 400000};
    const std::size_t size = sizes[round % 4];
    const Bytes data = round % 3 ? tileLikeBytes(size, round) : randomBytes(size, round);
    const bool marked = round % 2;
    const Bytes section =
        marked ? lzmaZipEncode(data.data(), data.size()) : lzmaZipEncodeWithoutEndMarker(data);
    ASSERT_FALSE(section.empty());
    place(section);

    CLZMADecompressor d;
    EXPECT_EQ(d.GetMethod(), kMethodLZMA);
    Bytes out(size);
    std::size_t at = 0, k = 0;
    while (at < size) {
      const std::size_t n = std::min(readPieces[round % 4][k++ % readPieces[round % 4].size()], size - at);
      ASSERT_TRUE(d.Read(file, out.data() + at, n)) << "round " << round << " at " << at;
      at += n;
      const std::uint64_t p = positionOf(file);
      EXPECT_GT(p, before.size() + 9);
      EXPECT_LE(p, sectionEnd + (marked ? 0 : 1));
    }
    EXPECT_EQ(out, data) << "round " << round;
  }
}

// The decompressor keeps its own place in the file: moving the file between Reads changes nothing,
// and each Read leaves the file right after what the decoder has consumed, so a reader of the bytes
// that follow an end-marked section finds them once the whole section has been consumed.
TEST_F(LzmaTest, RepositionsItself) {
  const Bytes data = tileLikeBytes(200000, 21);
  const Bytes section = lzmaZipEncode(data.data(), data.size());
  place(section);
  CLZMADecompressor d;
  Bytes out(data.size());
  std::uint64_t last = 0;
  for (std::size_t at = 0; at < data.size(); at += 25000) {
    ASSERT_TRUE(d.Read(file, out.data() + at, 25000));
    const std::uint64_t p = positionOf(file);
    EXPECT_GE(p, last);
    last = p;
    ASSERT_TRUE(file.seek(at % 2 ? 0 : sectionEnd + 5000)); // someone else moves the file
  }
  EXPECT_EQ(out, data);

  // Asking beyond the end marker fails, and keeps failing.
  std::uint8_t byte = 0;
  EXPECT_FALSE(d.Read(file, &byte, 1));
  EXPECT_FALSE(d.Read(file, &byte, 1));
}

TEST_F(LzmaTest, ReadPastEndMarkerFails) {
  const Bytes data = tileLikeBytes(5000, 22);
  place(lzmaZipEncode(data.data(), data.size()));
  CLZMADecompressor d;
  Bytes out(data.size() + 1);
  EXPECT_FALSE(d.Read(file, out.data(), out.size()));
  EXPECT_TRUE(std::equal(data.begin(), data.end(), out.begin()));
  EXPECT_FALSE(d.Read(file, out.data(), 1));
}

// Bad headers: a properties size above 5 is refused before the properties are read (the file stands
// right after the 4 header bytes); properties the decoder refuses, a short header and data that do
// not decode fail too, and every failure is kept.
TEST_F(LzmaTest, BadSectionsFail) {
  const Bytes data = tileLikeBytes(3000, 23);
  const Bytes good = lzmaZipEncode(data.data(), data.size());
  std::uint8_t out[16];

  Bytes sixProperties = good;
  sixProperties[2] = 6;
  sixProperties.insert(sixProperties.begin() + 9, 0);
  place(sixProperties);
  CLZMADecompressor six;
  EXPECT_FALSE(six.Read(file, out, sizeof out));
  EXPECT_EQ(positionOf(file), before.size() + 4);
  ASSERT_TRUE(file.seek(before.size() + 4 + 6));
  EXPECT_FALSE(six.Read(file, out, sizeof out));
  EXPECT_FALSE(six.Read(file, out, 0));

  Bytes badProperties = good;
  badProperties[4] = 225; // lc/lp/pb beyond their ranges
  place(badProperties);
  CLZMADecompressor refused;
  EXPECT_FALSE(refused.Read(file, out, sizeof out));
  EXPECT_FALSE(refused.Read(file, out, sizeof out));

  Bytes hugeDictionary = good; // 4 GiB: refused before the decoder would take it
  std::fill(hugeDictionary.begin() + 5, hugeDictionary.begin() + 9, 0xFF);
  place(hugeDictionary);
  CLZMADecompressor huge;
  EXPECT_FALSE(huge.Read(file, out, sizeof out));

  Bytes fourProperties = good;
  fourProperties[2] = 4;
  place(fourProperties);
  CLZMADecompressor four;
  EXPECT_FALSE(four.Read(file, out, sizeof out));

  file = test::opened(File::createTemporary(dir.file("short")));
  ASSERT_TRUE(file.writeAll(good.data(), 3) && file.seek(0));
  CLZMADecompressor shortHeader;
  EXPECT_FALSE(shortHeader.Read(file, out, sizeof out));

  Bytes corrupt = good;
  corrupt[9] = 0xFF; // the range coder's first byte is always 0
  place(corrupt);
  CLZMADecompressor damaged;
  const Status first = damaged.Read(file, out, sizeof out);
  ASSERT_FALSE(first);
  EXPECT_EQ(first.error().detail, "liblzma LZMA_DATA_ERROR (9)");
  EXPECT_FALSE(damaged.Read(file, out, sizeof out));
}

// A zero-length first Read takes the header and leaves the file on the coded data.
TEST_F(LzmaTest, ZeroLengthReadTakesHeader) {
  const Bytes data = randomBytes(100, 24);
  place(lzmaZipEncode(data.data(), data.size()));
  CLZMADecompressor d;
  EXPECT_TRUE(d.Read(file, nullptr, 0));
  EXPECT_EQ(positionOf(file), before.size() + 9);
  Bytes out(data.size());
  ASSERT_TRUE(d.Read(file, out.data(), out.size()));
  EXPECT_EQ(out, data);
}

// The decoder layer on its own: it produces no more than asked and refuses to go past the marker.
TEST(LzmaDecoderTest, DecodesIncrementallyAndStopsAtEndMarker) {
  const Bytes data = tileLikeBytes(70000, 25);
  const Bytes section = lzmaZipEncode(data.data(), data.size());
  EXPECT_EQ(LzmaDecoder::open(section.data() + 4, 4), nullptr);
  // The dictionary is bounded, and the bound itself is accepted.
  Bytes properties(section.begin() + 4, section.begin() + 9);
  storeLE32(properties.data() + 1, kMaxLzmaDictionary);
  EXPECT_TRUE(LzmaDecoder::propertiesUsable(properties.data(), 5));
  EXPECT_NE(LzmaDecoder::open(properties.data(), 5), nullptr);
  for (std::uint32_t dictionary : {kMaxLzmaDictionary + 1, 0xFFFFFFFFu}) {
    storeLE32(properties.data() + 1, dictionary);
    EXPECT_FALSE(LzmaDecoder::propertiesUsable(properties.data(), 5));
    EXPECT_EQ(LzmaDecoder::open(properties.data(), 5), nullptr);
  }
  auto decoder = LzmaDecoder::open(section.data() + 4, 5);
  ASSERT_NE(decoder, nullptr);
  Bytes out(data.size() + 10);
  std::size_t in = 9, produced = 0;
  while (!decoder->ended()) {
    std::size_t room = std::min<std::size_t>(out.size() - produced, 1000);
    std::size_t count = std::min<std::size_t>(section.size() - in, 777);
    ASSERT_EQ(decoder->decode(out.data() + produced, room, section.data() + in, count), 0);
    ASSERT_LE(room, 1000u);
    ASSERT_TRUE(room > 0 || count > 0);
    produced += room;
    in += count;
  }
  EXPECT_EQ(produced, data.size());
  EXPECT_EQ(in, section.size());
  out.resize(produced);
  EXPECT_EQ(out, data);
  std::size_t room = 1, count = 0;
  EXPECT_NE(decoder->decode(out.data(), room, section.data(), count), 0);
  EXPECT_EQ(room, 0u);
}

TEST(StoredStream, ReadsExactlyWhatIsAsked) {
  TempDir dir;
  File file = test::opened(File::createTemporary(dir.file("stored")));
  const Bytes data = randomBytes(40000, 26);
  ASSERT_TRUE(file.writeAll(data.data(), data.size()) && file.seek(0));
  CDefaultDecompressor d;
  EXPECT_EQ(d.GetMethod(), kMethodStored);
  EXPECT_EQ(decompressInPieces(d, file, data.size() - 1, {1, 16385}), Bytes(data.begin(), data.end() - 1));
  std::uint8_t two[2];
  EXPECT_FALSE(d.Read(file, two, 2));
}

TEST(CreateDecompressor, ByMethodNumber) {
  for (std::uint32_t method : {0u, 1u, 2u, 3u}) {
    auto d = CreateDecompressor(method);
    ASSERT_TRUE(d);
    EXPECT_EQ((*d)->GetMethod(), method);
  }
  for (std::uint32_t method : {4u, 5u, 255u, 0xFFFFFFFFu}) {
    auto d = CreateDecompressor(method);
    ASSERT_FALSE(d);
    EXPECT_EQ(d.error().cause, ErrorCause::Unsupported);
  }
}

} // namespace
} // namespace zelvo::test
