#include "pipeline/build_driver.h"

#include "build_test_util.h"
#include "platform/byte_io.h"
#include "platform/fault.h"
#include "platform/fs.h"
#include "support/image_files.h"
#include "support/pack_files.h"
#include "support/temp_dir.h"
#include "tiles/tiles_file.h"

#include <algorithm>
#include <array>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <md5.h>
#include <nlohmann/json.hpp>
#include <random>
#include <sys/resource.h>
#include <sys/stat.h>

namespace zelvo {
namespace {

using test::ScreenContent;
using test::TempDir;
using test::TilesContent;
using Lines = std::vector<std::string>;

const char* const kStages[] = {"Looking for original tiles...",
                               "Creating high-resolution tiles using scale algorithm...",
                               "Replacing tiles...",
                               "Creating high-resolution ROM...",
                               "Compressing and saving original ROM...",
                               "Compressing and saving original tiles...",
                               "Compressing and saving high-resolution tiles..."};

// The first `n` stage lines, then `last`.
Lines stagesThen(int n, const std::string& last) {
  Lines lines(kStages, kStages + n);
  lines.push_back(last);
  return lines;
}

class RecordingLog : public BuildLog {
public:
  void ClearLog() override {
    lines.clear();
    all.clear();
    ++clears;
  }
  // The stage, error and "Success!" lines in `lines`; every line in `all`.
  void AppendLogLine(const std::string& text) override {
    all.push_back(text);
    if (!test::isReportLine(text)) lines.push_back(text);
    // The build names the files of its folder by joining paths: the working folder stays.
    const Result<std::string> now = currentDirectory();
    EXPECT_TRUE(now && *now == workingFolder) << "changed by the time of: " << text;
    if (onLine) onLine(text);
  }
  std::string workingFolder;
  Lines lines;
  Lines all;
  int clears = 0;
  std::function<void(const std::string&)> onLine;
};

std::string md5Hex(const void* data, std::size_t size) {
  char hex[MD5_DIGEST_STRING_LENGTH];
  MD5Data(static_cast<const std::uint8_t*>(data), size, hex);
  return hex;
}
std::vector<std::uint8_t> romImage(std::size_t size) {
  std::vector<std::uint8_t> rom(size);
  for (std::size_t i = 0; i < size; ++i) rom[i] = std::uint8_t((i * 7) ^ (i >> 9));
  if (size >= 0x7FF8) std::memcpy(rom.data() + 0x7FF0, "TMR SEGA", 8);
  return rom;
}

using Pack = test::PackContents;
Pack readPack(const std::string& path) { return test::readPackContents(path); }

// Records of `recipe` in the order the build gives them: stable, descending by the major key, then
// the minor key.
template <class T> std::vector<std::uint32_t> sortedOrder(const std::vector<T>& records) {
  std::vector<std::uint32_t> order(records.size());
  for (std::uint32_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
    if (records[a].orderKeyMajor != records[b].orderKeyMajor)
      return records[a].orderKeyMajor > records[b].orderKeyMajor;
    return records[a].orderKeyMinor > records[b].orderKeyMinor;
  });
  return order;
}

// Makes writes beyond `limit` bytes of any file fail (as on a full disk) until it goes.
class FileSizeLimit {
public:
  explicit FileSizeLimit(rlim_t limit) {
    std::signal(SIGXFSZ, SIG_IGN);
    getrlimit(RLIMIT_FSIZE, &saved_);
    rlimit l = saved_;
    l.rlim_cur = limit;
    setrlimit(RLIMIT_FSIZE, &l);
  }
  ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &saved_); }

private:
  rlimit saved_{};
};

class BuildDriverTest : public ::testing::Test {
protected:
  void SetUp() override {
    input = root.file("in");
    outFolder = root.file("out");
    tmp = root.file("tmp");
    ASSERT_TRUE(createDirectory(input) && createDirectory(outFolder) && createDirectory(tmp));
    // The run's own temporary files go here, so the tests can see that none is left behind.
    tmpDir = std::make_unique<test::ScopedTmpDir>(tmp);
    cacheHome = std::make_unique<test::ScopedCacheHome>(root.file("cache"));
    const Result<std::string> current = currentDirectory();
    ASSERT_TRUE(current);
    cwd = *current;

    // Palettes and patterns in an order that the sort changes; pattern 3 is one solid colour.
    for (int i = 0; i < 4; ++i) recipe.addPalette(std::uint8_t(3 + 13 * i), std::uint64_t((i * 5) % 4));
    for (int i = 0; i < 4; ++i) recipe.addPattern(std::uint8_t(2 + i), std::uint64_t((i * 3) % 4));
    std::memset(recipe.patterns[3].planes, 0, 32);
    for (int row = 0; row < 8; ++row) recipe.patterns[3].planes[row * 4 + 1] = 0xFF; // colour 2
    recipe.patterns[2].orderKeyMinor = 44;
    int key = 0;
    for (int g : {0, 0, 0, 1, 4, 4, kSpriteGroup, kSpriteGroup, 6}) {
      recipe.addEntry(g, std::uint32_t(key % 4), std::uint32_t((key * 3) % 4), std::uint64_t((key * 7) % 5));
      ++key;
    }
    recipe.addEntry(0, 1, 3, 2); // the solid tile
    rom = romImage(32768);
    romPath = root.file("game.sms");
    outputPath = joinPath(outFolder, "game.zrm");
    ASSERT_TRUE(test::writeFileBytes(romPath, rom.data(), rom.size()));
  }
  void writeInput(const std::string& tilesName = "game.mstiles") {
    ASSERT_TRUE(test::writeTilesFixture(joinPath(input, tilesName), recipe));
  }

