#include "tiles/tile_store.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace zelvo {

namespace {

constexpr std::size_t kPaletteKeyBytes = 16;
constexpr std::size_t kPatternKeyBytes = 32;
constexpr int kLookupTables = 2 + kGroupCount; // palettes, patterns, then the nine groups

std::uint64_t load64(const std::uint8_t* p) {
  std::uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}

std::uint64_t mix(std::uint64_t h) {
  h ^= h >> 33;
  h *= 0xFF51AFD7ED558CCDull;
  h ^= h >> 33;
  h *= 0xC4CEB9FE1A85EC53ull;
  h ^= h >> 33;
  return h;
}

// Hash of a key of a multiple of 8 bytes.
std::uint64_t hashKey(const std::uint8_t* key, std::size_t bytes) {
  std::uint64_t h = 0x9E3779B97F4A7C15ull;
  for (std::size_t i = 0; i < bytes; i += 8) h = mix(h ^ load64(key + i)) + i;
  return mix(h);
}

std::uint64_t entryKey(std::uint32_t paletteIndex, std::uint32_t patternIndex) {
  return std::uint64_t(paletteIndex) | (std::uint64_t(patternIndex) << 32);
}

} // namespace

// Open-addressing hash tables, one per table, each mapping a key to the lowest index that holds
// it. Built on the first lookup of a table; a table is rebuilt when its records or count moved.
struct TileLookupIndex {
  struct Table {
    const void* records = nullptr; // what the slots were built for
    std::uint32_t count = 0;
    bool built = false;
    std::unique_ptr<std::uint32_t[]> slots; // index + 1, 0 = empty; null when it could not be built
    std::uint64_t mask = 0;

    bool current(const void* r, std::uint32_t c) const { return built && records == r && count == c; }
  };
  Table tables[kLookupTables];
};

namespace {

// Builds (or marks as unavailable) the slots of `table` for `count` keys; keyOf(i) yields the
// hash of record i and equal(a, b) compares the keys of records a and b.
template <class HashOf, class Equal>
void buildTable(TileLookupIndex::Table& table, const void* records, std::uint32_t count, HashOf hashOf,
                Equal equal) {
  table.records = records;
  table.count = count;
  table.built = true;
  table.slots.reset();
  table.mask = 0;
  if (count == 0) return;
  std::uint64_t capacity = 16;
  while (capacity < std::uint64_t(count) * 2) capacity *= 2;
  std::unique_ptr<std::uint32_t[]> slots(new (std::nothrow) std::uint32_t[capacity]());
  if (!slots) return; // lookups fall back to scanning
  const std::uint64_t mask = capacity - 1;
  for (std::uint32_t i = 0; i < count; ++i) {
    std::uint64_t s = hashOf(i) & mask;
    for (;;) {
      const std::uint32_t held = slots[s];
      if (held == 0) {
        slots[s] = i + 1;
        break;
      }
      if (equal(held - 1, i)) break; // a lower index already holds this key
      s = (s + 1) & mask;
    }
  }
  table.slots = std::move(slots);
  table.mask = mask;
}

// Finds the key through the slots; matches(i) compares record i with the key.
template <class Matches>
std::uint32_t probe(const TileLookupIndex::Table& table, std::uint64_t hash, Matches matches) {
  std::uint64_t s = hash & table.mask;
  for (;;) {
    const std::uint32_t held = table.slots[s];
    if (held == 0) return kNotFound;
    if (matches(held - 1)) return held - 1;
    s = (s + 1) & table.mask;
  }
}

TileLookupIndex* lookupOf(const TileSet& set) {
  if (!set.lookup) set.lookup.reset(new (std::nothrow) TileLookupIndex);
  return set.lookup.get();
}

std::uint32_t scanPalettes(const TileSet& set, const std::uint8_t* colours) {
  for (std::uint32_t i = 0; i < set.paletteCount; ++i)
    if (std::memcmp(set.palettes[i].colours, colours, kPaletteKeyBytes) == 0) return i;
  return kNotFound;
}

std::uint32_t scanPatterns(const TileSet& set, const std::uint8_t* planes) {
  for (std::uint32_t i = 0; i < set.patternCount; ++i)
    if (std::memcmp(set.patterns[i].planes, planes, kPatternKeyBytes) == 0) return i;
  return kNotFound;
}

std::uint32_t scanEntries(const TileGroup& group, std::uint32_t paletteIndex, std::uint32_t patternIndex) {
  for (std::uint32_t i = 0; i < group.count; ++i)
    if (group.entries[i].paletteIndex == paletteIndex && group.entries[i].patternIndex == patternIndex)
      return i;
  return kNotFound;
}

} // namespace

