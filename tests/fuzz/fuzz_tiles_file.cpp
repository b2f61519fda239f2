// Fuzz target: the tiles file reader, then the lookups over what it loaded.
#include "fuzz_input.h"
#include "tiles/tiles_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace zelvo;
  fuzz::InputFile input(data, size);
  std::unique_ptr<TileSet> set = createTileSet();
  if (!set || !readTilesFile(*set, input.path())) return 0;
  if (const PaletteEntry* p = set->palette(0)) findPalette(*set, p->colours);
  if (const PatternEntry* p = set->pattern(0)) findPattern(*set, p->planes);
  for (const TileGroup& group : set->groups)
    if (const TileEntry* e = group.entry(group.count - 1))
      findTileEntry(group, e->paletteIndex, e->patternIndex);
  return 0;
}
