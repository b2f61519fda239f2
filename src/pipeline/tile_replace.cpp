#include "pipeline/tile_replace.h"

#include "pipeline/hires_tiles.h"
#include "platform/file.h"
#include "platform/fs.h"
#include "tiles/content_lookup.h"
#include "tiles/screen_file.h"
#include "tiles/tile_store.h"

#include <cstring>
#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace zelvo {

namespace {

constexpr int kTolerance = 2;

// Whether some pixel is not fully opaque.
bool hasTransparency(const RgbaImage& image) {
  const std::size_t size = image.byteCount();
  for (std::size_t i = 3; i < size; i += 4)
    if (image.pixels[i] != 255) return true;
  return false;
}

// The grey of a colour (Rec. 709 luma, rounded): r = g = b = v gives v.
std::uint8_t greyOf(const std::uint8_t* rgb) {
  return std::uint8_t((2126u * rgb[0] + 7152u * rgb[1] + 722u * rgb[2] + 5000u) / 10000u);
}

} // namespace

Result<RgbaImage> loadImageWithAlpha(const std::string& imagePath, const std::string& alphaPath,
                                     std::vector<PngText>* texts) {
  Result<RgbaImage> image = readImage(imagePath, texts);
  if (!image || hasTransparency(*image)) return image;
  const std::size_t size = image->byteCount();
  // No alpha image: opaque, as decoded. One that exists but cannot be used stops the screen, so
  // priority and sprite tiles never silently lose their transparency.
  if (alphaPath.empty() || pathKind(alphaPath) != PathKind::File) return image;
  Result<RgbaImage> mask = readImage(alphaPath);
  if (!mask) return mask.error();
  if (mask->width != image->width || mask->height != image->height)
    return makeError(ErrorCause::BadFormat, alphaPath,
                     "the alpha image is " + std::to_string(mask->width) + " x " +
                         std::to_string(mask->height) + " pixels but its image is " +
                         std::to_string(image->width) + " x " + std::to_string(image->height));
  for (std::size_t i = 0; i < size; i += 4) image->pixels[i + 3] = greyOf(&mask->pixels[i]);
  return image;
}

bool cutTile(const RgbaImage& image, int left, int top, unsigned edge, std::uint8_t* out) {
  if (left < 0 || top < 0 || left + (long long)edge > image.width || top + (long long)edge > image.height)
    return false;
  for (unsigned y = 0; y < edge; ++y) {
    const std::uint8_t* in = image.row(std::uint32_t(top) + y) + std::size_t(left) * 4;
    for (unsigned x = 0; x < edge; ++x, in += 4, out += 4) {
      // Red and blue trade places, a whole pixel at a time (the same on either byte order).
      std::uint32_t pixel;
      std::memcpy(&pixel, in, 4);
      const std::uint32_t lowHigh = pixel & 0x00FF00FFu;
      pixel = (pixel & 0xFF00FF00u) | (lowHigh >> 16) | (lowHigh << 16);
      std::memcpy(out, &pixel, 4);
    }
  }
  return true;
}

bool tilesPracticallyEqual(const std::uint8_t* cut, const std::uint8_t* stored, std::size_t size) {
  // An unchanged export gives the very bytes: no need to look at them one by one.
  if (std::memcmp(cut, stored, size) == 0) return true;
  for (std::size_t i = 0; i < size; ++i) {
    int d = int(cut[i]) - int(stored[i]);
    if (d > kTolerance || d < -kTolerance) return false;
  }
  return true;
}

std::string placeText(const ScreenPlace& place) {
  if (place.slot >= 0) return "slot " + std::to_string(place.slot);
  if (place.sprite < 0) return "cell " + std::to_string(place.row) + "," + std::to_string(place.column);
  return "sprite " + std::to_string(place.sprite) + (place.row ? " (lower tile)" : "");
}

namespace {

// One screen's work on the store. A painted square is compared with the store as it was before
// the screen: instead of a copy of the whole store, the earlier content of each tile that this
// screen overwrites is kept; a tile not overwritten yet is read from the live store.
class ScreenReplacement {
public:
  ScreenReplacement(HiResTileTable& table, ScreenReplaceInfo& info, PaintLedger& ledger)
      : table_(table), tileBytes_(table.tileBytes), info_(info), ledger_(ledger) {}