  bool run(int scale = 2) {
    log.clears = 0;
    log.workingFolder = cwd;
    BuildJob job;
    job.log = &log;
    job.inputFolder = input;
    job.scale = std::uint8_t(scale);
    job.romPath = romPath;
    job.outputPath = outputPath;
    job.threads = threads;
    job.encoder = encoder;
    job.useCache = useCache;
    job.report = &report;
    const bool result = RunBuild(job);
    const Result<std::string> after = currentDirectory();
    EXPECT_TRUE(after && *after == cwd) << "the working folder changed";
    EXPECT_EQ(log.clears, 1);
    return result;
  }

  // What every failed run leaves: its lines, no new pack, an old one untouched, no scratch files.
  void expectFailure(const Lines& lines, const std::string& oldPack = "") {
    EXPECT_EQ(log.lines, lines);
    if (oldPack.empty()) {
      EXPECT_EQ(pathKind(outputPath), PathKind::Missing);
    } else {
      EXPECT_EQ(test::readFileBytes(outputPath), oldPack);
    }
    EXPECT_EQ(test::countTmpFiles(outFolder), 0u);
    EXPECT_EQ(test::countTmpFiles(input), 0u);
    EXPECT_EQ(test::countTmpFiles(tmp), 0u);
  }

  TempDir root;
  std::string input, outFolder, tmp, cwd, romPath, outputPath;
  std::unique_ptr<test::ScopedTmpDir> tmpDir;
  std::unique_ptr<test::ScopedCacheHome> cacheHome;
  TilesContent recipe;
  std::vector<std::uint8_t> rom;
  RecordingLog log;
  unsigned threads = 0; // one per core
  BZip2Encoder encoder = BZip2Encoder::Library;
  bool useCache = true;
  BuildReport report;
};

TEST_F(BuildDriverTest, ASuccessfulRunLogsEveryStageAndWritesAPackThatReadsBack) {
  writeInput();
  // One screen: the cell at (0, 1) is painted over; the solid tile is shown nowhere.
  ScreenContent screen;
  screen.height = 8;
  screen.setCell(0, 1, recipe, 0, 0);
  ASSERT_TRUE(test::writeScreenFixture(joinPath(input, "shot.msscreen"), screen));
  const int scale = 2, edge = 16;
  auto image = test::blankImage(256 * scale, 8 * scale);
  std::vector<std::uint8_t> painted(edge * edge * 4);
  for (std::size_t i = 0; i < painted.size(); ++i) painted[i] = std::uint8_t(i % 4 == 3 ? 255 : i * 13);
  test::putTile(image, edge, 0, edge, painted);
  ASSERT_TRUE(test::savePng(image, joinPath(input, "shot.png")));

  ASSERT_TRUE(run(scale));
  EXPECT_EQ(log.lines, stagesThen(7, "Success!"));
  EXPECT_EQ(log.all,
            (Lines{kStages[0], "Tiles file: game.mstiles", kStages[1], kStages[2],
                   "Screen shot.msscreen: 1 tile replaced from shot.png",
                   "Screens: 1 used, 0 skipped; 1 tile replaced; 1 of 10 tile entries painted (10 %)",
                   kStages[3], kStages[4], kStages[5], kStages[6],
                   "Build cache: 0 of 1 screens and 0 of 2 hi-res blocks reused", "Success!"}));
  EXPECT_EQ(test::countTmpFiles(outFolder) + test::countTmpFiles(input) + test::countTmpFiles(tmp), 0u);

  const Pack pack = readPack(outputPath);
  ASSERT_TRUE(pack.tiles);
  EXPECT_EQ(pack.scale, 2u);
  EXPECT_EQ(pack.romSize, 32768u);
  EXPECT_EQ(pack.romMethod, 1u);
  EXPECT_EQ(pack.rom, rom);
  EXPECT_EQ(pack.romDigest, md5Hex(rom.data(), rom.size()));

  // The tiles: sorted by their keys, every key cleared.
  const TileSet& tiles = *pack.tiles;
  ASSERT_EQ(tiles.paletteCount, recipe.palettes.size());
  ASSERT_EQ(tiles.patternCount, recipe.patterns.size());
  const auto paletteOrder = sortedOrder(recipe.palettes), patternOrder = sortedOrder(recipe.patterns);
  for (std::uint32_t i = 0; i < tiles.paletteCount; ++i) {
    EXPECT_EQ(std::memcmp(tiles.palettes[i].colours, recipe.palettes[paletteOrder[i]].colours, 16), 0);
    EXPECT_EQ(tiles.palettes[i].orderKeyMajor | tiles.palettes[i].orderKeyMinor, 0u);
  }
  for (std::uint32_t i = 0; i < tiles.patternCount; ++i) {
    EXPECT_EQ(std::memcmp(tiles.patterns[i].planes, recipe.patterns[patternOrder[i]].planes, 32), 0);
    EXPECT_EQ(tiles.patterns[i].orderKeyMajor | tiles.patterns[i].orderKeyMinor, 0u);
  }
  std::uint32_t entries = 0;
  for (int g = 0; g < kGroupCount; ++g) {
    const auto order = sortedOrder(recipe.groups[g]);
    ASSERT_EQ(tiles.groups[g].count, order.size());
    EXPECT_EQ(pack.hires.field(5 + g), order.size());
    entries += tiles.groups[g].count;
    for (std::uint32_t i = 0; i < order.size(); ++i) {
      const TileEntry& got = tiles.groups[g].entries[i];
      const TileEntry& want = recipe.groups[g][order[i]];
      EXPECT_EQ(std::memcmp(tiles.palettes[got.paletteIndex].colours,
                            recipe.palettes[want.paletteIndex].colours, 16),
                0);
      EXPECT_EQ(
          std::memcmp(tiles.patterns[got.patternIndex].planes, recipe.patterns[want.patternIndex].planes, 32),
          0);
      EXPECT_EQ(got.orderKeyMajor | got.orderKeyMinor, 0u);
    }
  }

  // The hi-res section.
  EXPECT_EQ(pack.hires.field(2), 1u);      // flags: digest present
  EXPECT_EQ(pack.hires.field(4), entries); // entry count
  EXPECT_EQ(pack.hires.field(14), 2u);     // scale
  EXPECT_EQ(pack.hires.field(15), 2u);     // bzip2
  EXPECT_EQ(pack.payloadDigest, md5Hex(pack.hires.payload.data(), pack.hires.payload.size()));
  const std::uint32_t tileData = pack.hires.field(3) * pack.hires.tileBytes();
  for (std::uint32_t i = 0; i < entries; ++i) {
    const std::uint32_t offset = loadLE32(pack.hires.payload.data() + tileData + 4 * i);
    EXPECT_EQ(offset % pack.hires.tileBytes(), 0u);
    EXPECT_LT(offset, tileData);
  }
  EXPECT_EQ(pack.tileOf(0, recipe.palettes[0].colours, recipe.patterns[0].planes), painted);
  // The solid tile, as generated: colour 2 of palette 1 everywhere, opaque.
  const std::uint8_t c = recipe.palettes[1].colours[2];
  const std::uint8_t solid[4] = {std::uint8_t(((c >> 4) & 3) * 0x55), std::uint8_t(((c >> 2) & 3) * 0x55),
                                 std::uint8_t((c & 3) * 0x55), 0xFF};
  const auto generated = pack.tileOf(0, recipe.palettes[1].colours, recipe.patterns[3].planes);
  for (std::size_t i = 0; i < generated.size(); ++i) ASSERT_EQ(generated[i], solid[i % 4]) << i;
}

