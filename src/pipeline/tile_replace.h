// Replacement of generated hi-res tiles by the pixels of artists' images painted over screens.
#pragma once

#include "platform/error.h"
#include "platform/progress.h"
#include "render/image_read.h"
#include "tiles/screen_file.h"

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace zelvo {

struct HiResTileTable;
struct TileSet;

// The image painted over a screen, with its alpha. An image with transparency of its own (some
// pixel not fully opaque) keeps it and `alphaPath` is not looked at; otherwise the grey of the
// alpha image becomes the alpha when `alphaPath` names a file, else every pixel is opaque. An
// image or alpha image that cannot be read, or an alpha image of another size, gives the reason.
// With `texts`, a PNG's text chunks are kept there.
Result<RgbaImage> loadImageWithAlpha(const std::string& imagePath, const std::string& alphaPath,
                                     std::vector<PngText>* texts = nullptr);

// Cuts the square of `edge` pixels whose top-left corner is (left, top) into `out` (edge * edge
// * 4 bytes), top row first, in the byte order of the hi-res tiles: blue, green, red, alpha.
// False when the square does not lie wholly inside the image.
bool cutTile(const RgbaImage& image, int left, int top, unsigned edge, std::uint8_t* out);

// Whether every byte of `cut` lies within 2 of the same byte of `stored`.
bool tilesPracticallyEqual(const std::uint8_t* cut, const std::uint8_t* stored, std::size_t size);

// A tile entry: its group (0 to 7, 8 the sprites) and its index in the group.
struct TileEntryRef {
  int group = 0;
  std::uint32_t index = 0;
  bool operator==(const TileEntryRef&) const = default;
};

// Where a square lies on its screen: a cell of the background grid, or the upper or lower tile of
// a sprite record; or a slot of a sheet.
struct ScreenPlace {
  std::int32_t sprite = -1; // the sprite record's number, or -1 for a cell
  std::uint8_t row = 0;     // the cell's row and column; for a sprite, row 0 is its upper tile and
  std::uint8_t column = 0;  // row 1 its lower tile
  std::int32_t slot = -1;   // a sheet's slot, numbered from 1 in its map; -1 on a screen
  bool operator==(const ScreenPlace&) const = default;
};
// "cell 3,12" (row, column), "sprite 5" / "sprite 5 (lower tile)" or "slot 7".
std::string placeText(const ScreenPlace& place);

// What one screen's replacement found, for the build report.
struct ScreenReplaceInfo {
  bool screenRead = false;            // the screen file was read
  bool imageRead = false;             // the image's header was read: its size is known
  ImageSize imageSize;                // the image's size as its header gives it
  ImageSize expectedSize;             // the screen's export size at the build's scale
  int paintedFactor = 0;              // another factor (1 to 4) whose export size the image has, else 0
  std::vector<TileEntryRef> replaced; // every entry whose tile was written, once, in the order first written
  std::size_t leftAsExported = 0;     // squares (cells, sprite tiles) as the export draws them: not paint
  std::size_t keptEarlierPaint = 0;   // of those, the ones whose tile an earlier screen painted
  std::size_t sharedTiles = 0;        // replaced tiles that also stand in squares left as exported...
  std::size_t sharedSquares = 0;      // ...in this many of them, where the paint shows too
};

// A square of a screen's image that shows a tile entry: where it lies, whether its alpha is
// dropped (plain background cells are always opaque), and whether the image holds there what the
// export draws (give or take 2 in every byte): such a square is not paint and writes nothing.
struct ScreenSquare {
  TileEntryRef entry;
  int left = 0;
  int top = 0;
  ScreenPlace place;
  bool opaque = false;
  bool asExported = false;
};

// A stored tile painted differently in two places: by two screens (the later one is kept), or by
// two squares of one screen (`earlier` == `later`; the later square is kept).
struct TileConflict {
  std::size_t earlier = 0; // screen numbers, as the ledger's `screen` was when each painted
  std::size_t later = 0;
  TileEntryRef entry; // the entry the later place shows
  ScreenPlace earlierPlace;
  ScreenPlace laterPlace;
};

// What the screens of one build painted so far: which screen (and where on it) last wrote each
// stored tile, and every conflict. The build sets `screen` before it applies each screen.
struct PaintLedger {
  struct Mark {
    std::size_t screen = 0;
    ScreenPlace place;
  };
  std::size_t screen = 0;
  std::unordered_map<std::uint32_t, Mark> painted; // by the tile's offset in the store
  std::vector<TileConflict> conflicts;
};

// The half of one screen's replacement that needs no store: the screen read (without the tiles
// file beside it: cells and sprites are resolved against `buildTiles`, the sorted set the table
// was generated from), the image's size checked from its header, the image decoded and the
// squares that show tile entries found and cut. It reads the store's scale but never its tiles, so
// screens may be prepared on several threads at once while another applies earlier ones, provided
// `buildTiles` does not change and its lookups were prepared (prepareLookups). What it holds is a
// few bytes per square and the painted tiles: at most one tile per square (a screen has at most
// 32 x 28 cells or 2 x kMaxScreenSprites sprite tiles), and nothing of the squares left as exported.
struct PreparedScreen {
  bool skipped = false; // nothing is to be written; `reason` says why
  Error reason;
  ScreenReplaceInfo info;            // everything but `replaced`
  std::vector<ScreenSquare> squares; // in the order they are cut and applied; found once the screen
                                     // is read, also when its image is then skipped
  // The painted tiles, in the byte order of the hi-res tiles and with the alpha of opaque squares
  // at 255, 256 x scale x scale bytes each, back to back; `cutOf` says for every square that is
  // not asExported and lies wholly inside the image (squareIsCut), in the order of `squares`,
  // which of them it shows (squares painted alike may share one).
  std::vector<std::uint8_t> cuts;
  std::vector<std::uint32_t> cutOf;
};

// Whether `square` of `screen`, prepared at `scale`, has its tile among the screen's cuts.
bool squareIsCut(const PreparedScreen& screen, const ScreenSquare& square, std::uint32_t scale);

// An image whose size is exactly the screen's export size at another factor (1 to 4) than the
// table's scale was painted for another build: it is not cut, and the screen is skipped. An image
// of any other size is cut as it is (the tiles that lie wholly inside it are replaced).
// `exportTiles` are the tiles as the export of the screen reads them (the tiles file in its own
// order, with its lookups prepared): what the export draws is resolved against them. Without
// them, `buildTiles` stand in.
PreparedScreen prepareScreen(const HiResTileTable& table, const TileSet& buildTiles,
                             const std::string& screenPath, const std::string& imagePath,
                             const std::string& alphaPath, const TileSet* exportTiles = nullptr);

// Writes each painted tile of a prepared screen that differs from the store over the tile of its
// entry. A square left as exported writes nothing, even where an earlier screen painted its tile;
// every other square is compared with the store as it was before this screen, and the later
// screen wins. `progress` is asked every few hundred tiles whether to go on. `info` (if given)
// receives the screen's findings and the entries written; `ledger` (if given) what was painted
// where and the conflicts found. Fails, writing nothing, with the screen's reason when it was
// skipped or with OutOfMemory; with Cancelled when the sink asked to stop (the store may hold some
// of the screen's tiles); with any other cause when a tile could not be written back (the store
// may hold a damaged tile).
Status applyPreparedScreen(HiResTileTable& table, const PreparedScreen& screen,
                           ProgressSink* progress = nullptr, ScreenReplaceInfo* info = nullptr,
                           PaintLedger* ledger = nullptr);

// Both halves on the calling thread: cuts the image painted over one screen into tiles and writes
// each one that differs from the store over the tile of the entry the screen shows there.
Status replaceTilesFromScreen(HiResTileTable& table, const TileSet& buildTiles, const std::string& screenPath,
                              const std::string& imagePath, const std::string& alphaPath,
                              ProgressSink* progress = nullptr, ScreenReplaceInfo* info = nullptr);

} // namespace zelvo
