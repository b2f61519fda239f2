// Prepared screens (tile_replace.h) kept in the build cache, so that an image that did not change
// is not decoded again. A screen's entry is keyed by the digests of all its preparation reads:
// the screen file, the image, the alpha image (or that there is none), the tiles file the build
// uses, with the build's scale and the program's version. What is kept is exactly what
// applyPreparedScreen needs: the findings, the squares and the painted tiles.
#pragma once

#include "compress/digest.h"
#include "pipeline/tile_replace.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zelvo {

class BuildCache;

// What prepareScreen gives for these arguments, from `cache` when it holds the screen, else
// prepared now and kept there. `tilesDigest` is the digest of the tiles file that `buildTiles`
// (and `exportTiles`) were read from. Without a cache, or when a file cannot be read for its
// digest, the screen is simply prepared. Skipped screens are kept only when the reason lies in
// the files themselves (not in memory, the system or the table).
PreparedScreen prepareScreenCached(BuildCache* cache, const ContentDigest& tilesDigest,
                                   const HiResTileTable& table, const TileSet& buildTiles,
                                   const std::string& screenPath, const std::string& imagePath,
                                   const std::string& alphaPath, const TileSet* exportTiles = nullptr);

// A prepared screen as the cache keeps it: its painted tiles once each however many squares show
// them, then the rest; and back (the tiles staying where they were read); nothing when the bytes do
// not hold a whole one.
std::vector<std::uint8_t> preparedScreenBytes(const PreparedScreen& screen, std::uint32_t scale);
std::optional<PreparedScreen> preparedScreenFromBytes(std::vector<std::uint8_t> bytes, std::uint32_t scale);

} // namespace zelvo
