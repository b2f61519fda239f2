// Sheets painted by artists, found among the images of the input folder and made ready to be
// applied like a screen: each slot of a sheet is a square that shows the tile its map names by
// content.
#pragma once

#include "pipeline/sheet_map.h"
#include "pipeline/tile_replace.h"
#include "platform/fs.h"

#include <cstdint>
#include <string>
#include <vector>

namespace zelvo {

// An image of the input folder that may be a sheet, with what lies beside it. Names as the
// folder lists them.
struct SheetCandidate {
  std::string image;
  std::string alpha;   // "<base>_alpha<extension>", as listed when present
  std::string sidecar; // "<base>.json" as listed, empty when there is none
};

// The PNG and BMP images of `names` (a listing of the folder) that no screen of `screens` takes:
// their names, without case, are neither a screen's base name nor its "_alpha" name, nor the
// alpha image of another candidate. In the listing's order.
std::vector<SheetCandidate> sheetCandidates(const std::vector<DirEntry>& names,
                                            const std::vector<DirEntry>& screens);

struct PreparedSheet {
  bool isSheet = false; // a map was found: in the image's text chunk or in the sidecar
  bool fromChunk = false;
  std::uint32_t scale = 0; // the map's, once read
  std::size_t slotCount = 0;
  std::size_t slotsNotInCapture = 0; // slots whose tile the build's tiles do not hold: skipped
  // The slots as squares: `skipped` with the reason when the sheet cannot be applied (its image or
  // map cannot be read, or it is painted at another scale: then info.paintedFactor is that scale).
  // A slot that holds what was written there (its digest), or within 2 of the tile as the scale
  // stage makes it, is as exported: not paint.
  PreparedScreen screen;
};

// Reads a candidate: its image (with the alpha image when the image has no transparency of its
// own) and its map, the one in the PNG's chunk before the sidecar's. Like prepareScreen it only
// reads the store's scale and `buildTiles` (whose lookups were prepared), so sheets may be
// prepared on several threads while another applies.
PreparedSheet prepareSheet(const HiResTileTable& table, const TileSet& buildTiles,
                           const std::string& imagePath, const std::string& alphaPath,
                           const std::string& sidecarPath);

} // namespace zelvo