// The pack and the log are the same byte for byte whether the screens were prepared and the hi-res
// tiles compressed on one thread or on several; here the tiles fill several bzip2 blocks, and the
// screens all paint one shared entry (each differently: the last in the listing wins) beside an
// entry of their own.
TEST_F(BuildDriverTest, PacksAreTheSameForEveryThreadCount) {
  std::mt19937 random(5);
  for (std::uint32_t i = 0; i < 700; ++i) {
    PatternEntry pattern{};
    for (auto& b : pattern.planes) b = std::uint8_t(random());
    recipe.addEntry(kSpriteGroup, i % 4, recipe.addPattern(pattern));
  }
  const int screens = 9, edge = 32;
  for (int k = 0; k < screens; ++k) recipe.addEntry(0, k % 4, 4 + k, 0);
  writeInput();
  for (int k = 0; k < screens; ++k) {
    ScreenContent screen;
    screen.height = 8;
    screen.setCell(0, 0, recipe, 1, 3, 0);         // shared: the solid tile
    screen.setCell(0, 1, recipe, k % 4, 4 + k, 0); // its own
    const std::string base = joinPath(input, "s" + std::to_string(k));
    ASSERT_TRUE(test::writeScreenFixture(base + ".msscreen", screen));
    auto image = test::blankImage(256 * 4, 8 * 4);
    for (int cell = 0; cell < 2; ++cell)
      test::putTile(image, cell * edge, 0, edge,
                    std::vector<std::uint8_t>(edge * edge * 4, std::uint8_t(10 * k + cell + 1)));
    ASSERT_TRUE(test::saveBmp(image, base + ".bmp"));
  }
  std::string first;
  Lines firstLines;
  for (unsigned count : {1u, 2u, 4u, 0u}) {
    threads = count;
    ASSERT_TRUE(run(4));
    const std::string pack = test::readFileBytes(outputPath);
    if (first.empty()) {
      first = pack;
      firstLines = log.lines;
      const Pack read = readPack(outputPath);
      EXPECT_GT(read.hires.payload.size(), 3u * 600000);
      const auto shared = read.tileOf(0, recipe.palettes[1].colours, recipe.patterns[3].planes);
      EXPECT_EQ(shared[0], 10 * (screens - 1) + 1);
      EXPECT_EQ(report.conflicts.size(), std::size_t(screens - 1));
    }
    EXPECT_TRUE(pack == first) << count << " threads";
    EXPECT_EQ(log.lines, firstLines) << count << " threads";
  }

  // The fast encoder writes another bzip2 stream of the same hi-res payload: everything else in
  // the pack, the payload and its digest, and the log are the same.
  encoder = BZip2Encoder::Fast;
  ASSERT_TRUE(run(4));
  const Pack fast = readPack(outputPath);
  const std::string libbz2Path = joinPath(outFolder, "libbz2.zrm");
  ASSERT_TRUE(test::writeFileBytes(libbz2Path, first.data(), first.size()));
  const Pack libbz2 = readPack(libbz2Path);
  EXPECT_FALSE(fast.file == libbz2.file) << "the fast encoder was not used";
  EXPECT_TRUE(fast.hires.payload == libbz2.hires.payload);
  EXPECT_EQ(fast.payloadDigest, libbz2.payloadDigest);
  EXPECT_TRUE(fast.hires.header == libbz2.hires.header);
  ASSERT_EQ(fast.r + fast.t, libbz2.r + libbz2.t);
  EXPECT_TRUE(std::equal(fast.file.begin(), fast.file.begin() + 44, libbz2.file.begin()))
      << "all but the size";
  EXPECT_TRUE(
      std::equal(fast.file.begin() + 48, fast.file.begin() + 48 + fast.r + fast.t, libbz2.file.begin() + 48));
  EXPECT_EQ(log.lines, firstLines);
}

