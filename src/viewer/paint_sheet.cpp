#include "viewer/paint_sheet.h"

#include "pipeline/tile_replace.h"
#include "platform/path.h"
#include "render/image_read.h"
#include "render/image_save.h"
#include "tiles/tile_store.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <new>

namespace zelvo {

namespace {

bool storeReady(const ReplacedStore& store) {
  return store.table && store.tiles && store.table->tempFile && store.table->tileCount > 0 &&
         store.table->scale >= 1 && store.table->scale <= 4;
}

Error noStore() {
  return makeError(ErrorCause::InvalidArgument, {}, "the build left no high-resolution tiles");
}

// A tile chosen for a sheet: its colours, its pattern and where the store holds it.
struct ChosenTile {
  const PaletteEntry* palette;
  const PatternEntry* pattern;
  std::uint32_t offset;
};
using ChosenTiles = std::array<std::vector<ChosenTile>, kGroupCount>;

// The tiles `choice` picks, group by group, each tile of the store once.
ChosenTiles chooseTiles(const ReplacedStore& store, const PaintSheetChoice& choice) {
  const HiResTileTable& table = *store.table;
  const TileSet& tiles = *store.tiles;
  ChosenTiles chosen;
  std::unordered_set<std::uint32_t> seen;
  for (int g = 0; g < kGroupCount; ++g) {
    if (choice.group >= 0 && g != choice.group) continue;
    const TileGroup& group = tiles.groups[g];
    for (std::uint32_t i = 0; i < group.count; ++i) {
      const PaletteEntry* palette = tiles.palette(group.entries[i].paletteIndex);
      const PatternEntry* pattern = tiles.pattern(group.entries[i].patternIndex);
      if (!palette || !pattern) continue;
      // The slot is named by content: the entry the build finds by it must hold this tile.
      const std::uint32_t found = findEntryByContent(group, palette->colours, pattern->planes);
      std::uint32_t offset = 0;
      if (found == kNotFound || !hiResTileOffset(table, g, found, offset) || !seen.insert(offset).second)
        continue;
      if (choice.unpainted && store.ledger.painted.count(offset)) continue;
      if (choice.only && !choice.only->count(offset)) continue;
      chosen[g].push_back({palette, pattern, offset});
    }
  }
  return chosen;
}

// The squares of a sheet: `edge` pixels, `pitch` apart, `columns` to a row and `rows` to a page.
struct SlotGrid {
  std::uint32_t edge = 0, pitch = 0, columns = 0, rows = 0;
};

// The chosen tiles in slots on pages, their pages not yet numbered. Each group starts a new row.
PaintSheetPlan layOutSlots(const ReplacedStore& store, const ChosenTiles& chosen, const SlotGrid& grid) {
  PaintSheetPlan plan;
  std::uint32_t rows = 0; // on the current page
  for (int g = 0; g < kGroupCount; ++g) {
    const std::vector<ChosenTile>& group = chosen[g];
    for (std::size_t k = 0; k < group.size(); ++k) {
      if (k % grid.columns == 0) {
        if (plan.pages.empty() || rows == grid.rows) {
          plan.pages.emplace_back().scale = store.table->scale;
          plan.tiles.emplace_back();
          rows = 0;
        }
        ++rows;
      }
      SheetMap& page = plan.pages.back();
      SheetSlot& slot = page.slots.emplace_back();
      slot.x = std::int32_t(kPaintSheetGap + (k % grid.columns) * grid.pitch);
      slot.y = std::int32_t(kPaintSheetGap + (rows - 1) * grid.pitch);
      slot.size = grid.edge;
      slot.group = g;
      std::memcpy(slot.colours, group[k].palette->colours, sizeof slot.colours);
      std::memcpy(slot.planes, group[k].pattern->planes, sizeof slot.planes);
      slot.painted = store.ledger.painted.count(group[k].offset) != 0;
      plan.tiles.back().push_back(group[k].offset);
      page.width = std::max(page.width, std::uint32_t(slot.x) + grid.pitch);
      page.height = std::max(page.height, std::uint32_t(slot.y) + grid.pitch);
    }
  }
  return plan;
}

} // namespace

Result<std::unordered_set<std::uint32_t>> tilesShownBy(const ReplacedStore& store,
                                                       const std::string& screenPath) {
  if (!storeReady(store)) return noStore();
  // Without an image the screen is read and its squares found all the same.
  const PreparedScreen screen = prepareScreen(*store.table, *store.tiles, screenPath, {}, {});
  if (!screen.info.screenRead) return screen.reason;
  std::unordered_set<std::uint32_t> shown;
  for (const ScreenSquare& square : screen.squares) {
    std::uint32_t offset = 0;
    if (hiResTileOffset(*store.table, square.entry.group, square.entry.index, offset)) shown.insert(offset);
  }
  return shown;
}

Result<PaintSheetPlan> planPaintSheets(const ReplacedStore& store, const PaintSheetChoice& choice) {
  if (!storeReady(store)) return noStore();
  if (choice.group < -1 || choice.group >= kGroupCount)
    return makeError(ErrorCause::InvalidArgument, {}, "the group must be 0 to 8");
  if (choice.columns < 1) return makeError(ErrorCause::InvalidArgument, {}, "a row holds at least one slot");
  SlotGrid grid;
  grid.edge = 8 * store.table->scale;
  grid.pitch = grid.edge + kPaintSheetGap;
  // No page is larger than the build reads.
  grid.rows = (kMaxImageSide - kPaintSheetGap) / grid.pitch;
  grid.columns = std::min(std::uint32_t(choice.columns), grid.rows);

  PaintSheetPlan plan = layOutSlots(store, chooseTiles(store, choice), grid);
  if (plan.pages.empty())
    return makeError(ErrorCause::InvalidArgument, {},
                     choice.unpainted ? "no tile is left to paint: an image paints every chosen tile"
                                      : "there are no tiles to show");
  const std::uint32_t pages = std::uint32_t(plan.pages.size());
  for (std::uint32_t p = 0; p < pages; ++p) {
    plan.pages[p].page = p + 1;
    plan.pages[p].pages = pages;
  }
  return plan;
}

Result<RgbaImage> drawPaintSheet(const ReplacedStore& store, PaintSheetPlan& plan, std::size_t page) {
  if (!storeReady(store)) return noStore();
  if (page >= plan.pages.size()) return makeError(ErrorCause::InvalidArgument, {}, "no such page");
  SheetMap& map = plan.pages[page];
  Result<RgbaImage> image = makeRgbaImage(map.width, map.height);
  if (!image) return image;
  fillImage(*image, kPaintSheetGround, kPaintSheetGround, kPaintSheetGround, 255);
  HiResTileTable& table = *store.table;
  std::unique_ptr<std::uint8_t[]> tile(new (std::nothrow) std::uint8_t[table.tileBytes]);
  if (!tile) return makeError(ErrorCause::OutOfMemory, {}, "no memory for a tile");
  for (std::size_t i = 0; i < map.slots.size(); ++i) {
    SheetSlot& slot = map.slots[i];
    if (Status s = table.tempFile.readAt(tile.get(), table.tileBytes, plan.tiles[page][i]); !s)
      return s.error();
    putTile(*image, tile.get(), slot.size, std::uint32_t(slot.x), std::uint32_t(slot.y));
    slot.digest = slotDigest(tile.get(), table.tileBytes);
  }
  return image;
}

std::string paintSheetPagePath(const std::string& first, std::uint32_t page) {
  if (page <= 1) return first;
  return stripExtension(first) + "-" + std::to_string(page) + extensionOf(first);
}

std::string sheetSidecarPath(const std::string& imagePath) { return stripExtension(imagePath) + ".json"; }

Status savePaintSheet(const RgbaImage& image, const SheetMap& map, const std::string& imagePath,
                      const std::string& sidecarPath, ReplacePolicy replace) {
  const PngText chunk{kSheetMapKeyword, sheetMapJson(map)};
  Result<EncodedImage> encoded = encodePng(image, imagePath, std::span<const PngText>(&chunk, 1));
  if (!encoded) return encoded.error();
  const std::string sidecar = sheetMapJson(map, 1) + "\n";
  auto png = AtomicSave::begin(imagePath, replace);
  if (!png) return png.error();
  if (Status s = png->file().writeAll(encoded->bytes.get(), encoded->size); !s) return s;
  auto json = AtomicSave::begin(sidecarPath, std::move(replace));
  if (!json) return json.error();
  if (Status s = json->file().writeAll(sidecar.data(), sidecar.size()); !s) return s;
  return commitTogether(*png, *json);
}

} // namespace zelvo