  bool init() {
    stored_.reset(new (std::nothrow) std::uint8_t[tileBytes_]);
    return bool(stored_);
  }

  // A square that holds what the export draws there: it keeps whatever the store holds.
  void leaveAsExported(const ScreenSquare& square) {
    std::uint32_t offset = 0;
    if (!hiResTileOffset(table_, square.entry.group, square.entry.index, offset)) return;
    ++info_.leftAsExported;
    auto mark = ledger_.painted.find(offset);
    if (mark != ledger_.painted.end() && mark->second.screen != ledger_.screen) ++info_.keptEarlierPaint;
    asExported_.push_back(offset);
  }

  // Compares the painted `cut` with the tile of the square's entry and writes it there when it
  // differs. Fails only when a write failed.
  Status apply(const std::uint8_t* cut, const ScreenSquare& square) {
    const TileEntryRef entry = square.entry;
    std::uint32_t offset = 0;
    if (!hiResTileOffset(table_, entry.group, entry.index, offset)) return {};
    const std::uint8_t* before;
    auto saved = earlier_.find(offset);
    if (saved != earlier_.end()) {
      before = saved->second.get();
    } else {
      if (!table_.tempFile.readAt(stored_.get(), tileBytes_, offset))
        return {}; // the tile cannot be compared: skipped
      before = stored_.get();
    }
    const bool unchanged = tilesPracticallyEqual(cut, before, tileBytes_);
    // A tile this screen painted already, painted otherwise here: two squares disagree.
    if (saved != earlier_.end() && !sameAsLive(cut, offset)) conflict(offset, entry, square.place);
    if (unchanged) return {};
    if (saved == earlier_.end()) {
      std::unique_ptr<std::uint8_t[]> keep(new (std::nothrow) std::uint8_t[tileBytes_]);
      if (!keep) return {}; // without the earlier content the tile cannot be written safely
      std::memcpy(keep.get(), stored_.get(), tileBytes_);
      earlier_.emplace(offset, std::move(keep));
      // The first write of this screen over another screen's paint.
      auto mark = ledger_.painted.find(offset);
      if (mark != ledger_.painted.end() && mark->second.screen != ledger_.screen)
        conflict(offset, entry, square.place);
    }
    if (Status s = table_.tempFile.writeAt(cut, tileBytes_, offset); !s) return s;
    ledger_.painted[offset] = {ledger_.screen, square.place};
    // An entry shown in several cells is written once per cell but counted once.
    if (recorded_.insert(std::uint64_t(entry.group) << 32 | entry.index).second)
      info_.replaced.push_back(entry);
    return {};
  }

  // The squares left as exported whose tile this screen painted elsewhere: the paint shows there.
  void countShared() {
    std::unordered_set<std::uint32_t> tiles;
    for (std::uint32_t offset : asExported_) {
      if (!earlier_.count(offset)) continue;
      ++info_.sharedSquares;
      tiles.insert(offset);
    }
    info_.sharedTiles = tiles.size();
  }

private:
  bool sameAsLive(const std::uint8_t* cut, std::uint32_t offset) {
    if (!live_) live_.reset(new (std::nothrow) std::uint8_t[tileBytes_]);
    if (!live_ || !table_.tempFile.readAt(live_.get(), tileBytes_, offset)) return true;
    return tilesPracticallyEqual(cut, live_.get(), tileBytes_);
  }

  void conflict(std::uint32_t offset, const TileEntryRef& entry, const ScreenPlace& place) {
    const PaintLedger::Mark& mark = ledger_.painted[offset];
    ledger_.conflicts.push_back({mark.screen, ledger_.screen, entry, mark.place, place});
  }