// A build that takes what it can from the cache writes the very pack and log of a build without
// it, whatever changed since the cache was filled, and takes back only what did not change; a
// damaged entry is never used.
TEST_F(BuildDriverTest, PacksWithTheCacheAreThoseWithoutIt) {
  std::mt19937 random(7);
  for (std::uint32_t i = 0; i < 700; ++i) { // two runs of tiles at 2x, five at 3x
    PatternEntry pattern{};
    for (auto& b : pattern.planes) b = std::uint8_t(random());
    recipe.addEntry(kSpriteGroup, i % 4, recipe.addPattern(pattern));
  }
  for (int k = 0; k < 5; ++k) recipe.addEntry(0, k % 4, 4 + k, 0);
  writeInput();
  // Screen k shows the solid tile and an entry of its own, painted `paint` and `paint + 1`.
  auto paintScreen = [&](int k, int scale, std::uint8_t paint) {
    ScreenContent screen;
    screen.height = 8;
    screen.setCell(0, 0, recipe, 1, 3, 0);
    screen.setCell(0, 1, recipe, k % 4, 4 + k, 0);
    const std::string base = joinPath(input, "s" + std::to_string(k));
    ASSERT_TRUE(test::writeScreenFixture(base + ".msscreen", screen));
    const int edge = 8 * scale;
    auto image = test::blankImage(256 * scale, 8 * scale);
    for (int cell = 0; cell < 2; ++cell)
      test::putTile(image, cell * edge, 0, edge,
                    std::vector<std::uint8_t>(std::size_t(edge) * edge * 4, std::uint8_t(paint + cell)));
    ASSERT_TRUE(test::saveBmp(image, base + ".bmp"));
  };
  const std::string cache = root.file("cache/zelvo");
  auto damageEntries = [&] {
    for (const DirEntry& entry : test::listed(cache, "*")) {
      std::string bytes = test::readFileBytes(joinPath(cache, entry.name));
      if (entry.name[0] == 's')
        bytes.pop_back(); // cut short
      else
        bytes[bytes.size() / 2] ^= 4;
      ASSERT_TRUE(test::writeFileBytes(joinPath(cache, entry.name), bytes.data(), bytes.size()));
    }
  };
  struct Step {
    const char* name;
    std::function<void()> change;
    int scale;
    int screensReused;
  };
  const Step steps[] = {
      {"first build",
       [&] {
         for (int k = 0; k < 4; ++k) paintScreen(k, 2, std::uint8_t(10 * k + 1));
       },
       2, 0},
      {"nothing changed", [] {}, 2, 4},
      {"a touch-up", [&] { paintScreen(1, 2, 99); }, 2, 3},
      {"a new screen", [&] { paintScreen(4, 2, 77); }, 2, 4},
      {"a screen removed", [&] { ASSERT_TRUE(deleteFile(joinPath(input, "s2.msscreen"))); }, 2, 4},
      {"damaged entries", damageEntries, 2, 0},
      {"another scale",
       [&] {
         for (int k : {0, 1, 3, 4}) paintScreen(k, 3, std::uint8_t(5 * k + 2));
       },
       3, 0},
      {"back to the first scale",
       [&] {
         for (int k : {0, 1, 3, 4}) paintScreen(k, 2, std::uint8_t(5 * k));
       },
       2, 0},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.name);
    step.change();
    useCache = true;
    ASSERT_TRUE(run(step.scale));
    const std::string cached = test::readFileBytes(outputPath);
    Lines lines = log.all;
    const auto line = std::find_if(lines.begin(), lines.end(),
                                   [](const std::string& l) { return l.rfind("Build cache: ", 0) == 0; });
    ASSERT_NE(line, lines.end());
    EXPECT_EQ(line->rfind("Build cache: " + std::to_string(step.screensReused) + " of ", 0), 0u) << *line;
    EXPECT_EQ(line->find("damaged") != std::string::npos, step.change.target_type() == typeid(damageEntries))
        << *line;
    lines.erase(line);
    useCache = false;
    ASSERT_TRUE(run(step.scale));
    EXPECT_TRUE(test::readFileBytes(outputPath) == cached);
    EXPECT_EQ(log.all, lines);
  }
}

TEST_F(BuildDriverTest, ScreensFindTheirImagesByBaseName) {
  const int scale = 1, edge = 8;
  // Each screen shows one priority cell (the image's alpha is kept) of its own entry.
  struct Case {
    const char* screen;
    std::uint32_t palette, pattern;
  };
  const Case cases[] = {
      {"a.msscreen", 0, 0}, {"b.msscreen", 1, 1}, {"c.msscreen", 2, 2}, {"d.e.msscreen", 3, 3}};
  for (const Case& k : cases) recipe.addEntry(4, k.palette, k.pattern, 0);
  writeInput();
  for (const Case& k : cases) {
    ScreenContent screen;
    screen.height = 8;
    screen.setCell(0, 0, recipe, k.palette, k.pattern, 0x1000);
    ASSERT_TRUE(test::writeScreenFixture(joinPath(input, k.screen), screen));
  }
  auto paint = [&](std::uint8_t value) {
    auto image = test::blankImage(256 * scale, 8 * scale);
    test::putTile(image, 0, 0, edge, std::vector<std::uint8_t>(edge * edge * 4, value));
    return image;
  };
  // a: both a.png (opaque, so its alpha comes from a_alpha.png) and a.bmp.
  RgbaImage opaque = paint(11);
  for (std::size_t i = 3; i < opaque.byteCount(); i += 4) opaque.pixels[i] = 255;
  ASSERT_TRUE(test::savePng(opaque, joinPath(input, "a.png")));
  ASSERT_TRUE(test::saveBmp(paint(12), joinPath(input, "a.bmp")));
  ASSERT_TRUE(test::saveGrey(256, 8, 50, joinPath(input, "a_alpha.png"), ImageFormat::Png));
  ASSERT_TRUE(test::saveGrey(256, 8, 60, joinPath(input, "a_alpha.bmp"), ImageFormat::Bmp));
  // b: only b.bmp, with b_alpha.bmp.
  ASSERT_TRUE(test::saveBmp(paint(20), joinPath(input, "b.bmp")));
  ASSERT_TRUE(test::saveGrey(256, 8, 70, joinPath(input, "b_alpha.bmp"), ImageFormat::Bmp));
  // c: a folder named c.png does not count.
  ASSERT_TRUE(createDirectory(joinPath(input, "c.png")));
  ASSERT_TRUE(test::saveBmp(paint(30), joinPath(input, "c.bmp")));
  // d.e: the base keeps its inner dot.
  ASSERT_TRUE(test::saveBmp(paint(40), joinPath(input, "d.e.bmp")));
  ASSERT_TRUE(test::saveBmp(paint(41), joinPath(input, "d.bmp")));

  ASSERT_TRUE(run(scale));
  const Pack pack = readPack(outputPath);
  ASSERT_TRUE(pack.tiles);
  auto pixel = [&](const Case& k) {
    auto tile = pack.tileOf(4, recipe.palettes[k.palette].colours, recipe.patterns[k.pattern].planes);
    return std::vector<std::uint8_t>(tile.begin(), tile.begin() + 4);
  };
  EXPECT_EQ(pixel(cases[0]), (std::vector<std::uint8_t>{11, 11, 11, 50}));
  EXPECT_EQ(pixel(cases[1]), (std::vector<std::uint8_t>{20, 20, 20, 70}));
  EXPECT_EQ(pixel(cases[2]), (std::vector<std::uint8_t>{30, 30, 30, 255}));
  EXPECT_EQ(pixel(cases[3]), (std::vector<std::uint8_t>{40, 40, 40, 255}));
}

