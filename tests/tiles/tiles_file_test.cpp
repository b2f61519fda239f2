// The tiles file: reading every compression method, refusing bad headers and payloads without
// touching the target, writing, and finding the tiles file beside a path.
#include "compress/md5.h"
#include "compress/section_reader.h"
#include "platform/fs.h"
#include "platform/process_info.h"
#include "support/fixtures.h"
#include "support/temp_dir.h"
#include "tiles/tiles_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

namespace zelvo {
namespace {

using test::DigestMode;
using test::TempDir;
using test::TilesContent;
using test::TilesFileOptions;

const std::uint32_t kMethods[] = {kMethodStored, kMethodDeflate, kMethodBZip2, kMethodLZMA};

// A few hundred records with random order keys and indexes, some of them repeated.
TilesContent sampleContent(std::uint32_t seed) {
  std::mt19937 rng(seed);
  TilesContent c;
  for (int i = 0; i < 60; ++i) c.addPalette(std::uint32_t(rng() % 45), rng(), rng());
  for (int i = 0; i < 150; ++i) c.addPattern(std::uint32_t(rng() % 120), rng(), rng());
  for (int g = 0; g < kGroupCount; ++g)
    for (int i = 0; i < 10 + g * 7; ++i) c.addEntry(g, rng() % 70, rng() % 160, rng(), rng());
  return c;
}

// Loads the bytes through a file into `set`.
bool loadBytes(TileSet& set, const std::vector<std::uint8_t>& bytes, const TempDir& dir) {
  const std::string path = dir.file("probe.mstiles");
  return test::writeBytes(path, bytes) && readTilesFile(set, path);
}

TEST(TilesFileRead, EveryMethodLoadsWithOrWithoutDigestAndExtraBlock) {
  TempDir dir;
  const TilesContent content = sampleContent(1);
  for (std::uint32_t method : kMethods) {
    for (int variant = 0; variant < 3; ++variant) {
      TilesFileOptions options;
      options.compression = method;
      options.digest = variant == 1 ? DigestMode::Absent : DigestMode::Correct;
      options.extraBlock = variant == 2;              // flags 3
      options.trailing = {1, 2, 3, 4, 5, 6, 7, 8, 9}; // never read
      auto set = createTileSet();
      ASSERT_TRUE(loadBytes(*set, test::tilesFileBytes(content, options), dir)) << method << " " << variant;
      EXPECT_EQ(test::payloadOf(*set), content.payload()) << method << " " << variant;
      EXPECT_EQ(set->paletteCount, 60u);
      EXPECT_EQ(set->groups[8].count, 66u);
    }
  }
}

TEST(TilesFileRead, StreamsNearTheirLargestExpansionStillLoad) {
  // Long runs of equal records compress about as well as each method can.
  TempDir dir;
  TilesContent content;
  content.palettes.assign(100000, PaletteEntry{});
  content.patterns.assign(100000, PatternEntry{});
  for (std::uint32_t method : kMethods) {
    TilesFileOptions options;
    options.compression = method;
    auto set = createTileSet();
    EXPECT_TRUE(loadBytes(*set, test::tilesFileBytes(content, options), dir)) << method;
    EXPECT_EQ(set->patternCount, 100000u);
  }
}

TEST(TilesFileRead, RefusalsKeepThePreviousContents) {
  TempDir dir;
  const TilesContent before = sampleContent(2);
  const TilesContent other = sampleContent(3);
  auto set = test::makeTileSet(before);
  const PaletteEntry* palettesBefore = set->palettes;

  auto refused = [&](const std::vector<std::uint8_t>& bytes, const char* what) {
    EXPECT_FALSE(loadBytes(*set, bytes, dir)) << what;
    EXPECT_EQ(set->palettes, palettesBefore) << what;
    EXPECT_EQ(test::payloadOf(*set), before.payload()) << what;
  };
  for (std::uint32_t method : kMethods) {
    TilesFileOptions wrong;
    wrong.compression = method;
    wrong.digest = DigestMode::Wrong;
    refused(test::tilesFileBytes(other, wrong), "digest mismatch");
    TilesFileOptions plain;
    plain.compression = method;
    std::vector<std::uint8_t> cut = test::tilesFileBytes(other, plain);
    cut.resize(cut.size() - (cut.size() - 80) / 2); // half the stream
    refused(cut, "stream cut short");
  }
  TilesFileOptions options;
  options.extraFlags = 4;
  refused(test::tilesFileBytes(other, options), "flags bit 2");
  options.extraFlags = 0x80000000u;
  refused(test::tilesFileBytes(other, options), "flags bit 31");
  options = {};
  options.compressionField = 4;
  refused(test::tilesFileBytes(other, options), "unknown compression");

  std::vector<std::uint8_t> bytes = test::tilesFileBytes(other);
  bytes[6] = 'Z';
  refused(bytes, "magic");
  bytes = test::tilesFileBytes(other);
  bytes[7] = ' ';
  refused(bytes, "magic without its zero byte");
  refused(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 63), "short header");
  refused(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 70), "short digest");
  options = {};
  options.digest = DigestMode::Absent;
  options.extraBlock = true;
  bytes = test::tilesFileBytes(other, options);
  refused(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 79), "short extra block");
  refused({}, "empty file");
  EXPECT_FALSE(readTilesFile(*set, dir.file("missing.mstiles")));
  EXPECT_FALSE(readTilesFile(*set, dir.path()));
  EXPECT_EQ(test::payloadOf(*set), before.payload());
}

