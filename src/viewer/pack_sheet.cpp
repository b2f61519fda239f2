// The sheet of a pack's hi-res tiles, one square per tile entry, in pages.
#include "pipeline/hires_tiles.h"
#include "platform/fs.h"
#include "viewer/legend.h"
#include "viewer/pack_preview.h"

#include <algorithm>
#include <cstring>

namespace zelvo {

namespace {

constexpr std::uint8_t kGround = 0x40; // the grey between the tiles
constexpr std::uint32_t kCheckerLight = 0xC8, kCheckerDark = 0x8C;
constexpr std::uint64_t kMaxSheetPixels = std::uint64_t(1) << 28; // 1 GiB of pixels, all pages
constexpr Colour kMark{250, 50, 40, 255}, kMarkEdge{255, 255, 255, 255};

int sheetTextScale(std::uint32_t scale) { return scale >= 3 ? 2 : 1; }

// Draws a tile square (as putTile takes it) over the checkerboard, the square's top-left corner
// at (left, top): each pixel blended by its alpha over the opaque grey beneath it. Without a tile,
// the checkerboard alone.
void putOverChecker(RgbaImage& image, const std::uint8_t* tile, std::uint32_t edge, std::uint32_t left,
                    std::uint32_t top) {
  if (tile)
    putTile(image, tile, edge, left, top);
  else
    fillRect(image, int(left), int(top), int(edge), int(edge), {0, 0, 0, 0});
  for (std::uint32_t y = 0; y < edge; ++y) {
    std::uint8_t* pixel = image.at(left, top + y);
    for (std::uint32_t x = 0; x < edge; ++x, pixel += 4) {
      const bool light = ((x / kSheetChecker) + (y / kSheetChecker)) % 2 == 0;
      const std::uint32_t ground = light ? kCheckerLight : kCheckerDark, alpha = pixel[3];
      for (int c = 0; c < 3; ++c)
        pixel[c] = std::uint8_t((pixel[c] * alpha + ground * (255 - alpha) + 127) / 255);
      pixel[3] = 255;
    }
  }
}

// A label placed on a page.
struct Label {
  int page = 0;
  int y = 0;
  std::string text;
};

Legend sheetLegend(const std::string& title, int textScale) {
  auto tile = [](bool marked) {
    return [marked](RgbaImage& image, int left, int top, int edge) {
      putOverChecker(image, nullptr, std::uint32_t(edge), std::uint32_t(left), std::uint32_t(top));
      if (marked) markUnpaintedTile(image, left, top, edge);
    };
  };
  return Legend(title, {{"painted", tile(false)}, {"unpainted: the plain enlargement", tile(true)}},
                textScale);
}

// The label of a group on the pages after its first.
std::string continuedName(int group) { return "group " + std::to_string(group) + " (continued)"; }

// Where a sheet's tiles go: `columns` to a row, `pitch` pixels apart; a page's first row (or the
// label above it) at `top`, a group's label `labelHeight` tall, no page taller than `pageHeight`.
struct SheetGrid {
  int columns = 0, pitch = 0, top = 0, labelHeight = 0, pageHeight = 0;
};

// The sheet's width: its widest row of tiles, label or legend; 0 when the groups shown hold no
// entries.
int sheetWidth(const PackTiles& pack, int group, const SheetGrid& grid, int textScale) {
  std::uint32_t widest = 0;
  int width = 0;
  for (int g = 0; g < kGroupCount; ++g) {
    if ((group >= 0 && g != group) || pack.tiles->groups[g].count == 0) continue;
    widest = std::max(widest, pack.tiles->groups[g].count);
    width = std::max({width, 2 * kSheetGap + textWidth(sheetGroupName(g), textScale),
                      2 * kSheetGap + textWidth(continuedName(g), textScale)});
  }
  if (widest == 0) return 0;
  return std::max({width,
                   kSheetGap + int(std::min<std::uint32_t>(widest, std::uint32_t(grid.columns))) * grid.pitch,
                   sheetLegend("page 1", textScale).minimumWidth()});
}

// Whether the pack's tile of an entry is painted: other than the plain enlargement of the entry,
// which goes to `plain` (a tile's bytes).
bool isPainted(const PackTiles& pack, int group, std::uint32_t index, std::uint8_t* plain) {
  return !generateHiResTile(pack.tiles->groups[group], group, index, pack.scale, plain) ||
         std::memcmp(plain, pack.tile(group, index), pack.tileBytes) != 0;
}

// The labels of a sheet's groups and the height of each of its pages.
struct SheetPages {
  std::vector<Label> labels;
  std::vector<int> heights;
};

// Places the entries of the sheet: rows go down the page, each group under its label, until the
// next would pass the page's foot.
SheetPages layOutSheet(const PackTiles& pack, int group, const SheetGrid& grid, Sheet& sheet) {
  SheetPages pages;
  const std::uint32_t columns = std::uint32_t(grid.columns);
  int y = grid.top;
  std::vector<std::uint8_t> plain(pack.tileBytes);
  for (int g = 0; g < kGroupCount; ++g) {
    if (group >= 0 && g != group) continue;
    const TileGroup& tiles = pack.tiles->groups[g];
    for (std::uint32_t i = 0; i < tiles.count; ++i) {
      if (i % columns == 0) {
        if (i) y += grid.pitch; // past the row above
        bool label = i == 0;
        if (y + (label ? grid.labelHeight : 0) + grid.pitch > grid.pageHeight && y > grid.top) {
          pages.heights.push_back(y);
          y = grid.top;
          label = true;
        }
        if (label) {
          pages.labels.push_back({int(pages.heights.size()), y, i ? continuedName(g) : sheetGroupName(g)});
          y += grid.labelHeight;
        }
      }
      SheetEntry& e = sheet.entries.emplace_back();
      e = {g,
           i,
           kSheetGap + int(i % columns) * grid.pitch,
           y,
           pack.tileNumber(g, i),
           int(pages.heights.size())};
      e.painted = isPainted(pack, g, i, plain.data());
      sheet.paintedEntries += e.painted;
    }
    if (tiles.count) y += grid.pitch;
  }
  pages.heights.push_back(y);
  return pages;
}

Status checkSheetPixels(int width, const std::vector<int>& heights) {
  std::uint64_t pixels = 0;
  for (int height : heights) pixels += std::uint64_t(width) * std::uint64_t(height);
  if (pixels > kMaxSheetPixels)
    return makeError(ErrorCause::LimitExceeded, {},
                     "the sheet would be " + std::to_string(heights.size()) + " pages of " +
                         std::to_string(width) + " pixels wide, " + std::to_string(pixels) +
                         " pixels in all");
  return {};
}

// The sheet's pages, grey under a legend that counts the entries (and the pages, when there are
// several), with the groups' labels on them.
Status drawPages(Sheet& sheet, int width, const SheetPages& pages, int textScale) {
  const std::size_t count = pages.heights.size();
  const std::string counts = std::to_string(sheet.entries.size()) + " tile entries, " +
                             std::to_string(sheet.paintedEntries) + " painted";
  for (std::size_t p = 0; p < count; ++p) {
    Result<RgbaImage> image =
        makeRgbaImage(std::uint32_t(width), std::uint32_t(pages.heights[p]), "the sheet");
    if (!image) return image.error();
    fillImage(*image, kGround, kGround, kGround, 255);
    const std::string title =
        count > 1 ? counts + "; page " + std::to_string(p + 1) + " of " + std::to_string(count) : counts;
    sheetLegend(title, textScale).draw(*image, 0, width);
    sheet.pages.push_back(std::move(*image));
  }
  for (const Label& label : pages.labels)
    drawText(sheet.pages[std::size_t(label.page)], kSheetGap, label.y + textScale, label.text, textScale,
             kStripText);
  return {};
}

// Draws every entry's tile on its page over the checkerboard, marks the unpainted ones, and counts
// the different tiles.
void drawEntries(Sheet& sheet, const PackTiles& pack, std::uint32_t edge) {
  std::vector<bool> seen(pack.tileCount);
  for (const SheetEntry& e : sheet.entries) {
    RgbaImage& page = sheet.pages[std::size_t(e.page)];
    putOverChecker(page, pack.tileData(e.tile), edge, std::uint32_t(e.x), std::uint32_t(e.y));
    if (!e.painted) markUnpaintedTile(page, e.x, e.y, int(edge));
    if (!seen[e.tile]) ++sheet.distinctTiles;
    seen[e.tile] = true;
  }
}

} // namespace

int sheetLabelHeight(std::uint32_t scale) { return (kGlyphHeight + 3) * sheetTextScale(scale); }

void markUnpaintedTile(RgbaImage& image, int left, int top, int edge) {
  const int size = std::max(3, edge * 3 / 8);
  for (int y = 0; y < size; ++y)
    for (int x = 0; x + y < size; ++x)
      fillRect(image, left + x, top + y, 1, 1, x + y == size - 1 ? kMarkEdge : kMark);
}

std::string sheetGroupName(int group) {
  static const char* const flips[4] = {"", ", flipped H", ", flipped V", ", flipped H+V"};
  if (group == kSpriteGroup) return "group 8: sprites";
  if (group < 0 || group > kSpriteGroup) return "group " + std::to_string(group);
  return "group " + std::to_string(group) + ": background" + flips[group % kPriorityGroupOffset] +
         (group >= kPriorityGroupOffset ? ", priority" : "");
}

std::string sheetPagePath(const std::string& path, std::size_t page) {
  if (page == 0) return path;
  std::size_t dot = path.size();
  for (std::size_t i = path.size(); i-- > 0 && !isSeparator(path[i]);)
    if (path[i] == '.') {
      dot = i;
      break;
    }
  return path.substr(0, dot) + "-" + std::to_string(page + 1) + path.substr(dot);
}

Result<Sheet> renderSheet(const PackTiles& pack, int group, int columns, int pageHeight) {
  if (group < -1 || group >= kGroupCount)
    return makeError(ErrorCause::InvalidArgument, {}, "the group must be 0 to 8");
  if (columns < 1 || columns > 1024)
    return makeError(ErrorCause::InvalidArgument, {}, "the columns must be 1 to 1024");
  if (!pack.tiles) return makeError(ErrorCause::InvalidArgument, {}, "the pack holds no tiles");

  const std::uint32_t edge = 8 * pack.scale;
  const int textScale = sheetTextScale(pack.scale);
  SheetGrid grid;
  grid.columns = columns;
  grid.pitch = int(edge) + kSheetGap;
  grid.labelHeight = sheetLabelHeight(pack.scale);
  grid.pageHeight = pageHeight;
  const int width = sheetWidth(pack, group, grid, textScale);
  if (width == 0) return makeError(ErrorCause::InvalidArgument, {}, "there are no tile entries to show");
  grid.top = sheetLegend("page 1", textScale).height(width) + kSheetGap;
  if (grid.top + grid.labelHeight + grid.pitch > pageHeight)
    return makeError(ErrorCause::InvalidArgument, {},
                     "a page must be at least " + std::to_string(grid.top + grid.labelHeight + grid.pitch) +
                         " pixels tall");

  Sheet sheet;
  const SheetPages pages = layOutSheet(pack, group, grid, sheet);
  if (Status fits = checkSheetPixels(width, pages.heights); !fits) return fits.error();
  if (Status drawn = drawPages(sheet, width, pages, textScale); !drawn) return drawn.error();
  drawEntries(sheet, pack, edge);
  return sheet;
}

} // namespace zelvo