// What a 4x build does with each screen's image, as its log lines, its report and its pack say.
TEST_F(BuildDriverTest, TheReportSaysWhatEveryScreenDidWithItsImage) {
  const int scale = 4, edge = 32;
  struct Image {
    const char* name;
    std::uint32_t width, height; // 0 x 0: a PNG cut short after its signature
  };
  struct Case {
    const char* screen;
    std::vector<Image> images; // a name ending in "_Alpha.bmp" is a grey alpha image of 90
    std::uint32_t entry;       // its palette and pattern; the entry is in group 4
    std::uint8_t paint;        // the value of the painted tile's colour bytes
    const char* status;
    const char* image; // the image taken
    std::size_t replaced;
    const char* line; // one of its lines
  };
  const Case cases[] = {
      // Painted over a 2x export: not cut, although its first tile would fit.
      {"half.msscreen",
       {{"half.png", 512, 32}},
       1,
       101,
       "wrong-scale",
       "half.png",
       0,
       "Warning: screen half.msscreen skipped: half.png: the image is 512 x 32 pixels, painted at 2x; this "
       "build "
       "at 4x needs 1024 x 64"},
      // Cropped: the tile wholly inside is still used.
      {"crop.msscreen",
       {{"crop.png", 40, 40}},
       2,
       102,
       "used",
       "crop.png",
       1,
       "Warning: screen crop.msscreen: crop.png is 40 x 40 pixels but the build needs 1024 x 64; only the "
       "tiles "
       "wholly inside it were used"},
      // Names without case, the alpha image's too.
      {"upper.msscreen",
       {{"UPPER.BMP", 1024, 64}, {"Upper_Alpha.bmp", 1024, 64}},
       3,
       103,
       "used",
       "UPPER.BMP",
       1,
       "Screen upper.msscreen: 1 tile replaced from UPPER.BMP"},
      // Two names that match: the first of the sorted listing is taken.
      {"twin.msscreen",
       {{"twin.png", 1024, 64}, {"TWIN.PNG", 1024, 64}},
       4,
       104,
       "used",
       "TWIN.PNG",
       1,
       "Warning: screen twin.msscreen: TWIN.PNG taken, also matching: twin.png"},
      {"none.msscreen", {}, 5, 0, "no-image", "", 0, "Screen none.msscreen: no image, skipped"},
      {"bad.msscreen",
       {{"bad.png", 0, 0}},
       6,
       0,
       "unreadable-image",
       "bad.png",
       0,
       "Warning: screen bad.msscreen skipped: bad.png: "},
      // Two screens painting one tile differently: the later one is kept.
      {"x1.msscreen",
       {{"x1.png", 1024, 64}},
       7,
       107,
       "used",
       "x1.png",
       1,
       "Screen x1.msscreen: 1 tile replaced"},
      {"x2.msscreen",
       {{"x2.png", 1024, 64}},
       7,
       117,
       "used",
       "x2.png",
       1,
       "Screen x2.msscreen: 1 tile replaced"},
  };
  // Entry k shows palette and pattern 4 + k, none of them shown elsewhere.
  for (std::uint32_t i = 0; i < 8; ++i) {
    recipe.addPalette(std::uint8_t(60 + 3 * i));
    recipe.addPattern(std::uint8_t(40 + i));
    recipe.addEntry(4, 4 + i, 4 + i, 0);
  }
  writeInput();
  for (const Case& k : cases) {
    ScreenContent screen;
    screen.height = 16; // at 2x the painted tile lies wholly inside the image
    screen.setCell(0, 0, recipe, 4 + k.entry, 4 + k.entry, 0x1000); // a priority cell keeps the alpha
    ASSERT_TRUE(test::writeScreenFixture(joinPath(input, k.screen), screen));
    for (const Image& i : k.images) {
      const std::string path = joinPath(input, i.name), name = i.name;
      if (i.width == 0) {
        ASSERT_TRUE(test::writeFileBytes(path, "\x89PNG\r\n\x1a\n", 8));
      } else if (name.ends_with("_Alpha.bmp")) {
        ASSERT_TRUE(test::saveGrey(int(i.width), int(i.height), 90, path, ImageFormat::Bmp));
      } else {
        auto image = test::blankImage(int(i.width), int(i.height));
        std::vector<std::uint8_t> tile(edge * edge * 4, k.paint);
        for (std::size_t b = 3; b < tile.size(); b += 4) tile[b] = 255;
        test::putTile(image, 0, 0, edge, tile);
        ASSERT_TRUE(name.ends_with(".BMP") ? test::saveBmp(image, path) : test::savePng(image, path));
      }
    }
  }

  ASSERT_TRUE(run(scale));
  EXPECT_EQ(log.lines, stagesThen(7, "Success!"));
  const Pack pack = readPack(outputPath);
  ASSERT_TRUE(pack.tiles);
  ASSERT_EQ(report.screens.size(), std::size(cases));
  const nlohmann::json json = nlohmann::json::parse(buildReportJson(report));
  for (const Case& k : cases) {
    SCOPED_TRACE(k.screen);
    auto found = std::find_if(report.screens.begin(), report.screens.end(),
                              [&](const ScreenReport& r) { return r.screen == k.screen; });
    ASSERT_NE(found, report.screens.end());
    EXPECT_STREQ(screenStatusName(found->status), k.status) << found->reason;
    EXPECT_EQ(found->image, k.image);
    EXPECT_EQ(found->info.replaced.size(), k.replaced);
    EXPECT_TRUE(std::any_of(log.all.begin(), log.all.end(), [&](const std::string& line) {
      return line.starts_with(k.line);
    })) << k.line;
    const auto& entry = json["screens"][std::size_t(found - report.screens.begin())];
    EXPECT_EQ(entry["status"], k.status);
    EXPECT_EQ(entry["replaced"].size(), k.replaced);
    // What the pack holds: the painted tile (the later one of two), or the generated tile.
    const auto tile =
        pack.tileOf(4, recipe.palettes[4 + k.entry].colours, recipe.patterns[4 + k.entry].planes);
    const std::uint8_t expected = k.entry == 7 ? 117 : k.paint;
    if (k.replaced) {
      EXPECT_EQ(
          std::vector<std::uint8_t>(tile.begin(), tile.begin() + 4),
          (std::vector<std::uint8_t>{expected, expected, expected, std::uint8_t(k.entry == 3 ? 90 : 255)}));
    } else if (k.paint != 0) {
      EXPECT_NE(tile[0], k.paint);
    }
  }
  EXPECT_EQ(json["tilesFile"], "game.mstiles");
  EXPECT_EQ(json["screens"]
                [std::size_t(std::find_if(report.screens.begin(), report.screens.end(),
                                          [](const ScreenReport& r) { return r.screen == "half.msscreen"; }) -
                             report.screens.begin())]["paintedFactor"],
            2);
  ASSERT_EQ(report.conflicts.size(), 1u);
  const std::uint32_t index = report.conflicts[0].entry.index;
  EXPECT_EQ(json["conflicts"][0], (nlohmann::json{{"group", 4},
                                                  {"index", index},
                                                  {"earlierScreen", "x1.msscreen"},
                                                  {"earlierPlace", {{"cell", {0, 0}}}},
                                                  {"laterScreen", "x2.msscreen"},
                                                  {"laterPlace", {{"cell", {0, 0}}}}}));
  EXPECT_NE(std::find(log.all.begin(), log.all.end(),
                      "Warning: 1 tile painted differently by x1.msscreen and x2.msscreen (tile " +
                          std::to_string(index) + " of group 4); x2.msscreen's paint is kept"),
            log.all.end());
  EXPECT_EQ(json["counts"]["screensUsed"], 5);
  EXPECT_EQ(json["counts"]["screensSkipped"], 3);
  EXPECT_EQ(json["counts"]["tilesReplaced"], 5);
  EXPECT_EQ(json["counts"]["warnings"], 5);
  EXPECT_EQ(json["digests"]["romMd5"], pack.romDigest);
  EXPECT_EQ(json["digests"]["hiResMd5"], pack.payloadDigest);
  EXPECT_EQ(log.all[log.all.size() - 7], "Screens: 5 used, 3 skipped; 5 tiles replaced; 1 tile painted "
                                         "differently; 4 of 18 tile entries painted (22 %)");
}

