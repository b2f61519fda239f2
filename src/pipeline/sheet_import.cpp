#include "pipeline/sheet_import.h"

#include "pipeline/hires_tiles.h"
#include "platform/file.h"
#include "platform/path.h"
#include "tiles/tile_store.h"

#include <memory>
#include <new>
#include <unordered_set>

namespace zelvo {

namespace {

bool isImageName(const std::string& name) {
  const std::string extension = toLowerAscii(extensionOf(name));
  return extension == ".png" || extension == ".bmp";
}

// The whole of a small file; NotFound and the like as the system says, LimitExceeded past `limit`.
Result<std::string> readSmallFile(const std::string& path, std::size_t limit) {
  Result<File> file = File::openRead(path, "reading");
  if (!file) return file.error();
  const Result<std::uint64_t> sized = file->size();
  if (!sized) return sized.error();
  const std::uint64_t size = *sized;
  if (size > limit)
    return makeError(ErrorCause::LimitExceeded, path,
                     "the file holds " + std::to_string(size) + " bytes; a sheet's map at most " +
                         std::to_string(limit >> 20) + " MB");
  std::string text(std::size_t(size), '\0');
  if (size)
    if (Status read = file->readAt(text.data(), text.size(), 0); !read) {
      if (read.error().cause != ErrorCause::Truncated) return read.error();
      return makeError(ErrorCause::Truncated, path, "the file became shorter while it was read");
    }
  return text;
}

void makeOpaque(std::uint8_t* tile, std::size_t bytes) {
  for (std::size_t i = 3; i < bytes; i += 4) tile[i] = 255;
}

// What a candidate's files hold: its picture, and its map's text from the image's chunk or else
// from the sidecar.
struct SheetFiles {
  Result<RgbaImage> image;
  std::string mapText;
  bool fromChunk = false;

