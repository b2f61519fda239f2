#include "pipeline/pack_format.h"

#include "compress/streams.h"
#include "pipeline/build_cache.h"
#include "pipeline/hires_tiles.h"
#include "platform/byte_io.h"
#include "platform/thread_pool.h"
#include "support/fixtures.h"
#include "support/pack_files.h"
#include "support/temp_dir.h"

#include <md5.h> // libmd, an independent digest

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace zelvo {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes readAll(const std::string& path) {
  const std::string s = test::readFileBytes(path);
  return Bytes(s.begin(), s.end());
}

Bytes libmdDigest(const Bytes& data) {
  MD5_CTX context;
  MD5Init(&context);
  MD5Update(&context, data.data(), data.size());
  Bytes digest(16);
  MD5Final(digest.data(), &context);
  return digest;
}

class HiResSectionTest : public ::testing::Test {
protected:
  void TearDown() override {
    table.reset();
    EXPECT_EQ(test::countTmpFiles(dir.path()), 0u);
  }

  // A set whose groups hold repeated and distinct tiles, generated at `scale`.
  void generate(std::uint32_t scale, int perGroup = 30) {
    std::mt19937 random(scale * 7 + 1);
    test::TilesContent recipe;
    for (int i = 0; i < 4; ++i) recipe.addPalette(std::uint8_t(random()));
    for (int i = 0; i < 6; ++i) recipe.addPattern(std::uint8_t(random()));
    for (int g = 0; g < kGroupCount; ++g)
      for (int i = 0; i < perGroup - g; ++i) recipe.addEntry(g, random() % 4, random() % 6);
    tiles = test::makeTileSet(recipe);
    table = std::make_unique<HiResTileTable>();
    ASSERT_TRUE(table);
    ASSERT_TRUE(generateHiResTiles(*table, *tiles, scale));
    ASSERT_LT(table->tileCount, table->entryCount);
  }

  Bytes tileData() {
    Bytes data(std::size_t(table->tileCount) * table->tileBytes);
    EXPECT_TRUE(table->tempFile.seek(0));
    EXPECT_TRUE(table->tempFile.readExact(data.data(), data.size()));
    return data;
  }
  std::vector<std::uint32_t> offsets() const {
    return {table->entryOffsets.get(), table->entryOffsets.get() + table->entryCount};
  }

  test::TempDir dir;
  test::ScopedTmpDir tmpDir{dir.path()};
  std::unique_ptr<TileSet> tiles;
  std::unique_ptr<HiResTileTable> table;
};

TEST_F(HiResSectionTest, SectionReadsBackThroughTheLibrariesAtEveryScale) {
  struct Recorder : ProgressSink {
    void progress(ProgressStage stage, std::uint64_t done, std::uint64_t total) override {
      EXPECT_EQ(stage, ProgressStage::CompressingHiRes);
      EXPECT_GE(done, last);
      last = done;
      lastTotal = total;
    }
    std::uint64_t last = 0, lastTotal = 0;
  };

  for (std::uint32_t scale = 1; scale <= 4; ++scale) {
    SCOPED_TRACE(scale);
    generate(scale);
    const Bytes data = tileData();
    const std::vector<std::uint32_t> before = offsets();
    const std::uint32_t tileCount = table->tileCount, entryCount = table->entryCount;

    // The section goes after whatever the output already holds.
    const std::string path = dir.file("pack.bin");
    const std::size_t prefix = 100;
    File output = test::opened(File::create(path));
    ASSERT_TRUE(output.writeAll(Bytes(prefix, 0xEE).data(), prefix));
    Recorder recorder;
    ASSERT_TRUE(writeHiResSection(*table, output, &recorder));
    std::uint64_t end = 0, size = 0;
    ASSERT_TRUE(test::into(output.position(), end));
    ASSERT_TRUE(test::into(output.size(), size));
    EXPECT_EQ(end, size);
    ASSERT_TRUE(output.close());

    // The table is as it was.
    EXPECT_EQ(table->tileCount, tileCount);
    EXPECT_EQ(table->entryCount, entryCount);
    EXPECT_EQ(offsets(), before);

    const Bytes file = readAll(path);
    ASSERT_EQ(file.size(), size);
    EXPECT_EQ(Bytes(file.begin(), file.begin() + prefix), Bytes(prefix, 0xEE));
    const test::HiResSectionParts section =
        test::takeHiResSectionApart(file.data() + prefix, file.size() - prefix);
    EXPECT_EQ(section.field(2), 1u); // flags: the digest
    EXPECT_EQ(section.field(3), tileCount);
    EXPECT_EQ(section.field(4), entryCount);
    for (int g = 0; g < kGroupCount; ++g)
      EXPECT_EQ(section.field(5 + g), std::uint32_t(tiles->groups[g].count));
    EXPECT_EQ(Bytes(section.header.begin() + 56, section.header.begin() + 60),
              (Bytes{std::uint8_t(scale), 0, 0, 0}));
    EXPECT_EQ(section.field(15), 2u); // bzip2

    // bzip2 with 600k blocks, holding exactly the payload: tile data, then the entry table.
    const std::size_t streamAt = prefix + 80;
    EXPECT_EQ(std::string(file.begin() + streamAt, file.begin() + streamAt + 4), "BZh6");
    const std::size_t payloadSize = data.size() + 4 * std::size_t(entryCount);
    const Bytes& payload = section.payload;
    ASSERT_EQ(payload.size(), payloadSize);
    EXPECT_EQ(Bytes(payload.begin(), payload.begin() + data.size()), data);
    std::vector<std::uint32_t> entryTable(entryCount);
    for (std::uint32_t i = 0; i < entryCount; ++i) {
      entryTable[i] = loadLE32(payload.data() + data.size() + 4 * i);
      EXPECT_EQ(entryTable[i] % (256 * scale * scale), 0u);
      EXPECT_LT(entryTable[i], data.size());
    }
    EXPECT_EQ(entryTable, before);
    EXPECT_EQ(section.digest, libmdDigest(payload));
    EXPECT_EQ(recorder.last, payloadSize);
    EXPECT_EQ(recorder.lastTotal, payloadSize);
  }
}

TEST_F(HiResSectionTest, LargeTileDataStreamsThroughSeveralBlocks) {
  // Distinct noisy tiles well beyond one 600k block and the 16 KiB output pieces.
  std::mt19937 random(9);
  test::TilesContent recipe;
  for (int i = 0; i < 64; ++i) {
    PaletteEntry palette{};
    for (auto& c : palette.colours) c = std::uint8_t(random() % 64);
    recipe.palettes.push_back(palette);
  }
  for (int i = 0; i < 400; ++i) {
    PatternEntry pattern{};
    for (auto& b : pattern.planes) b = std::uint8_t(random());
    recipe.patterns.push_back(pattern);
  }
  for (int i = 0; i < 400; ++i) recipe.addEntry(kSpriteGroup, std::uint32_t(i % 64), std::uint32_t(i));
  tiles = test::makeTileSet(recipe);
  table = std::make_unique<HiResTileTable>();
  ASSERT_TRUE(generateHiResTiles(*table, *tiles, 4));
  ASSERT_EQ(table->tileCount, 400u);
  const Bytes data = tileData();

  File output = test::opened(File::create(dir.file("big.bin")));
  ASSERT_TRUE(writeHiResSection(*table, output));
  ASSERT_TRUE(output.close());
  const Bytes file = readAll(dir.file("big.bin"));
  // The blocks compressed on worker threads give the same section.
  for (unsigned threads : {2u, 4u}) {
    ThreadPool pool(threads);
    File parallel = test::opened(File::create(dir.file("parallel.bin")));
    ASSERT_TRUE(writeHiResSection(*table, parallel, nullptr, &pool));
    ASSERT_TRUE(parallel.close());
    EXPECT_TRUE(readAll(dir.file("parallel.bin")) == file) << threads << " threads";
  }
  const test::HiResSectionParts section = test::takeHiResSectionApart(file.data(), file.size());
  const Bytes& payload = section.payload;
  ASSERT_EQ(payload.size(), data.size() + 1600);
  EXPECT_TRUE(std::equal(data.begin(), data.end(), payload.begin()));
  EXPECT_EQ(Bytes(file.begin() + 64, file.begin() + 80), libmdDigest(payload));
  // The runs of whole tiles depend on those tiles alone: after one tile changed, a section written
  // with a cache of the earlier runs is the section written without one, and only the changed run
  // is compressed again. The same with libbz2 compressing the blocks.
  const std::uint32_t changed = hiResTilesPerRun(table->tileBytes) + 5; // in the second run
  const Bytes touch(table->tileBytes, 0x5A);
  for (BZip2Encoder encoder : {BZip2Encoder::Fast, BZip2Encoder::Library}) {
    test::TempDir cacheDir;
    auto cache = BuildCache::open(cacheDir.path());
    ASSERT_TRUE(cache);
    auto section = [&](BuildCache* withCache, HiResWriteStats* stats) {
      File out = test::opened(File::create(dir.file("cached.bin")));
      EXPECT_TRUE(writeHiResSection(*table, out, nullptr, nullptr, nullptr, encoder, withCache, stats));
      EXPECT_TRUE(out.close());
      return readAll(dir.file("cached.bin"));
    };
    HiResWriteStats stats;
    const Bytes cold = section(cache->get(), &stats);
    EXPECT_EQ(stats.runs, 4u) << "three runs of tiles and one of the entry table";
    EXPECT_EQ(stats.fromCache, 0u);
    if (encoder == BZip2Encoder::Fast) {
      EXPECT_TRUE(cold == file);
    }
    EXPECT_TRUE(section(nullptr, nullptr) == cold);

    Bytes kept(table->tileBytes);
    ASSERT_TRUE(table->tempFile.readAt(kept.data(), kept.size(), std::uint64_t(changed) * table->tileBytes));
    ASSERT_TRUE(
        table->tempFile.writeAt(touch.data(), touch.size(), std::uint64_t(changed) * table->tileBytes));
    const Bytes without = section(nullptr, nullptr);
    EXPECT_FALSE(without == cold);
    EXPECT_TRUE(section(cache->get(), &stats) == without);
    EXPECT_EQ(stats.fromCache, 3u);
    ASSERT_TRUE(table->tempFile.writeAt(kept.data(), kept.size(), std::uint64_t(changed) * table->tileBytes));
  }
}

TEST_F(HiResSectionTest, RefusesIncompleteTablesAndReportsFailedReadsAndWrites) {
  // An empty table: nothing is written.
  {
    HiResTileTable empty;
    File output = test::opened(File::create(dir.file("empty.bin")));
    const Status written = writeHiResSection(empty, output);
    ASSERT_FALSE(written);
    EXPECT_EQ(written.error().cause, ErrorCause::InvalidArgument);
    std::uint64_t size = 1;
    ASSERT_TRUE(test::into(output.size(), size));
    EXPECT_EQ(size, 0u);
  }
  generate(2);

  // An offset outside the tile data.
  {
    const std::uint32_t saved = table->entryOffsets[3];
    table->entryOffsets[3] = table->tileCount * table->tileBytes;
    File output = test::opened(File::create(dir.file("offset.bin")));
    const Status written = writeHiResSection(*table, output);
    ASSERT_FALSE(written);
    EXPECT_EQ(written.error().cause, ErrorCause::InvalidArgument);
    table->entryOffsets[3] = saved;
  }

  // An output that cannot be written.
  ASSERT_TRUE(test::writeFileBytes(dir.file("readonly.bin"), "x", 1));
  {
    File output = test::opened(File::openRead(dir.file("readonly.bin")));
    const Status written = writeHiResSection(*table, output);
    ASSERT_FALSE(written);
    EXPECT_EQ(written.error().cause, ErrorCause::WriteFailed) << written.error().message();
  }

  // A tile file shorter than its tiles.
  {
    Bytes data = tileData();
    data.resize(data.size() - 1);
    ASSERT_TRUE(test::writeFileBytes(dir.file("short.tiles"), data.data(), data.size()));
    table->tempFile = test::opened(File::openRead(dir.file("short.tiles")));
    File output = test::opened(File::create(dir.file("short.bin")));
    const Status written = writeHiResSection(*table, output);
    ASSERT_FALSE(written);
    EXPECT_EQ(written.error().cause, ErrorCause::Truncated) << written.error().message();
  }
}

} // namespace
} // namespace zelvo