// Screens that show one tile in two cells, each cell painted with a solid grey or left as the
// export draws it (0): what the pack keeps, the conflicts and what the report counts.
TEST_F(BuildDriverTest, PaintIsKeptAndConflictsAreCountedWhateverTheOrder) {
  struct Case {
    const char* name;
    std::vector<std::array<int, 2>> screens; // per screen, the grey of cells (0,0) and (0,1)
    int kept;                                // the grey the pack holds, 0 the generated tile
    std::size_t conflicts, within;           // all of them, and those inside one screen
    std::size_t keptEarlier, shared; // cells left as exported over earlier paint, or over this screen's
    std::size_t warnings = 1;        // a line per pair of screens, at most 20, then one for the rest
  };
  Case many{"each of 23 screens painted otherwise", {}, 166, 22, 0, 0, 0, 21};
  for (int k = 0; k < 23; ++k) many.screens.push_back({100 + 3 * k, 100 + 3 * k});
  const Case cases[] = {
      {"untouched after painted", {{50, 50}, {0, 0}}, 50, 0, 0, 2, 0, 0},
      {"painted after untouched", {{0, 0}, {50, 50}}, 50, 0, 0, 0, 0, 0},
      {"painted, untouched, painted again", {{50, 50}, {0, 0}, {50, 50}}, 50, 0, 0, 2, 0, 0},
      {"across screens", {{50, 50}, {60, 60}}, 60, 1, 0, 0, 0},
      {"within a screen", {{50, 60}}, 60, 1, 1, 0, 0},
      {"painted beside untouched", {{0, 50}, {0, 0}}, 50, 0, 0, 2, 1, 0},
      {"nothing painted", {{0, 0}, {0, 0}}, 0, 0, 0, 0, 0, 0},
      many,
  };
  const int scale = 2, edge = 16;
  const std::uint32_t tile = recipe.addPattern(77);
  recipe.addEntry(0, 2, tile, 0);
  writeInput();
  ASSERT_TRUE(run(scale));
  const std::vector<std::uint8_t> generated =
      readPack(outputPath).tileOf(0, recipe.palettes[2].colours, recipe.patterns[tile].planes);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (const DirEntry& old : test::listed(input, "s*")) ASSERT_TRUE(deleteFile(joinPath(input, old.name)));
    const auto named = [](std::size_t k) { return std::string(1, char('a' + k / 10)) + char('0' + k % 10); };
    for (std::size_t k = 0; k < c.screens.size(); ++k) {
      ScreenContent screen;
      screen.height = 8;
      test::Picture image{256 * scale, 8 * scale, std::vector<std::uint8_t>(256 * scale * 8 * scale * 4)};
      for (int cell = 0; cell < 2; ++cell) {
        screen.setCell(0, cell, recipe, 2, tile, 0);
        for (int y = 0; y < edge; ++y)
          for (int x = 0; x < edge; ++x) {
            const std::uint8_t* from = &generated[std::size_t(y * edge + x) * 4]; // blue, green, red, alpha
            const int grey = c.screens[k][std::size_t(cell)];
            const std::uint8_t rgba[4] = {grey ? std::uint8_t(grey) : from[2],
                                          grey ? std::uint8_t(grey) : from[1],
                                          grey ? std::uint8_t(grey) : from[0], 255};
            std::memcpy(image.at(cell * edge + x, y), rgba, 4);
          }
      }
      const std::string base = joinPath(input, "s" + named(k)); // in the listing's order
      ASSERT_TRUE(test::writeScreenFixture(base + ".msscreen", screen));
      const std::vector<std::uint8_t> png = test::rgbaPng(image);
      ASSERT_TRUE(test::writeFileBytes(base + ".png", png.data(), png.size()));
    }
    ASSERT_TRUE(run(scale));
    const auto stored =
        readPack(outputPath).tileOf(0, recipe.palettes[2].colours, recipe.patterns[tile].planes);
    std::vector<std::uint8_t> expected = generated;
    for (std::size_t i = 0; c.kept && i < expected.size(); ++i)
      expected[i] = i % 4 == 3 ? 255 : std::uint8_t(c.kept);
    EXPECT_EQ(stored, expected);
    EXPECT_EQ(report.conflicts.size(), c.conflicts);
    EXPECT_EQ(std::size_t(std::count_if(report.conflicts.begin(), report.conflicts.end(),
                                        [](const TileConflict& t) { return t.earlier == t.later; })),
              c.within);
    std::size_t keptEarlier = 0, shared = 0;
    for (const ScreenReport& screen : report.screens) {
      keptEarlier += screen.info.keptEarlierPaint;
      shared += screen.info.sharedSquares;
    }
    EXPECT_EQ(keptEarlier, c.keptEarlier);
    EXPECT_EQ(shared, c.shared);
    EXPECT_EQ(report.warnings, c.warnings);
    if (c.conflicts) {
      EXPECT_NE(log.all[log.all.size() - 7].find("; 1 tile painted differently"), std::string::npos);
    }
  }
}

