// The in-memory catalogue of palettes, patterns and tile entries, filed in nine groups.
#pragma once

#include "platform/error.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace zelvo {

inline constexpr std::uint32_t kNotFound = 0xFFFFFFFFu;
inline constexpr int kGroupCount = 9;
inline constexpr int kSpriteGroup = 8;

// Records are held in memory exactly as in the tiles file (little-endian, no padding).
struct PaletteEntry {
  std::uint8_t colours[16];
  std::uint64_t orderKeyMinor;
  std::uint64_t orderKeyMajor;
};
static_assert(sizeof(PaletteEntry) == 32);

struct PatternEntry {
  std::uint8_t planes[32];
  std::uint64_t orderKeyMinor;
  std::uint64_t orderKeyMajor;
};
static_assert(sizeof(PatternEntry) == 48);

struct TileEntry {
  std::uint32_t paletteIndex;
  std::uint32_t patternIndex;
  std::uint64_t orderKeyMinor;
  std::uint64_t orderKeyMajor;
};
static_assert(sizeof(TileEntry) == 24);

enum class GroupKind { OpaqueBackground, PriorityBackground, Sprite };

struct TileSet;

// One of the nine groups: its entries, and the palette and pattern tables of its TileSet.
struct TileGroup {
  const TileSet* set = nullptr;
  TileEntry* entries = nullptr;
  std::uint32_t count = 0;
  std::uint32_t flip = 0; // name-word bits 9-10: 0, 512, 1024, 1536
  GroupKind kind = GroupKind::OpaqueBackground;

  // Entry i, or null when i is not below the count.
  const TileEntry* entry(std::uint32_t i) const { return i < count && entries ? entries + i : nullptr; }
};

struct TileLookupIndex; // hashed lookups, built on first use (tile_store.cpp)

struct TileSet {
  TileSet();
  ~TileSet();
  TileSet(const TileSet&) = delete;
  TileSet& operator=(const TileSet&) = delete;

  PaletteEntry* palettes = nullptr;
  std::uint32_t paletteCount = 0;
  PatternEntry* patterns = nullptr;
  std::uint32_t patternCount = 0;
  TileGroup groups[kGroupCount];

  // The one block holding all eleven tables in payload order; null when all are empty.
  std::unique_ptr<std::uint8_t[]> block;
  std::size_t blockSize = 0;

  mutable std::unique_ptr<TileLookupIndex> lookup;

  const PaletteEntry* palette(std::uint32_t i) const {
    return i < paletteCount && palettes ? palettes + i : nullptr;
  }
  const PatternEntry* pattern(std::uint32_t i) const {
    return i < patternCount && patterns ? patterns + i : nullptr;
  }
  std::uint32_t entryCount() const; // sum of the nine group counts
};

// Counts of the eleven tables, in payload order.
struct TileCounts {
  std::uint32_t palettes = 0;
  std::uint32_t patterns = 0;
  std::uint32_t groups[kGroupCount] = {};
};

// Payload size of the counts; false when it does not fit in 32 bits.
bool payloadSizeOf(const TileCounts& counts, std::uint32_t& size);

// Create: an empty set.
std::unique_ptr<TileSet> createTileSet();
// Replaces the contents with a complete block laid out as a tiles file payload (the old block
// is released only now). `block` may be null when every count is 0.
void installTileBlock(TileSet& set, std::unique_ptr<std::uint8_t[]> block, const TileCounts& counts);
// A copy of `set` (its tables, not its lookups); OutOfMemory when its block cannot be had.
Result<std::unique_ptr<TileSet>> copyTileSet(const TileSet& set);
// Must be called after the records were changed in place (the lookups are rebuilt on demand).
void invalidateLookups(const TileSet& set);

// Lookups: the lowest matching index, or kNotFound.
std::uint32_t findPalette(const TileSet& set, const std::uint8_t colours[16]);
std::uint32_t findPattern(const TileSet& set, const std::uint8_t planes[32]);
std::uint32_t findTileEntry(const TileGroup& group, std::uint32_t paletteIndex, std::uint32_t patternIndex);
// Builds every lookup of `set` now instead of on first use: afterwards lookups in the unchanged
// set only read, so several threads may look up at once.
void prepareLookups(const TileSet& set);

// The name word of a background cell: bits 9 and 10 are its flip (TileFlip), bit 12 its priority.
inline constexpr std::uint32_t kNameWordFlipBits = 0x600;
inline constexpr std::uint32_t kNameWordFlipUnit = 0x200; // horizontal flip; vertical is twice that
inline constexpr std::uint32_t kNameWordPriorityBit = 0x1000;
inline constexpr int kPriorityGroupOffset = 4; // groups 4 to 7 are groups 0 to 3 with priority
// The background group 0 to 7 of a name word.
int groupForNameWord(std::uint32_t nameWord);
// The entry of `group` that shows these colours and this pattern: the palette and the pattern
// looked up in the group's set, then the entry of that pair; kNotFound when any of them is missing.
std::uint32_t findEntryByContent(const TileGroup& group, const std::uint8_t colours[16],
                                 const std::uint8_t planes[32]);

// Stable sort, descending by orderKeyMajor then orderKeyMinor, of palettes, patterns and every
// group, with the entries' indexes remapped. Never fails.
void sortByOrderKeys(TileSet& set);
// The same, asking `scratchAvailable(table)` before each table takes its scratch memory (table 0
// palettes, 1 patterns, 2 + g group g); a refusal acts as exhausted memory. Null allows all.
void sortByOrderKeysWithGate(TileSet& set, bool (*scratchAvailable)(int table, void* context), void* context);
// Sets every order key of every record to 0.
void clearOrderKeys(TileSet& set);

} // namespace zelvo
