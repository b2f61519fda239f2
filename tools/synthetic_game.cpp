#include "synthetic_game.h"

#include "compress/md5.h"
#include "compress/streams.h"
#include "platform/byte_io.h"
#include "platform/file.h"
#include "platform/fs.h"
#include "render/image_save.h"
#include "render/scale.h"
#include "tiles/tiles_file.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace zelvo::synth {

std::uint32_t Catalogue::addPalette(const std::uint8_t colours[16], std::uint64_t major,
                                    std::uint64_t minor) {
  PaletteEntry p{};
  std::memcpy(p.colours, colours, 16);
  p.orderKeyMajor = major;
  p.orderKeyMinor = minor;
  palettes.push_back(p);
  return std::uint32_t(palettes.size() - 1);
}

std::uint32_t Catalogue::addPattern(const std::uint8_t planes[32], std::uint64_t major, std::uint64_t minor) {
  PatternEntry p{};
  std::memcpy(p.planes, planes, 32);
  p.orderKeyMajor = major;
  p.orderKeyMinor = minor;
  patterns.push_back(p);
  return std::uint32_t(patterns.size() - 1);
}

void Catalogue::addEntry(int group, std::uint32_t palette, std::uint32_t pattern, std::uint64_t major,
                         std::uint64_t minor) {
  groups[group].push_back(TileEntry{palette, pattern, minor, major});
}

std::uint32_t Catalogue::entryCount() const {
  std::uint32_t n = 0;
  for (const auto& g : groups) n += std::uint32_t(g.size());
  return n;
}

bool writeCatalogue(const std::string& path, const Catalogue& catalogue) {
  TileCounts counts;
  counts.palettes = std::uint32_t(catalogue.palettes.size());
  counts.patterns = std::uint32_t(catalogue.patterns.size());
  for (int g = 0; g < kGroupCount; ++g) counts.groups[g] = std::uint32_t(catalogue.groups[g].size());
  std::uint32_t size = 0;
  if (!payloadSizeOf(counts, size)) return false;
  std::unique_ptr<std::uint8_t[]> block(size ? new std::uint8_t[size] : nullptr);
  std::uint8_t* p = block.get();
  auto append = [&p](const void* data, std::size_t bytes) {
    if (bytes) std::memcpy(p, data, bytes);
    p += bytes;
  };
  append(catalogue.palettes.data(), catalogue.palettes.size() * sizeof(PaletteEntry));
  append(catalogue.patterns.data(), catalogue.patterns.size() * sizeof(PatternEntry));
  for (const auto& g : catalogue.groups) append(g.data(), g.size() * sizeof(TileEntry));
  auto set = createTileSet();
  installTileBlock(*set, std::move(block), counts);
  Result<File> file = File::create(path);
  return file && writeTilesFile(*set, *file) && file->close();
}

bool writeScreen(const std::string& path, const Screen& screen) {
  constexpr std::size_t kCell = 64, kSprite = 100, kGrid = 32 * 28 * kCell;
  std::vector<std::uint8_t> payload((screen.hasGrid ? kGrid : 0) + screen.sprites.size() * kSprite, 0);
  std::uint8_t* p = payload.data();
  if (screen.hasGrid) {
    for (int r = 0; r < 28; ++r) {
      for (int c = 0; c < 32; ++c, p += kCell) {
        const Cell& cell = screen.grid[r][c];
        std::memcpy(p, cell.colours, 16);
        std::memcpy(p + 16, cell.planes, 32);
        storeLE16(p + 48, cell.nameWord);
      }
    }
  }
  for (const Sprite& s : screen.sprites) {
    std::memcpy(p, s.colours, 16);
    std::memcpy(p + 16, s.planes, 32);
    std::memcpy(p + 48, s.colours2, 16);
    std::memcpy(p + 64, s.planes2, 32);
    p[96] = s.tall ? 2 : 0;
    p[98] = s.x;
    p[99] = s.y;
    p += kSprite;
  }

  std::uint32_t flags = 1; // digest present
  if (screen.hasGrid) flags |= 4;
  if (!screen.sprites.empty()) flags |= 8;
  std::uint8_t header[32] = {};
  ByteWriter w(header, sizeof header);
  w.bytes("MSSCREN", 8);
  w.u32(flags);
  w.u32(std::uint32_t(screen.sprites.size()));
  w.u16(screen.width);
  w.u16(screen.height);
  w.u32(kMethodDeflate);
  const Md5Digest digest = md5Of(payload.data(), payload.size());

  Result<File> file = File::create(path);
  if (!file || !file->writeAll(header, sizeof header) || !file->writeAll(digest.data(), digest.size()))
    return false;
  CDeflateCompressor compressor;
  return compressor.Write(*file, payload.data(), payload.size()) && compressor.Finish(*file) && file->close();
}