TEST(TilesFileRead, ZeroCountsLoadEmptyWhateverTheCompressionAndDigest) {
  TempDir dir;
  auto set = test::makeTileSet(sampleContent(4));
  TilesFileOptions options;
  options.compressionField = 7;
  options.digest = DigestMode::Wrong;
  options.compression = kMethodStored;
  ASSERT_TRUE(loadBytes(*set, test::tilesFileBytes(TilesContent{}, options), dir));
  EXPECT_EQ(set->block, nullptr);
  EXPECT_EQ(set->paletteCount + set->patternCount + set->entryCount(), 0u);
  EXPECT_EQ(set->palettes, nullptr);
  EXPECT_EQ(findPalette(*set, test::makePalette(1).colours), kNotFound);
}

TEST(TilesFileRead, OversizedAndImplausiblePayloadsAreRefusedBeforeMemoryIsTaken) {
  TempDir dir;
  auto set = test::makeTileSet(sampleContent(5));
  const std::vector<std::uint8_t> kept = test::payloadOf(*set);
  const std::uint64_t peakBefore = peakResidentBytes();

  // Counts whose payload needs more than 32 bits.
  TileCounts huge;
  huge.palettes = 0x08000000; // 4 GiB on its own
  TilesFileOptions options;
  options.countsField = huge;
  options.digest = DigestMode::Absent;
  EXPECT_FALSE(loadBytes(*set, test::tilesFileBytes(TilesContent{}, options), dir));
  huge = TileCounts{};
  for (std::uint32_t& g : huge.groups) g = 0x1C71C71C; // each fits, the sum does not
  options.countsField = huge;
  EXPECT_FALSE(loadBytes(*set, test::tilesFileBytes(TilesContent{}, options), dir));

  // About 4 GB claimed by a file of a few hundred bytes, for every method.
  huge = TileCounts{};
  huge.groups[8] = 178956970;
  options.countsField = huge;
  TilesContent few;
  for (int i = 0; i < 4; ++i) few.addEntry(8, 0, std::uint32_t(i));
  for (std::uint32_t method : kMethods) {
    options.compression = method;
    options.trailing.assign(300, 0);
    EXPECT_FALSE(loadBytes(*set, test::tilesFileBytes(few, options), dir)) << method;
  }
  // A stored payload one byte longer than the rest of the file.
  TilesContent small = sampleContent(7);
  options = {};
  options.compression = kMethodStored;
  options.countsField = small.counts();
  options.countsField->palettes += 1;
  options.trailing.assign(31, 0);
  EXPECT_FALSE(loadBytes(*set, test::tilesFileBytes(small, options), dir));

  EXPECT_EQ(test::payloadOf(*set), kept);
  const std::uint64_t peakAfter = peakResidentBytes();
  if (peakBefore && peakAfter) {
    EXPECT_LT(peakAfter, peakBefore + (256u << 20));
  }
}