TileSet::TileSet() {
  for (int g = 0; g < kGroupCount; ++g) {
    groups[g].set = this;
    groups[g].flip = std::uint32_t(g % kPriorityGroupOffset) * kNameWordFlipUnit;
    groups[g].kind = g == kSpriteGroup           ? GroupKind::Sprite
                     : g >= kPriorityGroupOffset ? GroupKind::PriorityBackground
                                                 : GroupKind::OpaqueBackground;
  }
}

TileSet::~TileSet() = default;

std::uint32_t TileSet::entryCount() const {
  std::uint32_t total = 0;
  for (const TileGroup& g : groups) total += g.count;
  return total;
}

bool payloadSizeOf(const TileCounts& counts, std::uint32_t& size) {
  std::uint64_t total = std::uint64_t(counts.palettes) * sizeof(PaletteEntry) +
                        std::uint64_t(counts.patterns) * sizeof(PatternEntry);
  for (std::uint32_t c : counts.groups) total += std::uint64_t(c) * sizeof(TileEntry);
  if (total > 0xFFFFFFFFull) return false;
  size = std::uint32_t(total);
  return true;
}

std::unique_ptr<TileSet> createTileSet() { return std::make_unique<TileSet>(); }

void installTileBlock(TileSet& set, std::unique_ptr<std::uint8_t[]> block, const TileCounts& counts) {
  std::uint32_t size = 0;
  // A block that cannot stand for the counts leaves an empty set rather than stray pointers.
  if (!payloadSizeOf(counts, size) || size == 0 || !block) {
    block.reset();
    size = 0;
  }
  std::uint8_t* p = block.get();
  auto take = [&p](std::uint32_t count, std::size_t recordSize) -> std::uint8_t* {
    if (!p || count == 0) return nullptr;
    std::uint8_t* start = p;
    p += std::size_t(count) * recordSize;
    return start;
  };
  const bool filled = block != nullptr;
  set.palettes = reinterpret_cast<PaletteEntry*>(take(counts.palettes, sizeof(PaletteEntry)));
  set.paletteCount = filled ? counts.palettes : 0;
  set.patterns = reinterpret_cast<PatternEntry*>(take(counts.patterns, sizeof(PatternEntry)));
  set.patternCount = filled ? counts.patterns : 0;
  for (int g = 0; g < kGroupCount; ++g) {
    set.groups[g].entries = reinterpret_cast<TileEntry*>(take(counts.groups[g], sizeof(TileEntry)));
    set.groups[g].count = filled ? counts.groups[g] : 0;
  }
  set.blockSize = size;
  set.block = std::move(block); // the old block goes only now
  set.lookup.reset();
}

void invalidateLookups(const TileSet& set) { set.lookup.reset(); }

std::uint32_t findPalette(const TileSet& set, const std::uint8_t colours[16]) {
  if (set.paletteCount == 0 || !set.palettes) return kNotFound;
  TileLookupIndex* index = lookupOf(set);
  if (!index) return scanPalettes(set, colours);
  TileLookupIndex::Table& table = index->tables[0];
  const PaletteEntry* records = set.palettes;
  if (!table.current(records, set.paletteCount))
    buildTable(
        table, records, set.paletteCount,
        [records](std::uint32_t i) { return hashKey(records[i].colours, kPaletteKeyBytes); },
        [records](std::uint32_t a, std::uint32_t b) {
          return std::memcmp(records[a].colours, records[b].colours, kPaletteKeyBytes) == 0;
        });
  if (!table.slots) return scanPalettes(set, colours);
  return probe(table, hashKey(colours, kPaletteKeyBytes), [&](std::uint32_t i) {
    return std::memcmp(records[i].colours, colours, kPaletteKeyBytes) == 0;
  });
}

