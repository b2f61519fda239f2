// Why the readers refuse a file: one table of representative bad tiles files, screen files and
// packs, each with the cause and a piece of the detail a person is shown. Claims far beyond the
// data are refused without the memory they claim.
#include "compress/rom_rules.h"
#include "pipeline/pack_format.h"
#include "platform/byte_io.h"
#include "platform/process_info.h"
#include "support/fixtures.h"
#include "support/pack_files.h"
#include "support/temp_dir.h"
#include "tiles/screen_file.h"
#include "tiles/tiles_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

namespace zelvo {
namespace {

using Bytes = std::vector<std::uint8_t>;
using test::DigestMode;
using test::ScreenContent;
using test::ScreenFileOptions;
using test::TilesContent;
using test::TilesFileOptions;

TilesContent oneEntry() {
  TilesContent c;
  c.addEntry(0, c.addPalette(1), c.addPattern(2));
  return c;
}

// A small, sound pack at scale 2 with one tile entry, after `edit` changed its headers.
Bytes packBytes(const std::function<void(PackHeader&, HiResSectionHeader&)>& edit = {}) {
  Bytes payload(hiResTileBytes(2) + 4, 0x33);
  std::memset(payload.data() + hiResTileBytes(2), 0, 4);
  return test::packBytes(Bytes(32768, 0x5A), oneEntry(), test::hiResHeaderFor(2, 1, oneEntry()), Md5Digest{},
                         test::compressBytes(kMethodBZip2, payload.data(), payload.size()), edit);
}

// The pack's readers in the order `zelvo inspect` calls them.
Status readPack(const std::string& path) {
  File file = test::opened(File::openRead(path));
  Result<PackLayout> layout = readPackLayout(file, path);
  if (!layout) return layout.error();
  Result<RomSectionHead> rom = readRomSectionHead(file, *layout, path);
  if (!rom) return rom.error();
  Result<HiResSectionHead> hires = readHiResSectionHead(file, *layout, path);
  if (!hires) return hires.error();
  return {};
}

TEST(ReaderErrors, EachRefusalSaysWhy) {
  test::TempDir dir;
  ASSERT_TRUE(test::writeTilesFixture(dir.file("game.mstiles"), oneEntry()));
  enum class Kind { Tiles, Screen, Pack };
  struct Case {
    const char* what;
    Kind kind;
    Bytes bytes;
    ErrorCause cause;
    const char* detail;
  };
  const TilesContent tiles = oneEntry();
  const Bytes goodTiles = test::tilesFileBytes(tiles);
  auto tilesWith = [&](const std::function<void(TilesFileOptions&)>& edit) {
    TilesFileOptions options;
    edit(options);
    return test::tilesFileBytes(tiles, options);
  };
  auto counts = [](std::uint32_t palettes, std::uint32_t patterns, std::uint32_t entries) {
    TileCounts c;
    c.palettes = palettes;
    c.patterns = patterns;
    for (int g = 0; g < kGroupCount; ++g)
      c.groups[g] = entries / kGroupCount + (g == 0 ? entries % kGroupCount : 0);
    return c;
  };
  ScreenContent screen;
  screen.addSprite(1, 1, tiles, 0, 0);
  auto screenWith = [&](const std::function<void(ScreenFileOptions&)>& edit) {
    ScreenFileOptions options;
    edit(options);
    return test::screenFileBytes(screen, options);
  };
  // An LZMA stream whose properties ask for a 4 GiB dictionary (4 bytes of framing, then the
  // lc/lp/pb byte and the 32-bit dictionary size).
  Bytes hugeDictionary = tilesWith([](TilesFileOptions& o) { o.compression = kMethodLZMA; });
  std::memset(hugeDictionary.data() + 64 + 16 + 5, 0xFF, 4);

  const Case cases[] = {
      {"truncated header", Kind::Tiles, Bytes(goodTiles.begin(), goodTiles.begin() + 40),
       ErrorCause::Truncated, "the header ends after 40 of 64 bytes"},
      {"undefined flag bit", Kind::Tiles, tilesWith([](TilesFileOptions& o) { o.extraFlags = 0x10; }),
       ErrorCause::BadFormat, "undefined flag bits 0x10"},
      {"digest mismatch", Kind::Tiles, tilesWith([](TilesFileOptions& o) { o.digest = DigestMode::Wrong; }),
       ErrorCause::DigestMismatch, "MD5"},
      {"stored payload longer than the file", Kind::Tiles, tilesWith([&](TilesFileOptions& o) {
         o.compression = kMethodStored;
         o.countsField = counts(1, 1, 1000);
       }),
       ErrorCause::Truncated, "the payload claims 24.1 KB but the 104 bytes left"},
      {"palettes beyond the ceiling", Kind::Tiles,
       tilesWith([&](TilesFileOptions& o) { o.countsField = counts(kMaxTilesPalettes + 1, 1, 1); }),
       ErrorCause::LimitExceeded, "131073 palettes; at most 131072"},
      {"tile entries beyond the ceiling", Kind::Tiles,
       tilesWith([&](TilesFileOptions& o) { o.countsField = counts(1, 1, kMaxTileEntries + 1); }),
       ErrorCause::LimitExceeded, "1000001 tile entries; at most 1000000"},
      {"bzip2 payload claiming 1 GB", Kind::Tiles, tilesWith([&](TilesFileOptions& o) {
         o.compression = kMethodBZip2;
         o.countsField = counts(0, 0, 44739242);
       }),
       ErrorCause::LimitExceeded, "44739242 tile entries"},
      {"bzip2 payload far shorter than its claim", Kind::Tiles, tilesWith([&](TilesFileOptions& o) {
         o.compression = kMethodBZip2;
         o.countsField = counts(kMaxTilesPalettes, kMaxTilesPatterns, kMaxTileEntries);
       }),
       ErrorCause::BadFormat, "the bzip2 payload ends or breaks after 0 of 34485760 bytes"},
      {"LZMA dictionary of 4 GiB", Kind::Tiles, hugeDictionary, ErrorCause::LimitExceeded,
       "a dictionary of 4.3 GB"},
      {"unknown compression", Kind::Tiles, tilesWith([](TilesFileOptions& o) { o.compressionField = 9; }),
       ErrorCause::Unsupported, "unknown compression method 9"},
      {"screen: sprites beyond the ceiling", Kind::Screen,
       screenWith([](ScreenFileOptions& o) { o.spriteCountField = kMaxScreenSprites + 1; }),
       ErrorCause::LimitExceeded, "4097 sprites; at most 4096"},
      {"screen: undefined flag bit", Kind::Screen,
       screenWith([](ScreenFileOptions& o) { o.extraFlags = 0x20; }), ErrorCause::BadFormat,
       "undefined flag bits 0x20"},
      {"screen: digest mismatch", Kind::Screen,
       screenWith([](ScreenFileOptions& o) { o.digest = DigestMode::Wrong; }), ErrorCause::DigestMismatch,
       "MD5"},
      {"pack: hi-res section beyond the file", Kind::Pack,
       packBytes([](PackHeader& p, HiResSectionHeader&) { p.hiResSectionSize = 0xF0000000u; }),
       ErrorCause::Truncated, "the hi-res section claims 4.0 GB but only"},
      {"pack: 4.5 GB claimed by scale and tile count", Kind::Pack,
       packBytes([](PackHeader&, HiResSectionHeader& h) {
         h.scale = 255;
         h.tileCount = 70000;
       }),
       ErrorCause::BadFormat, "the hi-res scale 255 is not 1 to 4"},
      {"pack: more tiles than entries", Kind::Pack,
       packBytes([](PackHeader&, HiResSectionHeader& h) { h.tileCount = 2; }), ErrorCause::BadFormat,
       "2 hi-res tiles for 1 tile entries"},
      {"pack: entries beyond the ceiling", Kind::Pack, packBytes([](PackHeader&, HiResSectionHeader& h) {
         h.groupCounts[8] = kMaxTileEntries;
         h.entryCount = kMaxTileEntries + 1;
       }),
       ErrorCause::LimitExceeded, "1000001 hi-res tile entries"},
      {"pack: ROM beyond the largest", Kind::Pack,
       [] {
         Bytes b = packBytes();
         storeLE32(b.data() + sizeof(PackHeader), kRomMaxSize + 1);
         return b;
       }(),
       ErrorCause::LimitExceeded, "a ROM holds at most 524800 bytes"},
  };

  // A sound file of each kind reads, so every refusal below is the case's own.
  ASSERT_TRUE(test::writeBytes(dir.file("good.zrm"), packBytes()));
  EXPECT_TRUE(readPack(dir.file("good.zrm"))) << readPack(dir.file("good.zrm")).error().message();
  ASSERT_TRUE(test::writeScreenFixture(dir.file("good.msscreen"), screen));
  ScreenFile loaded;
  EXPECT_TRUE(readScreenFile(loaded, dir.file("good.msscreen")));

  const std::uint64_t peakBefore = peakResidentBytes();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const char* names[] = {"case.mstiles", "case.msscreen", "case.zrm"};
    const std::string path = dir.file(names[int(c.kind)]);
    ASSERT_TRUE(test::writeBytes(path, c.bytes));
    Status read;
    if (c.kind == Kind::Tiles) {
      auto set = createTileSet();
      read = readTilesFile(*set, path);
    } else if (c.kind == Kind::Screen) {
      ScreenFile target;
      read = readScreenFile(target, path);
    } else {
      read = readPack(path);
    }
    ASSERT_FALSE(read);
    EXPECT_EQ(read.error().cause, c.cause) << read.error().message();
    EXPECT_EQ(read.error().path, path);
    EXPECT_NE(read.error().detail.find(c.detail), std::string::npos) << read.error().detail;
  }
  const std::uint64_t peakAfter = peakResidentBytes();
  if (peakBefore && peakAfter) {
    EXPECT_LT(peakAfter, peakBefore + (16u << 20));
  }

  // The screen's own refusal comes before the tiles beside it; without them it says where it looked.
  test::TempDir alone;
  ASSERT_TRUE(test::writeScreenFixture(alone.file("shot.msscreen"), screen));
  const Status noTiles = readScreenFile(loaded, alone.file("shot.msscreen"));
  ASSERT_FALSE(noTiles);
  EXPECT_EQ(noTiles.error().cause, ErrorCause::NotFound);
  EXPECT_EQ(noTiles.error().detail, "no .mstiles file in the folder");
}

} // namespace
} // namespace zelvo