std::vector<std::uint8_t> makeRom(std::size_t size, std::uint32_t seed) {
  std::vector<std::uint8_t> rom(std::max<std::size_t>(size, 0x8000), 0xFF);
  Random random(seed);
  // Something that looks like code and data: short runs of bytes from a small alphabet.
  for (std::size_t i = 0; i < rom.size(); ++i) rom[i] = std::uint8_t(random() % 7 == 0 ? random() : i >> 4);
  std::memcpy(rom.data() + 0x7FF0, "TMR SEGA", 8);
  rom[0x7FFA] = 0x00; // checksum, product code and version: left blank
  rom[0x7FFF] = 0x4C; // Master System export, 32 KiB
  return rom;
}

bool writeBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  Result<File> file = File::create(path);
  return file && file->writeAll(bytes.data(), bytes.size()) && file->close();
}

std::uint32_t colourPixel(std::uint8_t colour, std::uint8_t alpha) {
  const std::uint32_t r = (colour & 3) * 0x55u, g = ((colour >> 2) & 3) * 0x55u,
                      b = ((colour >> 4) & 3) * 0x55u;
  return (std::uint32_t(alpha) << 24) | (r << 16) | (g << 8) | b;
}

int colourNumber(const std::uint8_t planes[32], int x, int y) {
  const std::uint8_t* row = planes + 4 * y;
  const int bit = 7 - x;
  return ((row[0] >> bit) & 1) | (((row[1] >> bit) & 1) << 1) | (((row[2] >> bit) & 1) << 2) |
         (((row[3] >> bit) & 1) << 3);
}

void setColourNumber(std::uint8_t planes[32], int x, int y, int n) {
  std::uint8_t* row = planes + 4 * y;
  const std::uint8_t mask = std::uint8_t(0x80 >> x);
  for (int k = 0; k < 4; ++k) row[k] = std::uint8_t((n >> k) & 1 ? row[k] | mask : row[k] & ~mask);
}

namespace {

// The 8x8 tile as shown (after its flip), top row first.
void drawTile(const std::uint8_t colours[16], const std::uint8_t planes[32], std::uint16_t flip,
              bool zeroClear, std::uint32_t out[64]) {
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 8; ++x) {
      const int px = (flip & 0x200) ? 7 - x : x, py = (flip & 0x400) ? 7 - y : y;
      const int n = colourNumber(planes, px, py);
      out[y * 8 + x] = colourPixel(n == 0 ? colours[0] : colours[n], n == 0 && zeroClear ? 0 : 0xFF);
    }
  }
}

// The enlargement the build makes of a tile, top row first.
std::vector<std::uint32_t> enlarge(const std::uint32_t tile[64], int scale) {
  std::uint32_t block[64]; // bottom row first, as the tile decoders draw
  for (int y = 0; y < 8; ++y) std::memcpy(block + 8 * (7 - y), tile + 8 * y, 32);
  std::vector<std::uint32_t> out(std::size_t(64) * scale * scale);
  enlargeTileBlock(reinterpret_cast<const std::uint8_t*>(block), std::uint32_t(scale),
                   reinterpret_cast<std::uint8_t*>(out.data()));
  return out;
}

std::uint32_t contentHash(const std::uint8_t* colours, const std::uint8_t* planes, std::uint16_t flip) {
  std::uint32_t h = 2166136261u ^ flip;
  for (int i = 0; i < 16; ++i) h = (h ^ colours[i]) * 16777619u;
  for (int i = 0; i < 32; ++i) h = (h ^ planes[i]) * 16777619u;
  return h;
}

std::uint8_t clampByte(int v) { return std::uint8_t(std::clamp(v, 0, 255)); }

// What the artist makes of one tile at `scale`, top row first.
std::vector<std::uint32_t> paintTile(const std::uint8_t* colours, const std::uint8_t* planes,
                                     std::uint16_t flip, bool zeroClear, int scale, const Brush& brush) {
  std::uint32_t small[64];
  drawTile(colours, planes, flip, zeroClear, small);
  const std::uint32_t hash = contentHash(colours, planes, flip) ^ brush.seed;
  if (brush.untouchedEvery > 0 && hash % std::uint32_t(brush.untouchedEvery) == 0)
    return enlarge(small, scale);

  const int edge = 8 * scale;
  std::vector<std::uint32_t> big(std::size_t(edge) * edge);
  for (int y = 0; y < edge; ++y) {
    for (int x = 0; x < edge; ++x) {
      const int sx = x / scale, sy = y / scale;
      std::uint32_t p = small[sy * 8 + sx];
      const std::uint8_t alpha = std::uint8_t(p >> 24);
      int b = int(p & 0xFF), g = int((p >> 8) & 0xFF), r = int((p >> 16) & 0xFF);
      if (alpha != 0) {
        // light from the top left
        const int light = brush.shading * (edge - x - y) / edge;
        b += light, g += light, r += light;
        if (brush.outline) {
          const bool edgeRight = sx < 7 && x % scale == scale - 1 && small[sy * 8 + sx + 1] != p;
          const bool edgeBelow = sy < 7 && y % scale == scale - 1 && small[(sy + 1) * 8 + sx] != p;
          if (edgeRight || edgeBelow) b /= 2, g /= 2, r /= 2;
        }
      }
      big[std::size_t(y) * edge + x] = (std::uint32_t(alpha) << 24) | (std::uint32_t(clampByte(r)) << 16) |
                                       (std::uint32_t(clampByte(g)) << 8) | clampByte(b);
    }
  }
  return big;
}

