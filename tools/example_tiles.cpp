// Writes the bundled example tiles file: a small synthetic catalogue of palettes, patterns and
// tile entries in all nine groups, made from simple shapes. The output is the same on every run.
//
//   zelvo_example_tiles examples/game/game.mstiles
#include "platform/file.h"
#include "tiles/tile_store.h"
#include "tiles/tiles_file.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

using namespace zelvo;

// A colour code: 2 bits each of red, green and blue (--BBGGRR).
constexpr std::uint8_t rgb(int r, int g, int b) { return std::uint8_t(r | (g << 2) | (b << 4)); }

// 8x8 colour indexes, top row first.
using Pixels = std::uint8_t[8][8];

PatternEntry encode(const Pixels& pixels) {
  PatternEntry p{};
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x)
      for (int plane = 0; plane < 4; ++plane)
        if ((pixels[y][x] >> plane) & 1) p.planes[y * 4 + plane] |= std::uint8_t(0x80 >> x);
  return p;
}

template <class F> PatternEntry shape(F colourAt) {
  Pixels px;
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) px[y][x] = std::uint8_t(colourAt(x, y) & 15);
  return encode(px);
}

// Small deterministic generator for the order keys.
std::uint64_t next(std::uint64_t& state) {
  state = state * 6364136223846793005ull + 1442695040888963407ull;
  return state >> 33;
}

} // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT.mstiles\n", argv[0]);
    return 2;
  }

  std::vector<PaletteEntry> palettes;
  auto palette = [&](std::initializer_list<std::uint8_t> colours) {
    PaletteEntry p{};
    int i = 0;
    for (std::uint8_t c : colours) p.colours[i++] = c;
    palettes.push_back(p);
  };
  // Meadow, sky, stone and a sprite palette whose colour 0 is the transparent one.
  palette({rgb(0, 0, 0), rgb(0, 1, 0), rgb(0, 2, 0), rgb(0, 3, 0), rgb(1, 3, 0), rgb(2, 3, 1), rgb(1, 1, 0),
           rgb(2, 1, 0), rgb(3, 2, 1), rgb(3, 3, 0), rgb(3, 3, 2), rgb(3, 3, 3), rgb(1, 2, 0), rgb(0, 2, 1),
           rgb(2, 2, 0), rgb(1, 0, 0)});
  palette({rgb(0, 0, 1), rgb(0, 0, 2), rgb(0, 1, 2), rgb(0, 1, 3), rgb(1, 2, 3), rgb(2, 2, 3), rgb(2, 3, 3),
           rgb(3, 3, 3), rgb(1, 1, 2), rgb(2, 2, 2), rgb(3, 3, 2), rgb(0, 2, 3), rgb(0, 3, 3), rgb(1, 3, 3),
           rgb(2, 3, 2), rgb(0, 0, 0)});
  palette({rgb(0, 0, 0), rgb(1, 1, 1), rgb(2, 2, 2), rgb(3, 3, 3), rgb(1, 1, 0), rgb(2, 2, 1), rgb(1, 0, 0),
           rgb(2, 1, 1), rgb(3, 2, 2), rgb(1, 1, 2), rgb(2, 2, 3), rgb(0, 1, 1), rgb(1, 2, 2), rgb(3, 3, 2),
           rgb(2, 1, 0), rgb(3, 2, 1)});
  palette({rgb(0, 0, 0), rgb(3, 0, 0), rgb(3, 2, 0), rgb(3, 3, 0), rgb(3, 3, 3), rgb(0, 0, 3), rgb(0, 2, 3),
           rgb(2, 1, 0), rgb(3, 2, 2), rgb(1, 0, 0), rgb(0, 3, 0), rgb(2, 0, 2), rgb(3, 0, 3), rgb(1, 1, 1),
           rgb(2, 2, 2), rgb(0, 1, 0)});

  std::vector<PatternEntry> patterns;
  for (int c = 0; c < 16; ++c) patterns.push_back(shape([c](int, int) { return c; })); // solid
  patterns.push_back(shape([](int x, int y) { return (x + y) % 2 ? 3 : 1; }));         // checker
  patterns.push_back(shape([](int, int y) { return 1 + y / 2; }));                     // bands
  patterns.push_back(shape([](int x, int) { return 4 + x / 2; }));                     // stripes
  patterns.push_back(shape([](int x, int y) { return x == y ? 11 : x > y ? 2 : 1; })); // diagonal
  patterns.push_back(
      shape([](int x, int y) { return x == 0 || y == 0 || x == 7 || y == 7 ? 9 : 5; })); // frame
  patterns.push_back(shape([](int x, int y) {                                            // disc
    const int dx = 2 * x - 7, dy = 2 * y - 7;
    return dx * dx + dy * dy < 40 ? 3 : 0;
  }));
  patterns.push_back(shape([](int x, int y) { return (x * 3 + y * 5) % 7 == 0 ? 10 : 2; })); // speckles
  patterns.push_back(shape([](int x, int y) {
    return y == 7 - x / 2 ? 12 : y > 7 - x / 2 ? 6 : 0;
  })); // slope
  patterns.push_back(
      shape([](int x, int y) { return (y == 2 || y == 5) && x > 0 && x < 7 ? 4 : 0; })); // bars
  patterns.push_back(
      shape([](int x, int y) { return std::abs(x - 3) + std::abs(y - 3) <= 3 ? 1 + (x + y) % 3 : 0; }));

  std::uint64_t seed = 2024;
  for (PaletteEntry& p : palettes) {
    p.orderKeyMajor = next(seed) % 4;
    p.orderKeyMinor = next(seed);
  }
  for (PatternEntry& p : patterns) {
    p.orderKeyMajor = next(seed) % 4;
    p.orderKeyMinor = next(seed);
  }

  // Backgrounds in the first three palettes, sprites in the last; fewer flipped and priority tiles.
  std::vector<TileEntry> groups[kGroupCount];
  const std::uint32_t patternCount = std::uint32_t(patterns.size());
  for (int g = 0; g < kGroupCount; ++g) {
    const int n = g == 0 ? 40 : g == kSpriteGroup ? 24 : 12 - g;
    for (int i = 0; i < n; ++i) {
      TileEntry e{};
      e.paletteIndex = g == kSpriteGroup ? 3 : std::uint32_t((i + g) % 3);
      e.patternIndex = std::uint32_t((i * 7 + g * 3) % patternCount);
      e.orderKeyMajor = next(seed) % 8;
      e.orderKeyMinor = next(seed);
      groups[g].push_back(e);
    }
  }

  TileCounts counts;
  counts.palettes = std::uint32_t(palettes.size());
  counts.patterns = patternCount;
  for (int g = 0; g < kGroupCount; ++g) counts.groups[g] = std::uint32_t(groups[g].size());
  std::uint32_t size = 0;
  payloadSizeOf(counts, size);
  std::unique_ptr<std::uint8_t[]> block(new std::uint8_t[size]);
  std::uint8_t* p = block.get();
  auto append = [&p](const void* data, std::size_t bytes) {
    std::memcpy(p, data, bytes);
    p += bytes;
  };
  append(palettes.data(), palettes.size() * sizeof(PaletteEntry));
  append(patterns.data(), patterns.size() * sizeof(PatternEntry));
  for (const auto& g : groups) append(g.data(), g.size() * sizeof(TileEntry));

  std::unique_ptr<TileSet> set = createTileSet();
  installTileBlock(*set, std::move(block), counts);
  File file = File::create(argv[1]);
  if (!file || !writeTilesFile(*set, file) || !file.close()) {
    std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[1]);
    return 1;
  }
  return 0;
}