  // A map was found: the chunk, even an empty one, or a sidecar that looks like a map.
  bool isSheet() const { return fromChunk || !mapText.empty(); }
};

SheetFiles readSheetFiles(const std::string& imagePath, const std::string& alphaPath,
                          const std::string& sidecarPath) {
  // The sidecar first: it says the image is a sheet even when the image cannot be read.
  std::string sidecarText;
  if (!sidecarPath.empty()) {
    Result<std::string> text = readSmallFile(sidecarPath, kMaxSheetMapBytes);
    if (text && looksLikeSheetMap(*text)) sidecarText = std::move(*text);
  }
  std::vector<PngText> texts;
  Result<RgbaImage> image = loadImageWithAlpha(imagePath, alphaPath, &texts);
  PngText* chunk = nullptr;
  for (PngText& text : texts)
    if (text.keyword == kSheetMapKeyword) chunk = &text;
  if (chunk) return {std::move(image), std::move(chunk->text), true};
  return {std::move(image), std::move(sidecarText), false};
}

// The sheet's slots cut out of its picture as the squares of `out`, each as written or painted; a
// slot whose tile the build's tiles do not hold is counted and left out.
Status cutSlots(const RgbaImage& picture, const SheetMap& map, const HiResTileTable& table,
                const TileSet& buildTiles, const std::string& imagePath, PreparedSheet& out) {
  PreparedScreen& prepared = out.screen;
  const std::uint32_t edge = 8 * table.scale, tileBytes = table.tileBytes;
  std::unique_ptr<std::uint8_t[]> cut(new (std::nothrow) std::uint8_t[tileBytes]);
  std::unique_ptr<std::uint8_t[]> generated(new (std::nothrow) std::uint8_t[tileBytes]);
  if (!cut || !generated) return makeError(ErrorCause::OutOfMemory, imagePath, "no memory for a tile");
  prepared.squares.reserve(map.slots.size());
  for (std::size_t i = 0; i < map.slots.size(); ++i) {
    const SheetSlot& slot = map.slots[i];
    const TileGroup& group = buildTiles.groups[slot.group];
    const std::uint32_t index = findEntryByContent(group, slot.colours, slot.planes);
    if (index == kNotFound) {
      ++out.slotsNotInCapture;
      continue;
    }
    ScreenSquare square;
    square.entry = {slot.group, index};
    square.left = slot.x;
    square.top = slot.y;
    square.place.slot = std::int32_t(i + 1);
    // As on a screen, plain background tiles are opaque; priority and sprite tiles keep their alpha.
    square.opaque = slot.group < kPriorityGroupOffset;
    if (cutTile(picture, slot.x, slot.y, edge, cut.get())) {
      if (square.opaque) makeOpaque(cut.get(), tileBytes);
      square.asExported = slotDigest(cut.get(), tileBytes) == slot.digest;
      if (!square.asExported && generateHiResTile(group, slot.group, index, table.scale, generated.get())) {
        if (square.opaque) makeOpaque(generated.get(), tileBytes);
        square.asExported = tilesPracticallyEqual(cut.get(), generated.get(), tileBytes);
      }
      // The painted tile is kept, as a screen keeps its cuts.
      if (squareIsCut(prepared, square, table.scale)) {
        prepared.cutOf.push_back(std::uint32_t(prepared.cuts.size() / tileBytes));
        prepared.cuts.insert(prepared.cuts.end(), cut.get(), cut.get() + tileBytes);
      }
    }
    prepared.squares.push_back(square);
  }
  return {};
}

} // namespace

std::vector<SheetCandidate> sheetCandidates(const std::vector<DirEntry>& names,
                                            const std::vector<DirEntry>& screens) {
  std::unordered_set<std::string> taken; // lower-case base names that screens take
  for (const DirEntry& screen : screens) {
    const std::string base = toLowerAscii(stripExtension(screen.name));
    taken.insert(base);
    taken.insert(base + "_alpha");
  }
  std::unordered_set<std::string> bases; // of the images that are left
  for (const DirEntry& entry : names)
    if (!entry.directory && isImageName(entry.name)) bases.insert(toLowerAscii(stripExtension(entry.name)));
  auto listed = [&](const std::string& wanted) {
    for (const DirEntry& entry : names)
      if (!entry.directory && equalsNoCase(entry.name, wanted)) return entry.name;
    return std::string();
  };

  std::vector<SheetCandidate> found;
  const std::string alphaEnd = "_alpha";
  for (const DirEntry& entry : names) {
    if (entry.directory || !isImageName(entry.name)) continue;
    const std::string base = stripExtension(entry.name), lower = toLowerAscii(base);
    if (taken.count(lower)) continue;
    if (lower.size() > alphaEnd.size() &&
        lower.compare(lower.size() - alphaEnd.size(), alphaEnd.size(), alphaEnd) == 0 &&
        bases.count(lower.substr(0, lower.size() - alphaEnd.size())))
      continue;
    SheetCandidate& candidate = found.emplace_back();
    candidate.image = entry.name;
    const std::string alpha = base + alphaEnd + extensionOf(entry.name);
    const std::string alphaListed = listed(alpha);
    candidate.alpha = alphaListed.empty() ? alpha : alphaListed;
    candidate.sidecar = listed(base + ".json");
  }
  return found;
}

PreparedSheet prepareSheet(const HiResTileTable& table, const TileSet& buildTiles,
                           const std::string& imagePath, const std::string& alphaPath,
                           const std::string& sidecarPath) {
  PreparedSheet out;
  ScreenReplaceInfo& found = out.screen.info;
  auto skipped = [&](Error why) {
    out.screen.skipped = true;
    out.screen.reason = std::move(why);
    return std::move(out);
  };

  SheetFiles files = readSheetFiles(imagePath, alphaPath, sidecarPath);
  out.isSheet = files.isSheet();
  if (!out.isSheet) return out;
  found.screenRead = true;
  if (!files.image) return skipped(files.image.error());
  found.imageRead = true;
  found.imageSize = {files.image->width, files.image->height};
  out.fromChunk = files.fromChunk;
  Result<SheetMap> map = parseSheetMap(files.mapText, files.fromChunk ? std::string() : sidecarPath);
  if (!map) return skipped(map.error());
  out.scale = map->scale;
  out.slotCount = map->slots.size();
  found.expectedSize = {map->width, map->height};
  if (!table.tempFile || table.tileCount == 0 || table.scale < 1 || table.scale > 4)
    return skipped(makeError(ErrorCause::InvalidArgument, imagePath, "no high-resolution tiles to replace"));
  if (map->scale != table.scale) {
    found.paintedFactor = int(map->scale);
    return skipped(makeError(ErrorCause::BadFormat, {},
                             "the sheet is painted at " + std::to_string(map->scale) +
                                 "x; this build is at " + std::to_string(table.scale) +
                                 "x (write it again with --scale " + std::to_string(table.scale) + ")"));
  }
  if (Status cut = cutSlots(*files.image, *map, table, buildTiles, imagePath, out); !cut)
    return skipped(cut.error());
  return out;
}

} // namespace zelvo
