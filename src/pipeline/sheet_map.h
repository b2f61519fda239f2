// The map of a sheet for painting: which stored tile each slot of the sheet holds, told by the
// tile's content (its group, palette colours and pattern planes) rather than by an index, so a
// sheet stays valid when a new capture adds tiles. The map travels twice: as one compressed text
// chunk inside the PNG, and as a JSON file beside the image (the same name with ".json"), which
// image editors cannot strip.
#pragma once

#include "compress/md5.h"
#include "platform/error.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zelvo {

// The keyword of the PNG text chunk, and the "format" of the JSON, that carry a map.
inline constexpr const char* kSheetMapKeyword = "zelvo-sheet";
inline constexpr int kSheetMapVersion = 1;
// The largest sidecar read: room for every slot of the largest image a build reads.
inline constexpr std::size_t kMaxSheetMapBytes = std::size_t(16) << 20;

struct SheetSlot {
  std::int32_t x = 0, y = 0; // the slot's top-left pixel
  std::uint32_t size = 0;    // its edge in pixels: 8 x the sheet's scale
  int group = 0;             // 0 to 8
  std::uint8_t colours[16] = {};
  std::uint8_t planes[32] = {};
  bool painted = false; // an image painted the tile when the sheet was written
  // The slot's pixels as written, in the byte order of the hi-res tiles (blue, green, red, alpha),
  // top row first: a slot that still holds them is not paint, whatever the store holds since.
  Md5Digest digest{};
};

struct SheetMap {
  std::uint32_t scale = 0;             // 1 to 4
  std::uint32_t width = 0, height = 0; // of the image as written
  std::uint32_t page = 1, pages = 1;   // this image among those written together
  std::vector<SheetSlot> slots;
};

// The map as one line of JSON (with `indent` >= 0, indented): what the text chunk and the sidecar
// hold.
std::string sheetMapJson(const SheetMap& map, int indent = -1);

// Whether `text` claims to be a map (a JSON object whose "format" is kSheetMapKeyword), before it
// is checked.
bool looksLikeSheetMap(std::string_view text);
// The map in `text`, every field checked: a version this program reads, a scale of 1 to 4, and
// slots of the scale's size inside the image. `name` is what errors name.
Result<SheetMap> parseSheetMap(std::string_view text, const std::string& name);

// The digest a slot keeps of `size` bytes of tile pixels.
inline Md5Digest slotDigest(const std::uint8_t* tile, std::size_t size) { return md5Of(tile, size); }

} // namespace zelvo