TEST(TilesFileRead, PlausibilityBoundsPerMethod) {
  TempDir dir;
  const std::string path = dir.file("bytes");
  ASSERT_TRUE(test::writeBytes(path, std::vector<std::uint8_t>(1000, 0)));
  File file = test::opened(File::openRead(path));
  ASSERT_TRUE(file.seek(100)); // 900 bytes remain
  EXPECT_TRUE(checkPayloadFitsFile(file, kMethodStored, 900, {}));
  EXPECT_FALSE(checkPayloadFitsFile(file, kMethodStored, 901, {}));
  EXPECT_TRUE(checkPayloadFitsFile(file, kMethodDeflate, 900 * 1032, {}));
  EXPECT_FALSE(checkPayloadFitsFile(file, kMethodDeflate, 902 * 1032, {}));
  EXPECT_TRUE(checkPayloadFitsFile(file, kMethodBZip2, 52 * 46000000ull, {}));
  EXPECT_FALSE(checkPayloadFitsFile(file, kMethodBZip2, 53 * 46000000ull, {}));
  EXPECT_TRUE(checkPayloadFitsFile(file, kMethodLZMA, 900 * 16384, {}));
  EXPECT_FALSE(checkPayloadFitsFile(file, kMethodLZMA, 902 * 16384, {}));
  EXPECT_FALSE(checkPayloadFitsFile(file, 4, 1, {}));
  ASSERT_TRUE(file.seek(990)); // too little left for any bzip2 block
  EXPECT_FALSE(checkPayloadFitsFile(file, kMethodBZip2, 1, {}));
}

TEST(TilesFileWrite, EmptySetIsABareHeader) {
  TempDir dir;
  auto set = createTileSet();
  const std::string path = dir.file("empty.mstiles");
  {
    File file = test::opened(File::create(path));
    ASSERT_TRUE(writeTilesFile(*set, file));
  }
  std::string want("MSTILES\0", 8);
  want.append(56, '\0');
  EXPECT_EQ(test::readFileBytes(path), want);
  auto loaded = test::makeTileSet(sampleContent(8));
  EXPECT_TRUE(readTilesFile(*loaded, path));
  EXPECT_EQ(loaded->entryCount(), 0u);
}

TEST(TilesFileWrite, RoundTripsAfterAnyPrefixAndRewritesByteForByte) {
  TempDir dir;
  const TilesContent content = sampleContent(9);
  auto set = test::makeTileSet(content);
  const std::string path = dir.file("written.mstiles");
  std::uint64_t end = 0, size = 0;
  {
    File file = test::opened(File::create(path));
    ASSERT_TRUE(file.writeAll("prefix", 6)); // the pack writes it after its ROM section
    ASSERT_TRUE(writeTilesFile(*set, file));
    ASSERT_TRUE(test::into(file.position(), end));
    ASSERT_TRUE(test::into(file.size(), size));
  }
  EXPECT_EQ(end, size);
  const std::string bytes = test::readFileBytes(path);
  TilesFileHeader header;
  std::memcpy(&header, bytes.data() + 6, sizeof header);
  EXPECT_EQ(header.flags, 1u);
  EXPECT_EQ(header.compression, 1u);
  EXPECT_EQ(header.reserved, 0u);
  EXPECT_EQ(header.patternCount, 150u);
  const std::vector<std::uint8_t> payload = content.payload();
  const Md5Digest digest = md5Of(payload.data(), payload.size());
  EXPECT_EQ(std::memcmp(bytes.data() + 6 + 64, digest.data(), 16), 0);

  auto loaded = createTileSet();
  {
    File file = test::opened(File::openRead(path));
    ASSERT_TRUE(file.seek(6));
    ASSERT_TRUE(readTilesFile(*loaded, file));
  }
  EXPECT_EQ(test::payloadOf(*loaded), payload);

  const std::string again = dir.file("again.mstiles");
  {
    File file = test::opened(File::create(again));
    ASSERT_TRUE(writeTilesFile(*loaded, file));
  }
  EXPECT_EQ(test::readFileBytes(again), bytes.substr(6));
}

