// How much of a game is painted: tile entries and the cells that show them, per screen, and the
// screens that would cover the most of what is left. Counted as the build applies its screens,
// by its own rules (a square left as exported is not paint).
#pragma once

#include "pipeline/tile_replace.h"

#include <cstdint>
#include <string>
#include <vector>

namespace zelvo {

// What a square of a screen shows: a tile this screen paints, one another screen paints, or one
// no screen paints.
enum class SquareKind : std::uint8_t { PaintedHere, PaintedElsewhere, Unpainted };

// Where a square lies on the screen's image at the coverage's scale (its top-left corner; it may
// lie partly outside, as the leftmost column of a screen narrower than the grid), and what it shows.
struct CoverageSquare {
  std::int32_t left = 0;
  std::int32_t top = 0;
  SquareKind kind = SquareKind::Unpainted;
};

struct ScreenCoverage {
  std::string screen;
  std::size_t paintedHere = 0;         // squares (cells, sprite tiles) this screen's image paints
  std::size_t paintedElsewhere = 0;    // squares whose tile another screen paints
  std::size_t unpainted = 0;           // squares whose tile no screen paints
  std::vector<CoverageSquare> squares; // every square counted, in the order the build applies them
};

struct NextScreen {
  std::string screen;
  std::size_t unpaintedTiles = 0; // tile entries its painting would add, after the screens before it
};

struct Coverage {
  std::size_t tilesTotal = 0;   // tile entries of the tiles file
  std::size_t tilesPainted = 0; // of those, the ones whose stored tile some screen paints
  std::size_t cellsTotal = 0;   // squares of every screen that resolve to an entry
  std::size_t cellsPainted = 0; // of those, the ones whose tile some screen paints
  std::uint32_t squareEdge = 0; // the edge of a square in pixels: 8 times the scale
  std::vector<ScreenCoverage> screens;
  std::vector<NextScreen> next; // chosen greedily, best first
};

// Gathers every screen's squares as they are applied, then counts.
class CoverageCounter {
public:
  // The squares of one screen (none when it could not be read); `painted` tells whether its image
  // was applied, so that its squares that are not as exported count as painted here.
  void addScreen(const std::string& name, const HiResTileTable& table, const PreparedScreen& screen,
                 bool painted);
  // The counts once every screen was added: `ledger` says which stored tiles were painted.
  // At most `nextCount` screens are proposed.
  Coverage finish(const HiResTileTable& table, const PaintLedger& ledger, std::size_t nextCount = 10) const;

private:
  struct Square {
    std::uint32_t offset;
    bool here;
    std::int32_t left, top;
  };
  struct Screen {
    std::string name;
    std::vector<Square> squares;
  };
  std::vector<Screen> screens_;
};

// The coverage of the capture folder `folder` at `scale` (1 to 4), counted as a build of it counts
// it, with `threads` workers (0: one per core). Fails as the build's first stages would, the error
// giving the build's line and its reason, or when `progress` asks to stop.
Result<Coverage> countFolderCoverage(const std::string& folder, int scale, unsigned threads = 0,
                                     ProgressSink* progress = nullptr);

// "15,054 of 20,000 tile entries painted (75 %)"
std::string coverageText(const Coverage& coverage);
// A count with a comma between thousands: "15,054".
std::string groupedNumber(std::size_t n);

} // namespace zelvo