std::uint32_t findPattern(const TileSet& set, const std::uint8_t planes[32]) {
  if (set.patternCount == 0 || !set.patterns) return kNotFound;
  TileLookupIndex* index = lookupOf(set);
  if (!index) return scanPatterns(set, planes);
  TileLookupIndex::Table& table = index->tables[1];
  const PatternEntry* records = set.patterns;
  if (!table.current(records, set.patternCount))
    buildTable(
        table, records, set.patternCount,
        [records](std::uint32_t i) { return hashKey(records[i].planes, kPatternKeyBytes); },
        [records](std::uint32_t a, std::uint32_t b) {
          return std::memcmp(records[a].planes, records[b].planes, kPatternKeyBytes) == 0;
        });
  if (!table.slots) return scanPatterns(set, planes);
  return probe(table, hashKey(planes, kPatternKeyBytes), [&](std::uint32_t i) {
    return std::memcmp(records[i].planes, planes, kPatternKeyBytes) == 0;
  });
}

std::uint32_t findTileEntry(const TileGroup& group, std::uint32_t paletteIndex, std::uint32_t patternIndex) {
  if (group.count == 0 || !group.entries) return kNotFound;
  // Only a group that sits inside its set has a place in the set's lookups.
  const TileSet* set = group.set;
  const std::ptrdiff_t g = set ? &group - set->groups : -1;
  if (g < 0 || g >= kGroupCount) return scanEntries(group, paletteIndex, patternIndex);
  TileLookupIndex* index = lookupOf(*set);
  if (!index) return scanEntries(group, paletteIndex, patternIndex);
  TileLookupIndex::Table& table = index->tables[2 + g];
  const TileEntry* records = group.entries;
  if (!table.current(records, group.count))
    buildTable(
        table, records, group.count,
        [records](std::uint32_t i) {
          return mix(entryKey(records[i].paletteIndex, records[i].patternIndex) ^ 0x9E3779B97F4A7C15ull);
        },
        [records](std::uint32_t a, std::uint32_t b) {
          return records[a].paletteIndex == records[b].paletteIndex &&
                 records[a].patternIndex == records[b].patternIndex;
        });
  if (!table.slots) return scanEntries(group, paletteIndex, patternIndex);
  return probe(table, mix(entryKey(paletteIndex, patternIndex) ^ 0x9E3779B97F4A7C15ull),
               [&](std::uint32_t i) {
                 return records[i].paletteIndex == paletteIndex && records[i].patternIndex == patternIndex;
               });
}

Result<std::unique_ptr<TileSet>> copyTileSet(const TileSet& set) {
  std::unique_ptr<TileSet> copy = createTileSet();
  TileCounts counts;
  counts.palettes = set.paletteCount;
  counts.patterns = set.patternCount;
  for (int g = 0; g < kGroupCount; ++g) counts.groups[g] = set.groups[g].count;
  std::unique_ptr<std::uint8_t[]> block;
  if (set.blockSize) {
    block.reset(new (std::nothrow) std::uint8_t[set.blockSize]);
    if (!block)
      return makeError(ErrorCause::OutOfMemory, {},
                       "no memory for a copy of the tiles (" + std::to_string(set.blockSize) + " bytes)");
    std::memcpy(block.get(), set.block.get(), set.blockSize);
  }
  installTileBlock(*copy, std::move(block), counts);
  return copy;
}

void prepareLookups(const TileSet& set) {
  const std::uint8_t colours[16] = {};
  const std::uint8_t planes[32] = {};
  findPalette(set, colours);
  findPattern(set, planes);
  for (const TileGroup& group : set.groups) findTileEntry(group, 0, 0);
}

int groupForNameWord(std::uint32_t nameWord) {
  return int((nameWord & kNameWordFlipBits) / kNameWordFlipUnit) +
         ((nameWord & kNameWordPriorityBit) ? kPriorityGroupOffset : 0);
}

std::uint32_t findEntryByContent(const TileGroup& group, const std::uint8_t colours[16],
                                 const std::uint8_t planes[32]) {
  if (!group.set) return kNotFound;
  const std::uint32_t palette = findPalette(*group.set, colours);
  if (palette == kNotFound) return kNotFound;
  const std::uint32_t pattern = findPattern(*group.set, planes);
  if (pattern == kNotFound) return kNotFound;
  return findTileEntry(group, palette, pattern);
}