  HiResTileTable& table_;
  const std::uint32_t tileBytes_;
  ScreenReplaceInfo& info_;
  PaintLedger& ledger_;
  std::unique_ptr<std::uint8_t[]> stored_;
  std::unique_ptr<std::uint8_t[]> live_;
  std::unordered_map<std::uint32_t, std::unique_ptr<std::uint8_t[]>> earlier_;
  std::unordered_set<std::uint64_t> recorded_;
  std::vector<std::uint32_t> asExported_;
};

std::string sizeText(const ImageSize& size) {
  return std::to_string(size.width) + " x " + std::to_string(size.height);
}

void forceOpaque(std::uint8_t* tile, std::size_t bytes) {
  for (std::size_t i = 3; i < bytes; i += 4) tile[i] = 255;
}

// The squares of a screen whose image is decoded, where the export draws each cell or sprite.
void findSquares(PreparedScreen& out, const ScreenFile& screen, const TileSet& buildTiles, int scale) {
  const int edge = 8 * scale;
  auto take = [&](const TileRef& ref, int left, int top, ScreenPlace place, bool opaque) {
    if (ref.found()) out.squares.push_back({{ref.group, ref.index}, left, top, place, opaque, false});
  };
  if (const ScreenCell* grid = screen.background()) {
    // Only the grid is cut when there is one. The image starts where the export's does, with the
    // grid's left edge (256 - width pixels) cut away: at width 248 that is column 1; at a width
    // that is not a multiple of 8 the first visible column lies partly outside the image and is
    // not cut.
    const int firstColumn = 32 - (int(screen.width()) + 7) / 8;
    const int hidden = (256 - int(screen.width())) * scale;
    const int rows = int(screen.height()) / 8;
    out.squares.reserve(std::size_t(rows) * std::size_t(32 - firstColumn));
    for (int r = 0; r < rows; ++r)
      for (int c = firstColumn; c < 32; ++c) {
        const ScreenCell& cell = grid[r * 32 + c];
        // Plain background tiles are always opaque; priority tiles keep the image's alpha.
        take(lookupCell(buildTiles, cell), c * edge - hidden, r * edge,
             {-1, std::uint8_t(r), std::uint8_t(c), -1}, !(cell.nameWord & kNameWordPriorityBit));
      }
    return;
  }
  // The positions at which the screen export draws sprites; sprites keep the image's alpha.
  const TileGroup& sprites = buildTiles.groups[kSpriteGroup];
  std::uint32_t record = 0; // the record whose upper (then lower) tile is visited
  forEachSpriteTile(screen, scale,
                    [&](const std::uint8_t* colours, const std::uint8_t* planes, int left, int top) {
                      const SpriteRecord& sprite = screen.sprites()[record];
                      const bool lower = colours == sprite.palette2;
                      take({kSpriteGroup, findEntryByContent(sprites, colours, planes)}, left, top,
                           {std::int32_t(record), std::uint8_t(lower), 0, -1}, false);
                      if (lower || !(sprite.flags & kSpriteTall)) ++record;
                      return true;
                    });
}

// What the export draws of a screen at `scale`, `width` x `height` pixels (the image's expected
// size), as far as whole squares go: every cell or sprite tile resolved against the tiles as the
// export reads them (`exportTiles`, in the tiles file's order), drawn and enlarged as the scale
// stage does, in the export's order (a later sprite covers an earlier one). What it leaves
// undrawn is transparent black, as in the export.
class ExportPicture {
public:
  ExportPicture(const TileSet& exportTiles, std::uint32_t scale, std::size_t width, std::size_t height)
      : tiles_(exportTiles), scale_(scale), edge_(8 * scale), width_(width), height_(height),
        pixels_(width * height * 4) {}

  void draw(const ScreenFile& screen) {
    if (const ScreenCell* grid = screen.background()) {
      const int hidden = (256 - int(screen.width())) * int(scale_);
      for (int r = 0; r < kScreenRows; ++r)
        for (int c = 0; c < kScreenColumns; ++c)
          put(lookupCell(tiles_, grid[r * kScreenColumns + c]), c * int(edge_) - hidden, r * int(edge_));
      return;
    }
    const TileGroup& sprites = tiles_.groups[kSpriteGroup];
    forEachSpriteTile(screen, int(scale_),
                      [&](const std::uint8_t* colours, const std::uint8_t* planes, int left, int top) {
                        put({kSpriteGroup, findEntryByContent(sprites, colours, planes)}, left, top);
                        return true;
                      });
  }

