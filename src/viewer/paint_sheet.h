// Sheets for painting: the distinct stored tiles of a build, each in its own slot, as they stand
// once the screens and sheets of the capture are applied (painted where an image paints them, else
// as generated), with the map that tells the build which tile each slot holds.
#pragma once

#include "pipeline/build_driver.h"
#include "pipeline/sheet_map.h"
#include "platform/atomic_save.h"
#include "platform/error.h"
#include "render/rgba_image.h"

#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

namespace zelvo {

inline constexpr int kPaintSheetGap = 2; // pixels between slots and around the sheet
// The grey of the gaps: opaque, so the slots stand out and an empty sheet is no transparent one.
inline constexpr std::uint8_t kPaintSheetGround = 0x40;

// Which stored tiles a sheet shows.
struct PaintSheetChoice {
  int group = -1;         // only this group, 0 to 8; -1 every group
  bool unpainted = false; // only the tiles no image paints
  // Only these stored tiles (offsets in the store), when given: what a screen shows.
  const std::unordered_set<std::uint32_t>* only = nullptr;
  int columns = 16; // slots per row, at most as many as fit the widest image a build reads
};

// The sheets to write: one map per page, and the stored tile of each slot.
struct PaintSheetPlan {
  std::vector<SheetMap> pages;
  std::vector<std::vector<std::uint32_t>> tiles; // offsets in the store, per page, in slot order
};

// The stored tiles a screen shows (its cells, or its sprite tiles), resolved as the build
// resolves them; the reason when the screen cannot be read.
Result<std::unordered_set<std::uint32_t>> tilesShownBy(const ReplacedStore& store,
                                                       const std::string& screenPath);

// Lays out the chosen tiles: each distinct stored tile once, named by the content of the lowest
// entry that the build's lookup finds for it, group by group in the store's order, each group
// starting a new row; a new page when one is full (no page is larger than the build reads).
// Fails when no tile is chosen.
Result<PaintSheetPlan> planPaintSheets(const ReplacedStore& store, const PaintSheetChoice& choice);

// The image of page `page` of the plan: every slot's tile as the store holds it (alpha kept) on
// the opaque ground; the digests of the page's slots are filled in.
Result<RgbaImage> drawPaintSheet(const ReplacedStore& store, PaintSheetPlan& plan, std::size_t page);

// The name of page `page` (from 1) of the sheets whose first page is `first`: "OUT.png", then
// "OUT-2.png", ...; and the sidecar of an image: "OUT.json".
std::string paintSheetPagePath(const std::string& first, std::uint32_t page);
std::string sheetSidecarPath(const std::string& imagePath);

// Saves a page as a PNG with its map in a text chunk, and the map in the sidecar beside it (one
// indented JSON object): both take their places together, or neither does.
Status savePaintSheet(const RgbaImage& image, const SheetMap& map, const std::string& imagePath,
                      const std::string& sidecarPath, ReplacePolicy replace);

} // namespace zelvo