namespace {

bool allowAll(int, void*) { return true; }

// Reorders `count` records of `Record` (stable, descending by orderKeyMajor, then orderKeyMinor).
// With `remap`, fills remap[old index] = new index. False, with the table untouched, when the
// scratch memory cannot be had.
template <class Record>
bool sortTable(Record* records, std::uint32_t count, std::unique_ptr<std::uint32_t[]>* remap, bool allowed) {
  if (!allowed) return false;
  std::unique_ptr<std::uint32_t[]> order(new (std::nothrow) std::uint32_t[count]);
  std::unique_ptr<Record[]> sorted(new (std::nothrow) Record[count]);
  std::unique_ptr<std::uint32_t[]> map;
  if (remap) map.reset(new (std::nothrow) std::uint32_t[count]);
  if (!order || !sorted || (remap && !map)) return false;
  for (std::uint32_t i = 0; i < count; ++i) order[i] = i;
  std::stable_sort(order.get(), order.get() + count, [records](std::uint32_t a, std::uint32_t b) {
    const Record& ra = records[a];
    const Record& rb = records[b];
    if (ra.orderKeyMajor != rb.orderKeyMajor) return ra.orderKeyMajor > rb.orderKeyMajor;
    return ra.orderKeyMinor > rb.orderKeyMinor;
  });
  for (std::uint32_t i = 0; i < count; ++i) {
    std::memcpy(&sorted[i], &records[order[i]], sizeof(Record));
    if (map) map[order[i]] = i;
  }
  std::memcpy(records, sorted.get(), std::size_t(count) * sizeof(Record));
  if (remap) *remap = std::move(map);
  return true;
}

} // namespace

void sortByOrderKeysWithGate(TileSet& set, bool (*scratchAvailable)(int table, void* context),
                             void* context) {
  if (!scratchAvailable) scratchAvailable = allowAll;
  std::unique_ptr<std::uint32_t[]> paletteMap;
  std::unique_ptr<std::uint32_t[]> patternMap;
  if (set.paletteCount >= 2 && set.palettes)
    sortTable(set.palettes, set.paletteCount, &paletteMap, scratchAvailable(0, context));
  if (set.patternCount >= 2 && set.patterns)
    sortTable(set.patterns, set.patternCount, &patternMap, scratchAvailable(1, context));

  // Every group's indexes follow their tables, whether or not the group itself gets sorted:
  // otherwise an unsorted group would name the wrong palettes and patterns. An index outside its
  // table names nothing and stays as it is.
  for (TileGroup& group : set.groups) {
    for (std::uint32_t i = 0; i < group.count && group.entries; ++i) {
      TileEntry& e = group.entries[i];
      if (paletteMap && e.paletteIndex < set.paletteCount) e.paletteIndex = paletteMap[e.paletteIndex];
      if (patternMap && e.patternIndex < set.patternCount) e.patternIndex = patternMap[e.patternIndex];
    }
  }
  for (int g = 0; g < kGroupCount; ++g) {
    TileGroup& group = set.groups[g];
    if (group.count < 2 || !group.entries) continue;
    // The first group that cannot be sorted ends the sorting of the rest.
    if (!sortTable(group.entries, group.count, nullptr, scratchAvailable(2 + g, context))) break;
  }
  set.lookup.reset();
}

void sortByOrderKeys(TileSet& set) { sortByOrderKeysWithGate(set, nullptr, nullptr); }

void clearOrderKeys(TileSet& set) {
  for (std::uint32_t i = 0; i < set.paletteCount && set.palettes; ++i)
    set.palettes[i].orderKeyMajor = set.palettes[i].orderKeyMinor = 0;
  for (std::uint32_t i = 0; i < set.patternCount && set.patterns; ++i)
    set.patterns[i].orderKeyMajor = set.patterns[i].orderKeyMinor = 0;
  for (TileGroup& group : set.groups)
    for (std::uint32_t i = 0; i < group.count && group.entries; ++i)
      group.entries[i].orderKeyMajor = group.entries[i].orderKeyMinor = 0;
}

} // namespace zelvo
