// A screen as a game shows it with a pack: every background cell and sprite tile found by its
// content among the pack's own tiles and drawn with the pack's hi-res tile, at the pack's scale,
// where the export places the enlarged original; and a sheet of all of a pack's hi-res tiles.
#pragma once

#include "pipeline/pack_read.h"
#include "platform/atomic_save.h"
#include "platform/error.h"
#include "render/rgba_image.h"
#include "tiles/screen_file.h"

#include <cstdint>
#include <string>
#include <vector>

namespace zelvo {

// What a preview drew, counted over the visible cells of a background, or over the sprite tiles
// that fit the image.
struct PreviewCounts {
  std::uint32_t fromPack = 0;      // drawn with the pack's hi-res tile
  std::uint32_t replacedByArt = 0; // of those, tiles that differ from the plain enlargement
  std::uint32_t missing = 0;       // not in the pack: the screen's own tile enlarged as a build would
  std::uint32_t unknown = 0;       // known neither to the pack nor to the screen's tiles: left empty
};

struct Preview {
  RgbaImage image; // as the export's image at the pack's scale: same size, placement and alpha rules
  PreviewCounts counts;
};

// The screen (its background grid, or its sprites when it has none) drawn with `pack`. A cell is
// resolved by content against the pack's tiles; when the pack does not hold it, against the
// screen's own tiles, and its tile is generated as the build's scale stage would; when neither
// holds it, it stays black with alpha 0. Sprites are placed, clamped and cut as the export places
// them, each tile's whole square replacing what lies beneath. Fails for a screen with nothing to
// draw, or when memory runs out.
Result<Preview> renderPreview(const ScreenFile& screen, const PackTiles& pack);

// The screen as the export draws it at `factor`, without any pack: its background, or its sprites.
Result<RgbaImage> renderPlain(const ScreenFile& screen, int factor);

// `left` and `right` side by side, `gap` transparent pixels apart, tops aligned; the rest of the
// image black with alpha 0.
Result<RgbaImage> sideBySide(const RgbaImage& left, const RgbaImage& right, std::uint32_t gap);

// The height of the strip of captions over a comparison whose words are drawn at `textScale`.
int captionStripHeight(int textScale);
// `left` and `right` side by side as sideBySide puts them, beneath an opaque strip of
// captionStripHeight(textScale) pixels where each caption is centred over its picture.
Result<RgbaImage> captionedSideBySide(const RgbaImage& left, const RgbaImage& right, std::uint32_t gap,
                                      const std::string& leftCaption, const std::string& rightCaption,
                                      int textScale);

// One tile entry on a sheet: its group and index in the pack, the page it lies on (0 the first),
// where its tile lies on that page (top-left corner, counted from the top), the number of the
// tile it shows, and whether that tile is painted: not the plain enlargement of the entry.
struct SheetEntry {
  int group = 0;
  std::uint32_t index = 0;
  int x = 0, y = 0;
  std::uint32_t tile = 0;
  int page = 0;
  bool painted = false;
};

struct Sheet {
  std::vector<RgbaImage> pages;
  std::vector<SheetEntry> entries;
  std::uint32_t distinctTiles = 0;  // different tiles among the entries shown
  std::uint32_t paintedEntries = 0; // entries shown whose tile is painted
};

inline constexpr int kSheetGap = 2;           // pixels between tiles and around the sheet
inline constexpr int kSheetChecker = 4;       // edge of a checkerboard square beneath transparent pixels
inline constexpr int kSheetPageHeight = 4096; // the tallest page unless told

// Every tile entry of the pack (of group `group` only, when it is 0 to 8), group by group in the
// pack's order, kSheetGap pixels apart on grey: each group under a label that names it, starting a
// new row of `columns` tiles. Tiles are drawn over a light and dark checkerboard that shows through
// wherever alpha is below 255, and an unpainted tile (the plain enlargement of its entry, as the
// build generates it) gets a mark in its top-left corner. Each page starts with a legend of the
// mark and is at most `pageHeight` pixels tall; a group that goes on to the next page is labelled
// again there. The pages are opaque. Fails for a group outside -1 to 8, columns outside 1 to 1024,
// no entry to show, a page too low to hold its legend, a label and a row, or images too large to
// make.
Result<Sheet> renderSheet(const PackTiles& pack, int group, int columns, int pageHeight = kSheetPageHeight);

// The height of a group's label on a sheet of a pack at `scale`.
int sheetLabelHeight(std::uint32_t scale);
// Draws the mark of an unpainted tile over the square of `edge` pixels at (left, top).
void markUnpaintedTile(RgbaImage& image, int left, int top, int edge);
// "group 0: background", "group 1: background, flipped H", ..., "group 7: background, flipped H+V,
// priority", "group 8: sprites".
std::string sheetGroupName(int group);

// Where page `page` (0 the first) of a sheet saved at `path` goes: `path` itself for the first,
// else "-2", "-3", ... inserted before the extension of its last component.
std::string sheetPagePath(const std::string& path, std::size_t page);

} // namespace zelvo
