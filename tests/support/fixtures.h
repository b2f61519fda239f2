// Writers of test inputs made from in-memory vectors: tile sets, tiles files and screen files with
// any compression method, digest present, absent or wrong, and the odd header bits that readers
// must refuse. Every byte they write comes from here, so tests never depend on binary blobs.
//
//   TilesContent tiles;
//   auto pal = tiles.addPalette(1), pat = tiles.addPattern(1);
//   tiles.addEntry(0, pal, pat);
//   writeTilesFixture(dir.file("game.mstiles"), tiles, TilesFileOptions{}.method(kMethodBZip2));
//   ScreenContent screen;
//   screen.setCell(0, 0, tiles, pal, pat);
//   writeScreenFixture(dir.file("one.msscreen"), screen);
#pragma once

#include "compress/streams.h"
#include "tiles/screen_file.h"
#include "tiles/tile_store.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace zelvo::test {

// Distinct, deterministic records: different seeds give different colours / planes.
PaletteEntry makePalette(std::uint32_t seed, std::uint64_t major = 0, std::uint64_t minor = 0);
PatternEntry makePattern(std::uint32_t seed, std::uint64_t major = 0, std::uint64_t minor = 0);

// The eleven tables of a tiles file, in file order.
struct TilesContent {
  std::vector<PaletteEntry> palettes;
  std::vector<PatternEntry> patterns;
  std::vector<TileEntry> groups[kGroupCount];

  // Each returns the index of the new record.
  std::uint32_t addPalette(const PaletteEntry& palette);
  std::uint32_t addPalette(std::uint32_t seed, std::uint64_t major = 0, std::uint64_t minor = 0);
  std::uint32_t addPattern(const PatternEntry& pattern);
  std::uint32_t addPattern(std::uint32_t seed, std::uint64_t major = 0, std::uint64_t minor = 0);
  std::uint32_t addEntry(int group, std::uint32_t palette, std::uint32_t pattern, std::uint64_t major = 0,
                         std::uint64_t minor = 0);

  TileCounts counts() const;
  // The uncompressed payload: every table in order.
  std::vector<std::uint8_t> payload() const;
  // The tables of a loaded set.
  static TilesContent of(const TileSet& set);
};

// A TileSet holding `content` (null only when memory is exhausted).
std::unique_ptr<TileSet> makeTileSet(const TilesContent& content);
// The payload of a set, table by table.
std::vector<std::uint8_t> payloadOf(const TileSet& set);

enum class DigestMode { Correct, Absent, Wrong };

// `method`'s stream of the bytes: stored as they are, deflate and bzip2 through our compressors,
// LZMA in the ZIP framing. Empty on failure (only a stored empty input is legitimately empty).
std::vector<std::uint8_t> compressBytes(std::uint32_t method, const void* data, std::size_t size);

struct TilesFileOptions {
  std::uint32_t compression = kMethodDeflate;
  DigestMode digest = DigestMode::Correct;
  bool extraBlock = false;            // flags bit 1 and its 16 bytes
  std::uint32_t extraFlags = 0;       // further bits OR'ed into the flags (to make refused headers)
  std::vector<std::uint8_t> trailing; // bytes after the stream
  std::optional<std::uint32_t> compressionField; // header value instead of `compression`
  std::optional<TileCounts> countsField;         // header counts instead of the content's

  // Chained setters: TilesFileOptions{}.method(kMethodLZMA).withDigest(DigestMode::Wrong)
  TilesFileOptions& method(std::uint32_t m) { return compression = m, *this; }
  TilesFileOptions& withDigest(DigestMode d) { return digest = d, *this; }
  TilesFileOptions& withExtraBlock() { return extraBlock = true, *this; }
  TilesFileOptions& withTrailing(std::vector<std::uint8_t> bytes) {
    return trailing = std::move(bytes), *this;
  }
};

std::vector<std::uint8_t> tilesFileBytes(const TilesContent& content, const TilesFileOptions& options = {});
bool writeTilesFixture(const std::string& path, const TilesContent& content,
                       const TilesFileOptions& options = {});

// A screen as the recorder writes it: a grid, sprites, both or neither.
struct ScreenContent {
  std::uint16_t width = 256;
  std::uint16_t height = 224;
  bool grid = false; // set by setCell
  std::vector<ScreenCell> cells = std::vector<ScreenCell>(kScreenCellCount, ScreenCell{});
  std::vector<SpriteRecord> sprites;
  std::optional<bool> spritesFlag; // flags bit 3; by default set when there are sprites

  void setCell(int row, int column, const PaletteEntry& palette, const PatternEntry& pattern,
               std::uint16_t nameWord = 0);
  void setCell(int row, int column, const TilesContent& tiles, std::uint32_t palette, std::uint32_t pattern,
               std::uint16_t nameWord = 0);
  // A one-tile sprite, or with a lower tile when `lower` is given.
  void addSprite(std::uint8_t x, std::uint8_t y, const PaletteEntry& palette, const PatternEntry& pattern);
  void addSprite(std::uint8_t x, std::uint8_t y, const TilesContent& tiles, std::uint32_t palette,
                 std::uint32_t pattern);
  void addTallSprite(std::uint8_t x, std::uint8_t y, const TilesContent& tiles, std::uint32_t palette,
                     std::uint32_t pattern, std::uint32_t palette2, std::uint32_t pattern2);

  bool hasSprites() const { return spritesFlag.value_or(!sprites.empty()); }
  std::uint32_t flags() const; // grid and sprite bits
  std::vector<std::uint8_t> payload() const;
};

struct ScreenFileOptions {
  std::uint32_t compression = kMethodStored;
  DigestMode digest = DigestMode::Correct;
  bool extraBlock = false;
  std::uint32_t extraFlags = 0;
  std::vector<std::uint8_t> trailing;
  std::optional<std::uint32_t> compressionField;
  std::optional<std::uint32_t> spriteCountField; // header value instead of the record count
  std::uint32_t reserved24 = 0;
  std::uint32_t reserved28 = 0;

  ScreenFileOptions& method(std::uint32_t m) { return compression = m, *this; }
  ScreenFileOptions& withDigest(DigestMode d) { return digest = d, *this; }
  ScreenFileOptions& withExtraBlock() { return extraBlock = true, *this; }
  ScreenFileOptions& withTrailing(std::vector<std::uint8_t> bytes) {
    return trailing = std::move(bytes), *this;
  }
};

std::vector<std::uint8_t> screenFileBytes(const ScreenContent& content,
                                          const ScreenFileOptions& options = {});
bool writeScreenFixture(const std::string& path, const ScreenContent& content,
                        const ScreenFileOptions& options = {});

bool writeBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);

} // namespace zelvo::test