TEST(TilesFileWrite, FailsOnAFileThatCannotBeWritten) {
  TempDir dir;
  const std::string path = dir.file("read-only.mstiles");
  ASSERT_TRUE(test::writeBytes(path, {1}));
  File file = test::opened(File::openRead(path));
  EXPECT_FALSE(writeTilesFile(*test::makeTileSet(sampleContent(10)), file));
  auto empty = createTileSet();
  EXPECT_FALSE(writeTilesFile(*empty, file));
}

TEST(TilesFileFind, SkipsDirectoriesAndFilesThatDoNotLoad) {
  TempDir dir;
  const TilesContent good = sampleContent(11);
  ASSERT_TRUE(createDirectory(dir.file("a.mstiles")));
  std::vector<std::uint8_t> corrupt = test::tilesFileBytes(sampleContent(12));
  corrupt[200] ^= 0xFF;
  ASSERT_TRUE(test::writeBytes(dir.file("B.mstiles"), corrupt));
  ASSERT_TRUE(test::writeTilesFixture(dir.file("c.MSTILES"), good, TilesFileOptions{}.method(kMethodBZip2)));
  ASSERT_TRUE(test::writeTilesFixture(dir.file("d.mstiles"), sampleContent(13)));
  ASSERT_TRUE(test::writeTilesFixture(dir.file("c.txt"), sampleContent(14)));

  std::unique_ptr<TileSet> slot = test::makeTileSet(sampleContent(15));
  ASSERT_TRUE(findTilesBeside(dir.file("screen.msscreen"), slot));
  ASSERT_TRUE(slot);
  EXPECT_EQ(test::payloadOf(*slot), good.payload());

  // Nothing valid: the slot keeps what it held.
  TempDir bare;
  ASSERT_TRUE(test::writeBytes(bare.file("x.mstiles"), corrupt));
  TileSet* held = slot.get();
  EXPECT_FALSE(findTilesBeside(bare.file("screen.msscreen"), slot));
  EXPECT_EQ(slot.get(), held);
  std::unique_ptr<TileSet> none;
  EXPECT_FALSE(findTilesBeside(bare.path() + "/nothing/screen.msscreen", none));
  EXPECT_FALSE(none);
}

TEST(TilesFileFind, APathWithoutSeparatorSearchesTheCurrentFolder) {
  TempDir dir;
  const TilesContent good = sampleContent(16);
  ASSERT_TRUE(
      test::writeTilesFixture(dir.file("game.mstiles"), good, TilesFileOptions{}.method(kMethodLZMA)));
  const Result<std::string> previous = currentDirectory();
  ASSERT_TRUE(previous);
  ASSERT_TRUE(setCurrentDirectory(dir.path()));
  std::unique_ptr<TileSet> slot;
  const bool found = findTilesBeside("screen.msscreen", slot).ok();
  ASSERT_TRUE(setCurrentDirectory(*previous));
  ASSERT_TRUE(found);
  EXPECT_EQ(test::payloadOf(*slot), good.payload());
}

} // namespace
} // namespace zelvo
