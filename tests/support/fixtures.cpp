#include "support/fixtures.h"
#include "support/temp_dir.h"

#include "compress/md5.h"
#include "platform/file.h"
#include "platform/fs.h"
#include "platform/temp_files.h"
#include "support/lzma_zip.h"
#include "tiles/tiles_file.h"

#include <cstring>

namespace zelvo::test {

namespace {

std::uint64_t splitmix(std::uint64_t& state) {
  std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

void append(std::vector<std::uint8_t>& out, const void* data, std::size_t size) {
  const auto* p = static_cast<const std::uint8_t*>(data);
  out.insert(out.end(), p, p + size);
}

Md5Digest digestFor(DigestMode mode, const std::vector<std::uint8_t>& payload) {
  Md5Digest digest = md5Of(payload.data(), payload.size());
  if (mode == DigestMode::Wrong) digest[5] ^= 0x40;
  return digest;
}

} // namespace

PaletteEntry makePalette(std::uint32_t seed, std::uint64_t major, std::uint64_t minor) {
  PaletteEntry p{};
  // The first six colours spell the seed (6 bits each), so different seeds never collide.
  for (int i = 0; i < 6; ++i) p.colours[i] = std::uint8_t(((seed >> (6 * i)) & 0x3F) ^ (11 * i & 0x3F));
  std::uint64_t state = seed;
  for (int i = 6; i < 16; ++i) p.colours[i] = std::uint8_t(splitmix(state) & 0x3F);
  p.orderKeyMinor = minor;
  p.orderKeyMajor = major;
  return p;
}

PatternEntry makePattern(std::uint32_t seed, std::uint64_t major, std::uint64_t minor) {
  PatternEntry p{};
  for (int i = 0; i < 4; ++i) p.planes[i] = std::uint8_t((seed >> (8 * i)) ^ (0x5A + 37 * i));
  std::uint64_t state = ~std::uint64_t(seed);
  for (int i = 4; i < 32; ++i) p.planes[i] = std::uint8_t(splitmix(state));
  p.orderKeyMinor = minor;
  p.orderKeyMajor = major;
  return p;
}

std::uint32_t TilesContent::addPalette(const PaletteEntry& palette) {
  palettes.push_back(palette);
  return std::uint32_t(palettes.size() - 1);
}
std::uint32_t TilesContent::addPalette(std::uint32_t seed, std::uint64_t major, std::uint64_t minor) {
  return addPalette(makePalette(seed, major, minor));
}
std::uint32_t TilesContent::addPattern(const PatternEntry& pattern) {
  patterns.push_back(pattern);
  return std::uint32_t(patterns.size() - 1);
}
std::uint32_t TilesContent::addPattern(std::uint32_t seed, std::uint64_t major, std::uint64_t minor) {
  return addPattern(makePattern(seed, major, minor));
}
std::uint32_t TilesContent::addEntry(int group, std::uint32_t palette, std::uint32_t pattern,
                                     std::uint64_t major, std::uint64_t minor) {
  groups[group].push_back(TileEntry{palette, pattern, minor, major});
  return std::uint32_t(groups[group].size() - 1);
}

TileCounts TilesContent::counts() const {
  TileCounts counts;
  counts.palettes = std::uint32_t(palettes.size());
  counts.patterns = std::uint32_t(patterns.size());
  for (int g = 0; g < kGroupCount; ++g) counts.groups[g] = std::uint32_t(groups[g].size());
  return counts;
}

std::vector<std::uint8_t> TilesContent::payload() const {
  std::vector<std::uint8_t> out;
  append(out, palettes.data(), palettes.size() * sizeof(PaletteEntry));
  append(out, patterns.data(), patterns.size() * sizeof(PatternEntry));
  for (const auto& g : groups) append(out, g.data(), g.size() * sizeof(TileEntry));
  return out;
}

TilesContent TilesContent::of(const TileSet& set) {
  TilesContent c;
  if (set.paletteCount) c.palettes.assign(set.palettes, set.palettes + set.paletteCount);
  if (set.patternCount) c.patterns.assign(set.patterns, set.patterns + set.patternCount);
  for (int g = 0; g < kGroupCount; ++g)
    if (set.groups[g].count)
      c.groups[g].assign(set.groups[g].entries, set.groups[g].entries + set.groups[g].count);
  return c;
}

std::unique_ptr<TileSet> makeTileSet(const TilesContent& content) {
  std::unique_ptr<TileSet> set = createTileSet();
  if (!set) return nullptr;
  const std::vector<std::uint8_t> payload = content.payload();
  std::unique_ptr<std::uint8_t[]> block;
  if (!payload.empty()) {
    block.reset(new std::uint8_t[payload.size()]);
    std::memcpy(block.get(), payload.data(), payload.size());
  }
  installTileBlock(*set, std::move(block), content.counts());
  return set;
}

std::vector<std::uint8_t> payloadOf(const TileSet& set) { return TilesContent::of(set).payload(); }

std::vector<std::uint8_t> compressBytes(std::uint32_t method, const void* data, std::size_t size) {
  switch (method) {
  case kMethodStored: {
    const auto* p = static_cast<const std::uint8_t*>(data);
    return std::vector<std::uint8_t>(p, p + size);
  }
  case kMethodLZMA:
    return lzmaZipEncode(data, size);
  case kMethodDeflate:
  case kMethodBZip2:
    break;
  default:
    return {};
  }
  Result<File> scratch = createScratchFile();
  if (!scratch) return {};
  File& file = *scratch;
  std::unique_ptr<ICompressor> compressor;
  if (method == kMethodDeflate)
    compressor.reset(new CDeflateCompressor);
  else
    compressor.reset(new CBZip2Compressor);
  // Finish without a Write writes nothing at all; an empty Write first makes an empty stream.
  if (!compressor->Write(file, data, size) || !compressor->Finish(file)) return {};
  std::uint64_t length = 0;
  if (!test::into(file.position(), length) || !file.seek(0)) return {};
  std::vector<std::uint8_t> out(length);
  if (!file.readExact(out.data(), out.size())) return {};
  return out;
}

std::vector<std::uint8_t> tilesFileBytes(const TilesContent& content, const TilesFileOptions& options) {
  const std::vector<std::uint8_t> payload = content.payload();
  const TileCounts counts = options.countsField.value_or(content.counts());
  TilesFileHeader header{};
  std::memcpy(header.magic, kTilesMagic, sizeof kTilesMagic);
  header.flags = (options.digest != DigestMode::Absent ? kTilesFlagDigest : 0u) |
                 (options.extraBlock ? kTilesFlagExtraBlock : 0u) | options.extraFlags;
  header.paletteCount = counts.palettes;
  header.patternCount = counts.patterns;
  for (int g = 0; g < kGroupCount; ++g) header.groupCounts[g] = counts.groups[g];
  header.compression = options.compressionField.value_or(options.compression);

  std::vector<std::uint8_t> out;
  append(out, &header, sizeof header);
  if (options.digest != DigestMode::Absent) {
    const Md5Digest digest = digestFor(options.digest, payload);
    append(out, digest.data(), digest.size());
  }
  if (options.extraBlock) {
    const std::uint8_t unused[16] = {0xEE, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 0xEF};
    append(out, unused, sizeof unused);
  }
  const std::vector<std::uint8_t> stream = compressBytes(options.compression, payload.data(), payload.size());
  append(out, stream.data(), stream.size());
  append(out, options.trailing.data(), options.trailing.size());
  return out;
}

bool writeBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  File file = test::opened(File::create(path));
  return file && file.writeAll(bytes.data(), bytes.size()) && file.close();
}

bool writeTilesFixture(const std::string& path, const TilesContent& content,
                       const TilesFileOptions& options) {
  return writeBytes(path, tilesFileBytes(content, options));
}

void ScreenContent::setCell(int row, int column, const PaletteEntry& palette, const PatternEntry& pattern,
                            std::uint16_t nameWord) {
  grid = true;
  ScreenCell& cell = cells.at(std::size_t(row * kScreenColumns + column));
  std::memcpy(cell.palette, palette.colours, 16);
  std::memcpy(cell.pattern, pattern.planes, 32);
  cell.nameWord = nameWord;
}

void ScreenContent::setCell(int row, int column, const TilesContent& tiles, std::uint32_t palette,
                            std::uint32_t pattern, std::uint16_t nameWord) {
  setCell(row, column, tiles.palettes.at(palette), tiles.patterns.at(pattern), nameWord);
}

void ScreenContent::addSprite(std::uint8_t x, std::uint8_t y, const PaletteEntry& palette,
                              const PatternEntry& pattern) {
  SpriteRecord s{};
  std::memcpy(s.palette, palette.colours, 16);
  std::memcpy(s.pattern, pattern.planes, 32);
  s.x = x;
  s.y = y;
  sprites.push_back(s);
}

void ScreenContent::addSprite(std::uint8_t x, std::uint8_t y, const TilesContent& tiles,
                              std::uint32_t palette, std::uint32_t pattern) {
  addSprite(x, y, tiles.palettes.at(palette), tiles.patterns.at(pattern));
}

void ScreenContent::addTallSprite(std::uint8_t x, std::uint8_t y, const TilesContent& tiles,
                                  std::uint32_t palette, std::uint32_t pattern, std::uint32_t palette2,
                                  std::uint32_t pattern2) {
  addSprite(x, y, tiles, palette, pattern);
  SpriteRecord& s = sprites.back();
  std::memcpy(s.palette2, tiles.palettes.at(palette2).colours, 16);
  std::memcpy(s.pattern2, tiles.patterns.at(pattern2).planes, 32);
  s.flags |= kSpriteTall;
}

std::uint32_t ScreenContent::flags() const {
  return (grid ? kScreenFlagGrid : 0u) | (hasSprites() ? kScreenFlagSprites : 0u);
}

std::vector<std::uint8_t> ScreenContent::payload() const {
  std::vector<std::uint8_t> out;
  if (grid) append(out, cells.data(), cells.size() * sizeof(ScreenCell));
  if (hasSprites()) append(out, sprites.data(), sprites.size() * sizeof(SpriteRecord));
  return out;
}

std::vector<std::uint8_t> screenFileBytes(const ScreenContent& content, const ScreenFileOptions& options) {
  const std::vector<std::uint8_t> payload = content.payload();
  ScreenFileHeader header{};
  std::memcpy(header.magic, kScreenMagic, sizeof kScreenMagic);
  header.flags = content.flags() | (options.digest != DigestMode::Absent ? kScreenFlagDigest : 0u) |
                 (options.extraBlock ? kScreenFlagExtraBlock : 0u) | options.extraFlags;
  header.spriteCount = options.spriteCountField.value_or(std::uint32_t(content.sprites.size()));
  header.width = content.width;
  header.height = content.height;
  header.compression = options.compressionField.value_or(options.compression);
  header.reserved[0] = options.reserved24;
  header.reserved[1] = options.reserved28;

  std::vector<std::uint8_t> out;
  append(out, &header, sizeof header);
  if (options.digest != DigestMode::Absent) {
    const Md5Digest digest = digestFor(options.digest, payload);
    append(out, digest.data(), digest.size());
  }
  if (options.extraBlock) {
    const std::uint8_t unused[16] = {0xAB};
    append(out, unused, sizeof unused);
  }
  const std::vector<std::uint8_t> stream = compressBytes(options.compression, payload.data(), payload.size());
  append(out, stream.data(), stream.size());
  append(out, options.trailing.data(), options.trailing.size());
  return out;
}

bool writeScreenFixture(const std::string& path, const ScreenContent& content,
                        const ScreenFileOptions& options) {
  return writeBytes(path, screenFileBytes(content, options));
}

} // namespace zelvo::test