  bool inside(int left, int top) const {
    return left >= 0 && top >= 0 && std::size_t(left) + edge_ <= width_ &&
           std::size_t(top) + edge_ <= height_;
  }

  // The square at (left, top), which lies inside, into `out` in the byte order of the hi-res tiles.
  void cut(int left, int top, std::uint8_t* out) const {
    for (std::uint32_t y = 0; y < edge_; ++y)
      std::memcpy(out + std::size_t(y) * edge_ * 4, at(left, top + int(y)), edge_ * 4);
  }

private:
  void put(const TileRef& ref, int left, int top) {
    if (!ref.found() || !inside(left, top)) return;
    auto [tile, fresh] = generated_.try_emplace(std::uint64_t(ref.group) << 32 | ref.index);
    if (fresh) {
      tile->second.resize(std::size_t(edge_) * edge_ * 4);
      generateHiResTile(tiles_.groups[ref.group], ref.group, ref.index, scale_, tile->second.data());
    }
    for (std::uint32_t y = 0; y < edge_; ++y)
      std::memcpy(at(left, top + int(y)), &tile->second[std::size_t(y) * edge_ * 4], edge_ * 4);
  }
  std::uint8_t* at(int left, int top) {
    return &pixels_[(std::size_t(top) * width_ + std::size_t(left)) * 4];
  }
  const std::uint8_t* at(int left, int top) const {
    return &pixels_[(std::size_t(top) * width_ + std::size_t(left)) * 4];
  }

  const TileSet& tiles_;
  const std::uint32_t scale_, edge_;
  const std::size_t width_, height_;
  std::vector<std::uint8_t> pixels_;
  std::unordered_map<std::uint64_t, std::vector<std::uint8_t>> generated_; // by entry
};

// Cuts every square that lies inside the image, opaque squares with their alpha at 255, and marks
// those where the image holds what the export draws, masked the same way, give or take 2 in every
// byte; the cuts of the others are kept.
void cutSquares(PreparedScreen& out, const RgbaImage& image, const ScreenFile& screen,
                const TileSet& exportTiles, std::uint32_t scale) {
  const std::uint32_t edge = 8 * scale, tileBytes = 256 * scale * scale;
  ExportPicture exported(exportTiles, scale, out.info.expectedSize.width, out.info.expectedSize.height);
  exported.draw(screen);
  std::vector<std::uint8_t> expected(tileBytes);
  out.cuts.reserve(out.squares.size() * tileBytes);
  for (ScreenSquare& square : out.squares) {
    if (!squareIsCut(out, square, scale)) continue;
    const std::size_t at = out.cuts.size();
    out.cutOf.push_back(std::uint32_t(at / tileBytes));
    out.cuts.resize(at + tileBytes);
    std::uint8_t* cut = out.cuts.data() + at;
    cutTile(image, square.left, square.top, edge, cut);
    if (square.opaque) forceOpaque(cut, tileBytes);
    if (!exported.inside(square.left, square.top)) continue;
    exported.cut(square.left, square.top, expected.data());
    if (square.opaque) forceOpaque(expected.data(), tileBytes);
    square.asExported = tilesPracticallyEqual(cut, expected.data(), tileBytes);
    if (square.asExported) {
      out.cuts.resize(at);
      out.cutOf.pop_back();
    }
  }
}

} // namespace

