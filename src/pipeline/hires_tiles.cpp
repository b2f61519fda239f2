#include "pipeline/hires_tiles.h"

#include "platform/temp_files.h"
#include "render/scale.h"
#include "render/tile_decode.h"
#include "render/tile_draw.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>

namespace zelvo {

namespace {

constexpr std::uint32_t kBlockPixels = 64;
constexpr std::uint32_t kProgressStep = 1024; // entries between two progress reports
constexpr std::uint64_t kOffsetLimit = 0x100000000ull;

std::uint64_t mix(std::uint64_t h, std::uint64_t v) {
  h ^= v * 0x9E3779B97F4A7C15ull;
  h = (h << 27) | (h >> 37);
  return h * 0xC2B2AE3D27D4EB4Full;
}

// Hash of a drawn block and its pattern index: duplicates can only be found among equal hashes.
std::uint64_t blockHash(std::uint32_t patternIndex, const std::uint8_t* block) {
  std::uint64_t h = 0x243F6A8885A308D3ull ^ patternIndex;
  for (std::uint32_t i = 0; i < kTileBlockBytes; i += 8) {
    std::uint64_t word;
    std::memcpy(&word, block + i, 8);
    h = mix(h, word);
  }
  h ^= h >> 29;
  h *= 0xBF58476D1CE4E5B9ull;
  return h ^ (h >> 32);
}

// Everything one generation needs and produces before it is moved into the table.
struct Generation {
  File file;
  std::unique_ptr<std::uint32_t[]> offsets;
  std::uint32_t entryCount = 0;
  std::uint32_t scale = 0;
  std::uint32_t tileBytes = 0;
  std::uint32_t tilesWritten = 0;
  std::uint32_t entriesDone = 0;
  std::unique_ptr<std::uint32_t[]> scratch; // 64 pixels per entry of the largest group
  std::unique_ptr<std::uint32_t[]> tile;    // one enlarged tile
  ProgressSink* progress = nullptr;
};

// Draws every entry of `group` into the scratch area. A block is cleared first, so an entry whose
// palette or pattern cannot be found gets a transparent black tile and never pixels left over
// from another entry.
void drawGroup(const TileGroup& group, int groupIndex, std::uint8_t* scratch) {
  for (std::uint32_t i = 0; i < group.count; ++i)
    drawHiResBlock(group, groupIndex, i, scratch + std::size_t(kTileBlockBytes) * i);
}

Status generateGroup(Generation& gen, const TileGroup& group, int groupIndex, std::uint32_t* out) {
  const std::uint32_t n = group.count;
  if (n == 0) return {};
  if (!group.entries) return makeError(ErrorCause::InvalidArgument, {}, "a tile group without its entries");
  std::uint8_t* scratch = reinterpret_cast<std::uint8_t*>(gen.scratch.get());
  drawGroup(group, groupIndex, scratch);
  if (!markDuplicateTiles(group.entries, scratch, n, out))
    return makeError(ErrorCause::OutOfMemory, {}, "no memory to look for repeated tiles");

  std::uint8_t* tile = reinterpret_cast<std::uint8_t*>(gen.tile.get());
  for (std::uint32_t i = 0; i < n; ++i) {
    if (out[i] != kOwnTile) {
      // The entry it repeats comes earlier and already holds its offset.
      out[i] = out[out[i]];
    } else {
      // Tiles are only appended to the new file, so its position is known without asking.
      const std::uint64_t position = std::uint64_t(gen.tilesWritten) * gen.tileBytes;
      if (position + gen.tileBytes > kOffsetLimit)
        return makeError(ErrorCause::LimitExceeded, {}, "the hi-res tiles would take more than 4 GiB");
      if (!enlargeTileBlock(scratch + std::size_t(kTileBlockBytes) * i, gen.scale, tile))
        return makeError(ErrorCause::InvalidArgument, {}, "a scale outside 1 to 4");
      if (Status s = gen.file.writeAll(tile, gen.tileBytes); !s) return s;
      out[i] = std::uint32_t(position);
      ++gen.tilesWritten;
    }
    ++gen.entriesDone;
    if (gen.entriesDone % kProgressStep == 0) {
      reportProgress(gen.progress, ProgressStage::GeneratingTiles, gen.entriesDone, gen.entryCount);
      if (cancelRequested(gen.progress)) return cancelledError();
    }
  }
  return {};
}

} // namespace

bool hiResGroupIsOpaque(int group) { return group >= 0 && group < 4; }

std::uint32_t hiResGroupFlip(int group) {
  static constexpr std::uint32_t kFlips[4] = {TileFlipNone, TileFlipH, TileFlipV, TileFlipHV};
  if (group < 0 || group >= kSpriteGroup) return TileFlipNone;
  return kFlips[group & 3];
}

std::uint32_t hiResGroupStart(const HiResTileTable& table, int group) {
  if (group <= 0) return 0;
  if (group == 1) return table.groupCounts[0];
  if (group >= kGroupCount) return table.entryCount;
  return table.groupStarts[group - 2];
}

bool hiResTileOffset(const HiResTileTable& table, int group, std::uint32_t index, std::uint32_t& offset) {
  if (group < 0 || group >= kGroupCount || !table.entryOffsets) return false;
  if (index >= table.groupCounts[group]) return false;
  offset = table.entryOffsets[hiResGroupStart(table, group) + index];
  return true;
}

void drawHiResBlock(const TileGroup& group, int groupIndex, std::uint32_t index, std::uint8_t* block) {
  std::memset(block, 0, kTileBlockBytes);
  if (hiResGroupIsOpaque(groupIndex))
    DrawTile(group, index, block, kTileBlockPitch, hiResGroupFlip(groupIndex), PixelArgb32);
  else
    DrawTileAlpha(group, index, block, kTileBlockPitch, hiResGroupFlip(groupIndex));
}

bool generateHiResTile(const TileGroup& group, int groupIndex, std::uint32_t index, std::uint32_t scale,
                       std::uint8_t* tile) {
  std::uint8_t block[kTileBlockBytes];
  drawHiResBlock(group, groupIndex, index, block);
  return enlargeTileBlock(block, scale, tile);
}

bool markDuplicateTiles(const TileEntry* entries, const std::uint8_t* blocks, std::uint32_t count,
                        std::uint32_t* out) {
  if (count == 0) return true;
  // Open addressing over the entries that keep a tile of their own; at most half full.
  std::size_t capacity = 16;
  while (capacity < std::size_t(count) * 2) capacity *= 2;
  const std::size_t mask = capacity - 1;
  std::unique_ptr<std::uint32_t[]> slots(new (std::nothrow) std::uint32_t[capacity]);
  std::unique_ptr<std::uint64_t[]> hashes(new (std::nothrow) std::uint64_t[count]);
  if (!slots || !hashes) return false;
  std::fill_n(slots.get(), capacity, kOwnTile);

  for (std::uint32_t j = 0; j < count; ++j) {
    const std::uint32_t pattern = entries[j].patternIndex;
    const std::uint8_t* block = blocks + std::size_t(kTileBlockBytes) * j;
    const std::uint64_t h = blockHash(pattern, block);
    hashes[j] = h;
    out[j] = kOwnTile;
    for (std::size_t s = std::size_t(h) & mask;; s = (s + 1) & mask) {
      const std::uint32_t i = slots[s];
      if (i == kOwnTile) {
        slots[s] = j;
        break;
      }
      // Every entry already in the table has a tile of its own, and equal entries form classes,
      // so at most one of them matches: the lowest entry of the class.
      if (hashes[i] == h && entries[i].patternIndex == pattern &&
          std::memcmp(blocks + std::size_t(kTileBlockBytes) * i, block, kTileBlockBytes) == 0) {
        out[j] = i;
        break;
      }
    }
  }
  return true;
}

Status generateHiResTiles(HiResTileTable& table, const TileSet& tiles, std::uint32_t scale,
                          ProgressSink* progress) {
  scale &= 0xFFu;
  if (scale == 0 || scale > 4)
    return makeError(ErrorCause::InvalidArgument, {}, "scale " + std::to_string(scale) + " is not 1 to 4");

  Generation gen;
  gen.scale = scale;
  gen.tileBytes = kTileBlockBytes * scale * scale;
  gen.progress = progress;

  Result<File> store = createScratchFile();
  if (!store) return store.error();
  gen.file = std::move(*store);
  gen.file.nameAs("the hi-res tile store in " + gen.file.path());

  std::uint64_t total = 0;
  std::uint32_t largest = 0;
  for (const TileGroup& group : tiles.groups) {
    total += group.count;
    largest = std::max(largest, group.count);
  }
  if (total == 0) return makeError(ErrorCause::InvalidArgument, {}, "the tiles file holds no tile entry");
  if (total > 0xFFFFFFFFull)
    return makeError(ErrorCause::LimitExceeded, {}, "more than 4,294,967,295 tile entries");
  gen.entryCount = std::uint32_t(total);
  gen.offsets.reset(new (std::nothrow) std::uint32_t[gen.entryCount]);
  gen.scratch.reset(new (std::nothrow) std::uint32_t[std::size_t(largest) * kBlockPixels]);
  gen.tile.reset(new (std::nothrow) std::uint32_t[gen.tileBytes / 4]);
  if (!gen.offsets || !gen.scratch || !gen.tile)
    return makeError(ErrorCause::OutOfMemory, {}, "no memory for the hi-res tiles");

  std::uint32_t counts[kGroupCount];
  std::uint32_t start = 0;
  std::uint32_t starts[kGroupCount];
  for (int g = 0; g < kGroupCount; ++g) {
    counts[g] = tiles.groups[g].count;
    starts[g] = start;
    if (Status made = generateGroup(gen, tiles.groups[g], g, gen.offsets.get() + start); !made) return made;
    start += counts[g];
    reportProgress(progress, ProgressStage::GeneratingTiles, gen.entriesDone, gen.entryCount);
  }
  // No flush to disk: the file is read back only through this same handle, which sees every
  // write at once, and it is deleted when it closes.

  table.tempFile = std::move(gen.file); // closes (and so removes) the previous tile file
  table.entryOffsets = std::move(gen.offsets);
  table.entryCount = gen.entryCount;
  table.tileCount = gen.tilesWritten;
  std::copy(counts, counts + kGroupCount, table.groupCounts);
  std::copy(starts + 2, starts + kGroupCount, table.groupStarts);
  table.scale = scale;
  table.tileBytes = gen.tileBytes;
  return {};
}

} // namespace zelvo