// Puts a square tile (0xAARRGGBB words, top row first) at (left, top) counted from the image's
// top; parts outside the image are cut off. As in the export, a later sprite's whole square
// replaces what lies beneath it.
void putTile(RgbaImage& image, const std::vector<std::uint32_t>& tile, int edge, int left, int top) {
  for (int y = 0; y < edge; ++y) {
    const int iy = top + y;
    if (iy < 0 || iy >= int(image.height)) continue;
    for (int x = 0; x < edge; ++x) {
      const int ix = left + x;
      if (ix < 0 || ix >= int(image.width)) continue;
      const std::uint32_t word = tile[std::size_t(y) * edge + x];
      std::uint8_t* pixel = image.at(std::uint32_t(ix), std::uint32_t(iy));
      pixel[0] = std::uint8_t(word >> 16);
      pixel[1] = std::uint8_t(word >> 8);
      pixel[2] = std::uint8_t(word);
      pixel[3] = std::uint8_t(word >> 24);
    }
  }
}

} // namespace

Result<RgbaImage> paintScreen(const Screen& screen, int scale, const Brush& brush) {
  const int edge = 8 * scale;
  if (screen.hasGrid) {
    const int columns = (screen.width + 7) / 8, first = 32 - columns, rows = screen.height / 8;
    Result<RgbaImage> image =
        makeRgbaImage(std::uint32_t(screen.width * scale), std::uint32_t(screen.height * scale));
    if (!image) return image;
    for (int r = 0; r < rows; ++r) {
      for (int c = first; c < 32; ++c) {
        const Cell& cell = screen.grid[r][c];
        std::vector<std::uint32_t> tile;
        if (cell.visible) {
          tile = paintTile(cell.colours, cell.planes, cell.nameWord & 0x600, (cell.nameWord & 0x1000) != 0,
                           scale, brush);
        } else {
          tile.assign(std::size_t(edge) * edge, 0); // black, alpha 0: nothing known was drawn here
        }
        putTile(*image, tile, edge, (c - first) * edge, r * edge);
      }
    }
    return image;
  }
  Result<RgbaImage> image = makeRgbaImage(256 * std::uint32_t(scale), 224 * std::uint32_t(scale));
  if (!image) return image;
  for (const Sprite& s : screen.sprites) {
    const int x = s.x >= 248 ? 248 : s.x;
    const int y = s.y >= 215 ? 216 : s.y;
    const int y2 = s.y >= 207 ? 216 : s.y;
    putTile(*image, paintTile(s.colours, s.planes, 0, true, scale, brush), edge, x * scale, y * scale + 1);
    if (s.tall)
      putTile(*image, paintTile(s.colours2, s.planes2, 0, true, scale, brush), edge, x * scale,
              y2 * scale + 1 + edge);
  }
  return image;
}

namespace {

// A pattern that looks drawn: a few colours in runs and blobs rather than noise.
void randomPattern(Random& random, std::uint8_t planes[32]) {
  const int base = int(random() % 16), accent = int(random() % 16), style = int(random() % 4);
  std::memset(planes, 0, 32);
  for (int y = 0; y < 8; ++y) {
    int run = int(random() % 8);
    for (int x = 0; x < 8; ++x) {
      int n = base;
      switch (style) {
      case 0:
        n = (x + y + run) % 5 == 0 ? accent : base;
        break; // diagonals
      case 1:
        n = x >= run ? accent : base;
        break; // slopes
      case 2:
        n = ((x ^ y) & 2) ? accent : (random() % 9 == 0 ? 0 : base);
        break; // texture
      default:
        n = int(random() % 4) + (y < 4 ? base % 12 : accent % 12);
        break; // detail
      }
      setColourNumber(planes, x, y, n & 15);
    }
  }
}

bool saveImage(const RgbaImage& image, const std::string& folder, const std::string& base, bool asBmp) {
  if (!asBmp) return saveImageAtomically(image, ImageFormat::Png, joinPath(folder, base + ".png")).ok();
  return saveBmpPair(image, joinPath(folder, base + ".bmp"), joinPath(folder, base + "_alpha.bmp")).ok();
}

} // namespace