TEST_F(BuildDriverTest, FailuresBeforeTheOutputLeaveOneLineAndTheDirectoryAsItWas) {
  // An input folder that is a file, or does not exist: that line alone.
  ASSERT_TRUE(test::writeFileBytes(root.file("file"), "x", 1));
  input = root.file("file");
  EXPECT_FALSE(run());
  expectFailure({"Error: invalid input folder"});
  input = root.file("missing");
  EXPECT_FALSE(run());
  expectFailure({"Error: invalid input folder"});
  input = root.file("in");

  // No tiles file, or only a corrupt one (a directory of that name is tried and passed over).
  EXPECT_FALSE(run());
  expectFailure(stagesThen(1, "Can't find any valid .mstiles file in the input folder"));
  ASSERT_TRUE(createDirectory(joinPath(input, "a.mstiles")));
  ASSERT_TRUE(test::writeFileBytes(joinPath(input, "b.mstiles"), "MSTILES\0\4\0\0\0", 12));
  EXPECT_FALSE(run());
  expectFailure(stagesThen(1, "Can't find any valid .mstiles file in the input folder"));
  EXPECT_EQ(log.all, (Lines{kStages[0], "Warning: tiles file a.mstiles passed over: a folder",
                            "Warning: tiles file b.mstiles passed over: b.mstiles: the header ends after "
                            "12 of 64 bytes",
                            "Can't find any valid .mstiles file in the input folder"}));

  // A tiles file without any tile entry.
  TilesContent empty;
  empty.addPalette(1);
  ASSERT_TRUE(test::writeTilesFixture(joinPath(input, "c.mstiles"), empty));
  EXPECT_FALSE(run());
  expectFailure(stagesThen(2, "Error: can't create high-resolution tiles list"));
  // The first that loads is used: a later valid file does not matter.
  writeInput("d.mstiles");
  EXPECT_FALSE(run());
  expectFailure(stagesThen(2, "Error: can't create high-resolution tiles list"));
  ASSERT_TRUE(deleteFile(joinPath(input, "c.mstiles")));
  EXPECT_TRUE(run());
  EXPECT_EQ(log.lines, stagesThen(7, "Success!"));
}

