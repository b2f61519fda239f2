// Writers of made-up game material for the bundled example and the benchmarks: a tile catalogue,
// screen files, images painted over the screens the way an artist would, and a ROM image. None of
// it comes from a real game.
#pragma once

#include "render/rgba_image.h"
#include "tiles/tile_store.h"

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace zelvo::synth {

// A background cell as the screen file stores it: the colours and pattern it was drawn with.
struct Cell {
  std::uint8_t colours[16] = {};
  std::uint8_t planes[32] = {};
  std::uint16_t nameWord = 0;
  bool visible = false; // false: the cell shows nothing the tiles file knows (left black)
};

struct Sprite {
  std::uint8_t colours[16] = {};
  std::uint8_t planes[32] = {};
  std::uint8_t colours2[16] = {};
  std::uint8_t planes2[32] = {};
  bool tall = false; // a lower tile lies beneath the upper one
  std::uint8_t x = 0;
  std::uint8_t y = 0; // the console's line value: the upper tile starts on line y + 1
};

struct Screen {
  std::uint16_t width = 256;
  std::uint16_t height = 192;
  bool hasGrid = false;
  Cell grid[28][32];
  std::vector<Sprite> sprites;
};

// Every palette, pattern and tile entry of a game, in the recorder's order, with order keys.
struct Catalogue {
  std::vector<PaletteEntry> palettes;
  std::vector<PatternEntry> patterns;
  std::vector<TileEntry> groups[kGroupCount];

  std::uint32_t addPalette(const std::uint8_t colours[16], std::uint64_t major, std::uint64_t minor);
  std::uint32_t addPattern(const std::uint8_t planes[32], std::uint64_t major, std::uint64_t minor);
  void addEntry(int group, std::uint32_t palette, std::uint32_t pattern, std::uint64_t major,
                std::uint64_t minor);
  std::uint32_t entryCount() const;
};

// Writes the catalogue as a tiles file (the system's own writer).
bool writeCatalogue(const std::string& path, const Catalogue& catalogue);
// Writes a screen file with an MD5 digest and a raw deflate payload.
bool writeScreen(const std::string& path, const Screen& screen);
// A ROM image of `size` bytes (at least 32 KiB) with the "TMR SEGA" header at 0x7FF0.
std::vector<std::uint8_t> makeRom(std::size_t size, std::uint32_t seed);
bool writeBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);

// The 32-bit pixel (bytes blue, green, red, alpha) of a Master System colour byte.
std::uint32_t colourPixel(std::uint8_t colour, std::uint8_t alpha = 0xFF);
// Colour number 0 to 15 of pixel (x, y) of a planar pattern, top row first.
int colourNumber(const std::uint8_t planes[32], int x, int y);
// Sets pixel (x, y) of a planar pattern to colour number `n`.
void setColourNumber(std::uint8_t planes[32], int x, int y, int n);

// How an artist went over an exported screen: every tile is drawn enlarged pixel by pixel, then
// the brush works on it.
struct Brush {
  std::uint32_t seed = 1;
  int shading = 24;       // strength of a diagonal light across every tile, 0 for none
  bool outline = true;    // dark edges where colours meet
  int untouchedEvery = 5; // every n-th tile (by content) is left as the plain enlargement; 0 never
};

// The image an artist painted over `screen` at `scale`: the visible grid (plain cells opaque,
// priority cells transparent at colour 0), or the sprites on a transparent ground.
Result<RgbaImage> paintScreen(const Screen& screen, int scale, const Brush& brush);

// A deterministic random source for the generators.
using Random = std::mt19937;

// The size of a made-up large game.
struct LargeGameSize {
  std::uint32_t palettes = 200;
  std::uint32_t patterns = 8000;
  std::uint32_t entries = 20000; // over the nine groups, most of them in group 0 and the sprites
  std::uint32_t screens = 300;   // one in ten shows sprites only
};

// Writes into `folder` a tiles file "game.mstiles", the screen files "screenNNN.msscreen" and
// for each an image painted at `scale` ("screenNNN.png", one in five as a BMP with an "_alpha"
// BMP), plus "game.sms" (a 256 KiB ROM image). Every image differs from the generated tiles
// in most of its tiles.
bool writeLargeGame(const std::string& folder, int scale, const LargeGameSize& size, std::uint32_t seed);

} // namespace zelvo::synth