bool writeLargeGame(const std::string& folder, int scale, const LargeGameSize& size, std::uint32_t seed) {
  Random random(seed);
  Catalogue catalogue;
  for (std::uint32_t i = 0; i < size.palettes; ++i) {
    std::uint8_t colours[16];
    const int hue = int(random() % 64);
    for (int k = 0; k < 16; ++k) colours[k] = std::uint8_t((hue + k * int(1 + i % 5) + int(i / 64)) & 0x3F);
    colours[0] = std::uint8_t(i & 0x3F);
    colours[15] = std::uint8_t(i >> 6); // every palette differs
    catalogue.addPalette(colours, random() % 4096, random());
  }
  for (std::uint32_t i = 0; i < size.patterns; ++i) {
    std::uint8_t planes[32];
    randomPattern(random, planes);
    catalogue.addPattern(planes, random() % 4096, random());
  }
  // Shares of the nine groups, in thousandths.
  const std::uint32_t shares[kGroupCount] = {400, 60, 50, 30, 120, 30, 25, 15, 270};
  std::uint32_t left = size.entries;
  for (int g = 0; g < kGroupCount && size.palettes && size.patterns; ++g) {
    const std::uint32_t count = g == kGroupCount - 1 ? left : std::min(left, size.entries * shares[g] / 1000);
    left -= count;
    for (std::uint32_t i = 0; i < count; ++i) {
      // a few palettes serve most tiles, as in a game
      const std::uint32_t palette = random() % 3 ? std::uint32_t(random() % std::min(size.palettes, 12u))
                                                 : std::uint32_t(random() % size.palettes);
      catalogue.addEntry(g, palette, std::uint32_t(random() % size.patterns), random() % 4096, random());
    }
  }
  if (!writeCatalogue(joinPath(folder, "game.mstiles"), catalogue)) return false;

  auto setCell = [&](Cell& cell, int group, const TileEntry& e) {
    std::memcpy(cell.colours, catalogue.palettes[e.paletteIndex].colours, 16);
    std::memcpy(cell.planes, catalogue.patterns[e.patternIndex].planes, 32);
    cell.nameWord = std::uint16_t(((group & 3) << 9) | (group >= 4 ? 0x1000 : 0) | (random() & 0x1FF));
    cell.visible = true;
  };
  auto pick = [&](int group) -> const TileEntry& {
    const auto& entries = catalogue.groups[group];
    return entries[random() % entries.size()];
  };
  static Screen screen; // large: kept off the stack
  for (std::uint32_t n = 0; n < size.screens; ++n) {
    screen = Screen();
    if (n % 10 == 9 && !catalogue.groups[kSpriteGroup].empty()) {
      for (int i = 0; i < 48; ++i) {
        Sprite s;
        const TileEntry& upper = pick(kSpriteGroup);
        std::memcpy(s.colours, catalogue.palettes[upper.paletteIndex].colours, 16);
        std::memcpy(s.planes, catalogue.patterns[upper.patternIndex].planes, 32);
        s.tall = i % 2 == 0;
        if (s.tall) {
          const TileEntry& lower = pick(kSpriteGroup);
          std::memcpy(s.colours2, catalogue.palettes[lower.paletteIndex].colours, 16);
          std::memcpy(s.planes2, catalogue.patterns[lower.patternIndex].planes, 32);
        }
        s.x = std::uint8_t(random() % 256);
        s.y = std::uint8_t(random() % 208);
        screen.sprites.push_back(s);
      }
    } else {
      screen.hasGrid = true;
      screen.width = n % 3 == 1 ? 248 : 256;
      screen.height = 192;
      // A screen draws from a part of the catalogue, as a level does.
      for (int r = 0; r < 28; ++r) {
        for (int c = 0; c < 32; ++c) {
          const std::uint32_t roll = random() % 100;
          const int group = roll < 70 ? 0 : roll < 76 ? 1 : roll < 80 ? 2 : roll < 83 ? 3 : int(4 + roll % 4);
          if (catalogue.groups[group].empty()) continue;
          setCell(screen.grid[r][c], group, pick(group));
        }
      }
    }
    char base[32];
    std::snprintf(base, sizeof base, "screen%03u", unsigned(n));
    Brush brush;
    brush.seed = seed + n;
    Result<RgbaImage> image = paintScreen(screen, scale, brush);
    if (!image || !writeScreen(joinPath(folder, std::string(base) + ".msscreen"), screen) ||
        !saveImage(*image, folder, base, n % 5 == 4))
      return false;
  }
  return writeBytes(joinPath(folder, "game.sms"), makeRom(256 * 1024, seed));
}

} // namespace zelvo::synth