PreparedScreen prepareScreen(const HiResTileTable& table, const TileSet& buildTiles,
                             const std::string& screenPath, const std::string& imagePath,
                             const std::string& alphaPath, const TileSet* exportTiles) {
  PreparedScreen out;
  ScreenReplaceInfo& found = out.info;
  auto skipped = [&](Error why) {
    out.skipped = true;
    out.reason = std::move(why);
    return std::move(out);
  };
  ScreenFile screen;
  if (const Status read = readScreenFile(screen, screenPath, TilesBeside::Skip); !read) {
    Error why = read.error();
    if (why.path.empty()) why.path = screenPath;
    return skipped(std::move(why));
  }
  found.screenRead = true;
  if (!table.tempFile || table.tileCount == 0 || table.scale < 1 || table.scale > 4)
    return skipped(makeError(ErrorCause::InvalidArgument, screenPath, "no high-resolution tiles to replace"));
  // The squares are known before the image is looked at: a screen whose image is missing or cannot
  // be used still shows its tiles (what is left to paint).
  findSquares(out, screen, buildTiles, int(table.scale));
  // The size is checked from the header, before any pixel is decoded.
  const Result<ImageInfo> header = readImageHeader(imagePath);
  if (!header) return skipped(header.error());
  const bool spritesOnly = screen.background() == nullptr;
  found.imageRead = true;
  found.imageSize = {header->width, header->height};
  found.expectedSize = exportImageSize(screen, int(table.scale), spritesOnly);
  if (found.imageSize != found.expectedSize) {
    for (int factor = 1; factor <= 4; ++factor) {
      if (found.imageSize != exportImageSize(screen, factor, spritesOnly)) continue;
      found.paintedFactor = factor;
      return skipped(makeError(ErrorCause::BadFormat, imagePath,
                               "the image is " + sizeText(found.imageSize) + " pixels, painted at " +
                                   std::to_string(factor) + "x; this build at " +
                                   std::to_string(table.scale) + "x needs " + sizeText(found.expectedSize)));
    }
  }
  Result<RgbaImage> loaded = loadImageWithAlpha(imagePath, alphaPath);
  if (!loaded) return skipped(loaded.error());
  cutSquares(out, *loaded, screen, exportTiles ? *exportTiles : buildTiles, table.scale);
  return out;
}

bool squareIsCut(const PreparedScreen& screen, const ScreenSquare& square, std::uint32_t scale) {
  const long long edge = 8ll * scale;
  return !square.asExported && square.left >= 0 && square.top >= 0 &&
         square.left + edge <= screen.info.imageSize.width &&
         square.top + edge <= screen.info.imageSize.height;
}

Status applyPreparedScreen(HiResTileTable& table, const PreparedScreen& screen, ProgressSink* progress,
                           ScreenReplaceInfo* info, PaintLedger* ledger) {
  ScreenReplaceInfo ignored;
  ScreenReplaceInfo& found = info ? *info : ignored;
  found = screen.info;
  found.replaced.clear();
  if (screen.skipped) return screen.reason;
  PaintLedger ownLedger;
  ScreenReplacement work(table, found, ledger ? *ledger : ownLedger);
  if (!work.init()) return makeError(ErrorCause::OutOfMemory, {}, "no memory for a tile");
  const std::size_t cutCount = screen.cuts.size() / table.tileBytes;
  std::size_t cut = 0; // the next of screen.cutOf
  for (std::size_t i = 0; i < screen.squares.size(); ++i) {
    if (i % 256 == 0 && cancelRequested(progress)) return cancelledError();
    const ScreenSquare& square = screen.squares[i];
    if (square.asExported) {
      work.leaveAsExported(square);
      continue;
    }
    if (!squareIsCut(screen, square, table.scale)) continue;
    if (cut >= screen.cutOf.size() || screen.cutOf[cut] >= cutCount) break; // prepared at another scale
    const std::uint8_t* const tile = screen.cuts.data() + std::size_t(screen.cutOf[cut++]) * table.tileBytes;
    if (Status applied = work.apply(tile, square); !applied) {
      Error why = applied.error();
      // OutOfMemory says that nothing was written.
      if (why.cause == ErrorCause::OutOfMemory) why.cause = ErrorCause::WriteFailed;
      return why;
    }
  }
  work.countShared();
  return {};
}

Status replaceTilesFromScreen(HiResTileTable& table, const TileSet& buildTiles, const std::string& screenPath,
                              const std::string& imagePath, const std::string& alphaPath,
                              ProgressSink* progress, ScreenReplaceInfo* info) {
  const PreparedScreen prepared = prepareScreen(table, buildTiles, screenPath, imagePath, alphaPath);
  return applyPreparedScreen(table, prepared, progress, info);
}

} // namespace zelvo