TEST_F(BuildDriverTest, AnOutputThatCannotBeWrittenFailsBeforeAnythingIsWritten) {
  writeInput();
  outputPath = root.file("no/such/folder/game.zrm");
  EXPECT_FALSE(run());
  expectFailure(stagesThen(4, "Error: can't open output file for write"));
  outputPath = outFolder; // a folder
  EXPECT_FALSE(run());
  EXPECT_EQ(log.lines, stagesThen(4, "Error: can't open output file for write"));
  EXPECT_EQ(test::countTmpFiles(outFolder) + test::countTmpFiles(input) + test::countTmpFiles(tmp), 0u);
  // A pack that may not be written is left alone.
  outputPath = joinPath(outFolder, "game.zrm");
  const std::string locked = "a pack kept read-only";
  ASSERT_TRUE(test::writeFileBytes(outputPath, locked.data(), locked.size()));
  // The refusal is injected as the pack is begun, so that it happens also for a user (root) who
  // may write anyway.
  log.onLine = [](const std::string& line) {
    if (line == kStages[3]) armFault(unsigned(FaultOp::Open), 1, EACCES);
  };
  EXPECT_FALSE(run());
  log.onLine = nullptr;
  disarmFault();
  expectFailure(stagesThen(4, "Error: can't open output file for write"), locked);
  // A pack that replaces another takes its permissions; a new one those of any new file.
  ASSERT_EQ(chmod(outputPath.c_str(), 0640), 0);
  EXPECT_TRUE(run());
  struct stat st {};
  ASSERT_EQ(stat(outputPath.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  // A relative output lies in the input folder.
  outputPath = "relative.zrm";
  EXPECT_TRUE(run());
  EXPECT_EQ(pathKind(joinPath(input, "relative.zrm")), PathKind::File);
  const mode_t mask = umask(0);
  umask(mask);
  ASSERT_EQ(stat(joinPath(input, "relative.zrm").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0666u & ~mask);
}

TEST_F(BuildDriverTest, TheOriginalRomIsCheckedAndAnExistingPackSurvivesItsRejection) {
  writeInput();
  const std::string oldPack = "an older pack";
  ASSERT_TRUE(test::writeFileBytes(outputPath, oldPack.data(), oldPack.size()));
  const Lines invalid = stagesThen(5, "Error: invalid original ROM");
  auto tryRom = [&](const std::vector<std::uint8_t>& bytes) {
    EXPECT_TRUE(test::writeFileBytes(romPath, bytes.data(), bytes.size()));
    return run();
  };
  EXPECT_FALSE(tryRom(romImage(32759)));
  expectFailure(invalid, oldPack);
  EXPECT_FALSE(tryRom(romImage(524801)));
  expectFailure(invalid, oldPack);
  romPath = root.file("missing.sms");
  EXPECT_FALSE(run());
  expectFailure(invalid, oldPack);
  romPath = root.file("game.sms");

  // A pack offered as the ROM.
  auto pack = romImage(40000);
  std::memcpy(pack.data(), "MSHIROM\0", 8);
  EXPECT_FALSE(tryRom(pack));
  expectFailure(invalid, oldPack);

  // A zip that holds no ROM is not taken for one, however large it is.
  std::vector<std::uint8_t> zip(30 + 10 + 40000, 'z');
  ByteWriter w(zip.data(), zip.size());
  w.u32(0x04034B50);
  w.u16(10);
  w.u16(0);
  w.u16(0); // stored
  w.u32(0);
  w.u32(0);
  w.u32(40000);
  w.u32(40000);
  w.u16(10);
  w.u16(0);
  w.bytes("readme.txt", 10);
  EXPECT_FALSE(tryRom(zip));
  expectFailure(invalid, oldPack);

  // The smallest accepted size (0x7FF8: bit 9 is set, so 512 bytes go as a copier header), and a
  // copier header that is left out of the pack.
  EXPECT_TRUE(tryRom(romImage(32760)));
  EXPECT_EQ(readPack(outputPath).romSize, 32760u - 512);
  auto copier = romImage(32768 + 512);
  EXPECT_TRUE(tryRom(copier));
  const Pack withHeader = readPack(outputPath);
  EXPECT_EQ(withHeader.romSize, 32768u);
  EXPECT_EQ(withHeader.rom, std::vector<std::uint8_t>(copier.begin() + 512, copier.end()));
  EXPECT_EQ(withHeader.romDigest, md5Hex(copier.data() + 512, 32768));
}

TEST_F(BuildDriverTest, AWriteFailureAtAnyStageLeavesNoPackAndKeepsTheOldOne) {
  writeInput();
  ScreenContent screen;
  screen.height = 8;
  screen.setCell(0, 0, recipe, 0, 0);
  ASSERT_TRUE(test::writeScreenFixture(joinPath(input, "shot.msscreen"), screen));
  auto image = test::blankImage(256 * 2, 16);
  fillImage(image, 0x5A, 0x5A, 0x5A, 0x5A);
  ASSERT_TRUE(test::savePng(image, joinPath(input, "shot.png")));
  const std::string oldPack = "an older pack";
  ASSERT_TRUE(test::writeFileBytes(outputPath, oldPack.data(), oldPack.size()));

  // From the moment a stage line appears, no file may grow past `limit` bytes.
  struct Case {
    int stage;
    rlim_t limit;
    std::string error;
  };
  const Case cases[] = {
      {2, 1, "Error: can't write high-resolution tiles"}, // a replaced tile cannot be written back
      {3, 20, "Error: can't write output file"},          // the pack's placeholder header
      {4, 60, "Error: can't write output file"},          // the ROM section
      {5, 0, "Error: can't write output file"},           // the tiles section (limit set below)
      {6, 0, "Error: can't write output file"},           // the hi-res section
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.error + " at stage " + std::to_string(k.stage + 1));
    std::unique_ptr<FileSizeLimit> limit;
    log.onLine = [&](const std::string& line) {
      if (line != kStages[k.stage]) return;
      rlim_t bytes = k.limit;
      if (bytes == 0) {
        // just past what is already written of the pack
        std::uint64_t largest = 0;
        for (const auto& e : test::listed(outFolder, "TMP*")) {
          File f = test::opened(File::openRead(joinPath(outFolder, e.name)));
          std::uint64_t size = 0;
          if (f && test::into(f.size(), size)) largest = std::max(largest, size);
        }
        bytes = rlim_t(largest + 1);
      }
      limit = std::make_unique<FileSizeLimit>(bytes);
    };
    EXPECT_FALSE(run());
    limit.reset();
    log.onLine = nullptr;
    expectFailure(stagesThen(k.stage + 1, k.error), oldPack);
  }
  EXPECT_TRUE(run());
  EXPECT_NE(test::readFileBytes(outputPath), oldPack);
}

} // namespace
} // namespace zelvo
