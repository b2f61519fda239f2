// The tile store: hashed lookups against plain scans, name-word groups, and the order-key sort.
#include "support/fixtures.h"
#include "tiles/tile_store.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

namespace zelvo {
namespace {

using test::makePalette;
using test::makePattern;
using test::TilesContent;

// Slow, obviously correct lookups: the first record in index order whose key matches.
std::uint32_t scanPalette(const TilesContent& c, const std::uint8_t* colours) {
  for (std::size_t i = 0; i < c.palettes.size(); ++i)
    if (std::memcmp(c.palettes[i].colours, colours, 16) == 0) return std::uint32_t(i);
  return kNotFound;
}
std::uint32_t scanPattern(const TilesContent& c, const std::uint8_t* planes) {
  for (std::size_t i = 0; i < c.patterns.size(); ++i)
    if (std::memcmp(c.patterns[i].planes, planes, 32) == 0) return std::uint32_t(i);
  return kNotFound;
}
std::uint32_t scanEntry(const TilesContent& c, int group, std::uint32_t palette, std::uint32_t pattern) {
  const auto& g = c.groups[group];
  for (std::size_t i = 0; i < g.size(); ++i)
    if (g[i].paletteIndex == palette && g[i].patternIndex == pattern) return std::uint32_t(i);
  return kNotFound;
}

// Tables drawn from small pools so that most keys occur several times, with random order keys.
TilesContent randomContent(std::mt19937& rng, int palettes, int patterns, int entriesPerGroup, int pool) {
  TilesContent c;
  std::uniform_int_distribution<int> seed(0, pool - 1), key(0, 3);
  for (int i = 0; i < palettes; ++i) c.addPalette(std::uint32_t(seed(rng)), key(rng), key(rng));
  for (int i = 0; i < patterns; ++i) c.addPattern(std::uint32_t(seed(rng)), key(rng), key(rng));
  std::uniform_int_distribution<int> pal(0, palettes + 1), pat(0, patterns + 1); // a few out of range
  for (int g = 0; g < kGroupCount; ++g)
    for (int i = 0; i < entriesPerGroup; ++i)
      c.addEntry(g, std::uint32_t(pal(rng) % (pool + 2)), std::uint32_t(pat(rng) % (pool + 2)), key(rng),
                 key(rng));
  return c;
}

void expectLookupsMatchScans(const TileSet& set, const TilesContent& c, int pool) {
  for (int s = 0; s < pool + 5; ++s) { // the pool's keys and a few that are absent
    const PaletteEntry p = makePalette(std::uint32_t(s));
    const PatternEntry q = makePattern(std::uint32_t(s));
    ASSERT_EQ(findPalette(set, p.colours), scanPalette(c, p.colours)) << "palette seed " << s;
    ASSERT_EQ(findPattern(set, q.planes), scanPattern(c, q.planes)) << "pattern seed " << s;
  }
  for (int g = 0; g < kGroupCount; ++g)
    for (std::uint32_t a = 0; a < std::uint32_t(pool + 3); ++a)
      for (std::uint32_t b = 0; b < std::uint32_t(pool + 3); ++b)
        ASSERT_EQ(findTileEntry(set.groups[g], a, b), scanEntry(c, g, a, b)) << g << " " << a << " " << b;
}

TEST(TileStoreLookup, AgreesWithScansOnRandomTablesFullOfDuplicates) {
  std::mt19937 rng(7);
  for (int round = 0; round < 20; ++round) {
    const int pool = 1 + round * 3;
    const TilesContent c = randomContent(rng, round * 40, round * 25 + 1, round * 30, pool);
    auto set = test::makeTileSet(c);
    ASSERT_TRUE(set);
    expectLookupsMatchScans(*set, c, pool);
  }
}

TEST(TileStoreLookup, EmptyTablesAndDuplicatesResolveAsTheFirstMatch) {
  auto empty = createTileSet();
  const PaletteEntry p = makePalette(1);
  const PatternEntry q = makePattern(1);
  EXPECT_EQ(findPalette(*empty, p.colours), kNotFound);
  EXPECT_EQ(findPattern(*empty, q.planes), kNotFound);
  EXPECT_EQ(findTileEntry(empty->groups[0], 0, 0), kNotFound);

  TilesContent c;
  c.addPalette(2);
  c.addPalette(1);
  c.addPalette(1, 99); // same colours, other keys: the keys take no part
  c.addEntry(4, 1, 0);
  c.addEntry(4, 1, 0, 5);
  auto set = test::makeTileSet(c);
  EXPECT_EQ(findPalette(*set, p.colours), 1u);
  EXPECT_EQ(findTileEntry(set->groups[4], 1, 0), 0u);
  EXPECT_EQ(findTileEntry(set->groups[3], 1, 0), kNotFound); // groups are separate
}

TEST(TileStoreLookup, FollowsNewContentsAndInPlaceChangesOnceInvalidated) {
  std::mt19937 rng(11);
  TilesContent a = randomContent(rng, 50, 50, 20, 10);
  auto set = test::makeTileSet(a);
  expectLookupsMatchScans(*set, a, 10);

  // A new block replaces the old one: the lookups must not answer from the old tables.
  const TilesContent b = randomContent(rng, 30, 60, 25, 12);
  auto other = test::makeTileSet(b);
  std::unique_ptr<std::uint8_t[]> block(new std::uint8_t[other->blockSize]);
  std::memcpy(block.get(), other->block.get(), other->blockSize);
  installTileBlock(*set, std::move(block), b.counts());
  expectLookupsMatchScans(*set, b, 12);

  // Records changed in place, then announced.
  std::memcpy(set->palettes[0].colours, makePalette(40).colours, 16);
  set->groups[2].entries[0].paletteIndex = 40;
  set->groups[2].entries[0].patternIndex = 41;
  invalidateLookups(*set);
  const TilesContent changed = TilesContent::of(*set);
  EXPECT_EQ(findPalette(*set, makePalette(40).colours), 0u);
  EXPECT_EQ(findTileEntry(set->groups[2], 40, 41), 0u);
  expectLookupsMatchScans(*set, changed, 12);
}

TEST(TileStoreGroups, NameWordSelectsFlipAndPriorityOnly) {
  EXPECT_EQ(groupForNameWord(0x0000), 0);
  EXPECT_EQ(groupForNameWord(0x0200), 1);
  EXPECT_EQ(groupForNameWord(0x0400), 2);
  EXPECT_EQ(groupForNameWord(0x0600), 3);
  EXPECT_EQ(groupForNameWord(0x1000), 4);
  EXPECT_EQ(groupForNameWord(0x1600), 7);
  EXPECT_EQ(groupForNameWord(0xE9FF), 0); // every other bit set, flips and priority clear
  EXPECT_EQ(groupForNameWord(0xFFFF), 7);
  EXPECT_EQ(groupForNameWord(0xFFFFEDFFu), 2);

  auto set = createTileSet();
  for (int g = 0; g < kGroupCount; ++g) {
    EXPECT_EQ(set->groups[g].set, set.get());
    EXPECT_EQ(set->groups[g].flip, g == kSpriteGroup ? 0u : std::uint32_t(g % 4) * 0x200);
  }
  EXPECT_EQ(set->groups[3].kind, GroupKind::OpaqueBackground);
  EXPECT_EQ(set->groups[4].kind, GroupKind::PriorityBackground);
  EXPECT_EQ(set->groups[kSpriteGroup].kind, GroupKind::Sprite);
}

// Reference order: a stable insertion sort, descending by major then minor key.
template <class Record> std::vector<Record> referenceSorted(std::vector<Record> v) {
  for (std::size_t i = 1; i < v.size(); ++i) {
    for (std::size_t j = i; j > 0; --j) {
      const Record& a = v[j - 1];
      const Record& b = v[j];
      const bool bFirst = b.orderKeyMajor > a.orderKeyMajor ||
                          (b.orderKeyMajor == a.orderKeyMajor && b.orderKeyMinor > a.orderKeyMinor);
      if (!bFirst) break;
      std::swap(v[j - 1], v[j]);
    }
  }
  return v;
}

template <class Record> bool sameBytes(const std::vector<Record>& a, const std::vector<Record>& b) {
  return a.size() == b.size() &&
         (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(Record)) == 0);
}

// What entry i of group g shows: its palette's colours and pattern's planes (or the raw index
// when it lies outside its table).
struct Shown {
  std::vector<std::uint8_t> bytes;
  bool operator==(const Shown&) const = default;
};
Shown shown(const TilesContent& c, const TileEntry& e) {
  Shown s;
  if (e.paletteIndex < c.palettes.size())
    s.bytes.assign(c.palettes[e.paletteIndex].colours, c.palettes[e.paletteIndex].colours + 16);
  else
    s.bytes.push_back(std::uint8_t(e.paletteIndex));
  if (e.patternIndex < c.patterns.size())
    s.bytes.insert(s.bytes.end(), c.patterns[e.patternIndex].planes, c.patterns[e.patternIndex].planes + 32);
  else
    s.bytes.push_back(std::uint8_t(e.patternIndex));
  s.bytes.push_back(std::uint8_t(e.orderKeyMajor));
  s.bytes.push_back(std::uint8_t(e.orderKeyMinor));
  return s;
}

TEST(TileStoreSort, StableDescendingOrderAndEveryEntryStillShowsTheSameTile) {
  std::mt19937 rng(3);
  for (int round = 0; round < 25; ++round) {
    // Distinct records (seed = index) so that every record can be told apart after the sort.
    TilesContent c;
    std::uniform_int_distribution<int> key(0, 2 + round % 4);
    const int palettes = round % 7 == 0 ? 1 : 5 + round * 7;
    const int patterns = round % 5 == 0 ? 1 : 3 + round * 9;
    for (int i = 0; i < palettes; ++i) c.addPalette(std::uint32_t(i), key(rng), key(rng));
    for (int i = 0; i < patterns; ++i) c.addPattern(std::uint32_t(i), key(rng), key(rng));
    std::uniform_int_distribution<int> pal(0, palettes + 2), pat(0, patterns + 2), count(0, 40);
    for (int g = 0; g < kGroupCount; ++g)
      for (int i = count(rng); i > 0; --i)
        c.addEntry(g, std::uint32_t(pal(rng)), std::uint32_t(pat(rng)), key(rng), key(rng));
    c.addEntry(round % kGroupCount, kNotFound, kNotFound); // indexes far outside the tables

    auto set = test::makeTileSet(c);
    sortByOrderKeys(*set);
    const TilesContent after = TilesContent::of(*set);

    EXPECT_TRUE(sameBytes(after.palettes, referenceSorted(c.palettes))) << round;
    EXPECT_TRUE(sameBytes(after.patterns, referenceSorted(c.patterns))) << round;
    for (int g = 0; g < kGroupCount; ++g) {
      std::vector<Shown> want, got;
      for (const TileEntry& e : referenceSorted(c.groups[g])) want.push_back(shown(c, e));
      for (const TileEntry& e : after.groups[g]) got.push_back(shown(after, e));
      EXPECT_EQ(got, want) << "round " << round << " group " << g;
    }
    // The lookups see the new order.
    expectLookupsMatchScans(*set, after, 0);
    for (std::uint32_t i = 0; i < set->paletteCount; ++i)
      EXPECT_EQ(findPalette(*set, set->palettes[i].colours), i);
  }
}

TEST(TileStoreSort, EqualKeysAndSingleRecordTablesChangeNothing) {
  std::mt19937 rng(5);
  TilesContent c = randomContent(rng, 40, 30, 15, 60);
  for (auto& p : c.palettes) p.orderKeyMajor = p.orderKeyMinor = 7;
  for (auto& p : c.patterns) p.orderKeyMajor = p.orderKeyMinor = 7;
  for (auto& g : c.groups)
    for (auto& e : g) e.orderKeyMajor = e.orderKeyMinor = 7;
  auto set = test::makeTileSet(c);
  sortByOrderKeys(*set);
  EXPECT_EQ(test::payloadOf(*set), c.payload());

  // One pattern: no remap for patterns, so every pattern index stays, in range or not.
  TilesContent one;
  one.addPalette(1, 1);
  one.addPalette(2, 9);
  one.addPattern(1, 5);
  one.addEntry(0, 0, 0);
  one.addEntry(0, 1, 3);
  one.addEntry(0, 0, 7, 4);
  auto single = test::makeTileSet(one);
  sortByOrderKeys(*single);
  const TileGroup& g = single->groups[0];
  EXPECT_EQ(g.entries[0].patternIndex, 7u); // the entry with the largest key comes first
  EXPECT_EQ(g.entries[0].paletteIndex, 1u); // palette 0 moved behind palette 1
  EXPECT_EQ(g.entries[1].patternIndex, 0u);
  EXPECT_EQ(g.entries[2].patternIndex, 3u);
  EXPECT_EQ(g.entries[2].paletteIndex, 0u);
}

struct Refusal {
  int table;
  int asked = 0;
};
bool refuseOne(int table, void* context) {
  auto* r = static_cast<Refusal*>(context);
  ++r->asked;
  return table != r->table;
}

TEST(TileStoreSort, TablesWithoutScratchMemoryKeepTheirOrderAndEntriesTheirMeaning) {
  TilesContent c;
  for (int i = 0; i < 6; ++i) c.addPalette(std::uint32_t(i), std::uint64_t(i)); // reversed by the sort
  for (int i = 0; i < 6; ++i) c.addPattern(std::uint32_t(i), std::uint64_t(i));
  for (int g = 0; g < kGroupCount; ++g)
    for (int i = 0; i < 4; ++i) c.addEntry(g, std::uint32_t(i), std::uint32_t(5 - i), std::uint64_t(i));

  // The palette table cannot be sorted: its order and the entries' palette indexes stay.
  {
    auto set = test::makeTileSet(c);
    Refusal r{0};
    sortByOrderKeysWithGate(*set, refuseOne, &r);
    const TilesContent after = TilesContent::of(*set);
    EXPECT_TRUE(sameBytes(after.palettes, c.palettes));
    EXPECT_TRUE(sameBytes(after.patterns, referenceSorted(c.patterns)));
    for (int g = 0; g < kGroupCount; ++g)
      for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(shown(after, after.groups[g][i]), shown(c, c.groups[g][3 - i])) << g << " " << i;
        EXPECT_EQ(after.groups[g][i].paletteIndex, 3 - i);
      }
  }
  // Group 3 cannot be sorted: groups 0 to 2 are, the rest keep their order, and all still name
  // the same palettes and patterns.
  {
    auto set = test::makeTileSet(c);
    Refusal r{2 + 3};
    sortByOrderKeysWithGate(*set, refuseOne, &r);
    EXPECT_EQ(r.asked, 2 + 4);
    const TilesContent after = TilesContent::of(*set);
    for (int g = 0; g < kGroupCount; ++g)
      for (std::size_t i = 0; i < 4; ++i) {
        const std::size_t from = g < 3 ? 3 - i : i;
        EXPECT_EQ(shown(after, after.groups[g][i]), shown(c, c.groups[g][from])) << g << " " << i;
      }
  }
}

TEST(TileStoreKeys, ClearingKeysTouchesNothingElse) {
  std::mt19937 rng(9);
  TilesContent c = randomContent(rng, 20, 20, 10, 8);
  auto set = test::makeTileSet(c);
  clearOrderKeys(*set);
  for (auto& p : c.palettes) p.orderKeyMajor = p.orderKeyMinor = 0;
  for (auto& p : c.patterns) p.orderKeyMajor = p.orderKeyMinor = 0;
  for (auto& g : c.groups)
    for (auto& e : g) e.orderKeyMajor = e.orderKeyMinor = 0;
  EXPECT_EQ(test::payloadOf(*set), c.payload());
}

TEST(TileStoreBlock, InstallsTablesInPayloadOrderAndSizes) {
  TileCounts counts;
  counts.palettes = 0xFFFFFFFFu;
  std::uint32_t size = 0;
  EXPECT_FALSE(payloadSizeOf(counts, size));
  counts = TileCounts{};
  counts.groups[8] = 178956970; // 24 x that is 4294967280
  EXPECT_TRUE(payloadSizeOf(counts, size));
  EXPECT_EQ(size, 4294967280u);
  counts.palettes = 1;
  EXPECT_FALSE(payloadSizeOf(counts, size));

  TilesContent c;
  c.addPalette(1);
  c.addPattern(1);
  c.addPattern(2);
  c.addEntry(1, 0, 1);
  c.addEntry(8, 0, 0);
  c.addEntry(8, 0, 1);
  auto set = test::makeTileSet(c);
  const std::uint8_t* base = set->block.get();
  EXPECT_EQ(set->blockSize, 32u + 96u + 72u);
  EXPECT_EQ(reinterpret_cast<std::uint8_t*>(set->palettes), base);
  EXPECT_EQ(reinterpret_cast<std::uint8_t*>(set->patterns), base + 32);
  EXPECT_EQ(reinterpret_cast<std::uint8_t*>(set->groups[1].entries), base + 128);
  EXPECT_EQ(reinterpret_cast<std::uint8_t*>(set->groups[8].entries), base + 152);
  EXPECT_EQ(set->groups[0].entries, nullptr);
  EXPECT_EQ(set->entryCount(), 3u);
  EXPECT_EQ(set->groups[8].entry(2), nullptr);
  EXPECT_NE(set->groups[8].entry(1), nullptr);
  EXPECT_EQ(set->pattern(2), nullptr);

  installTileBlock(*set, nullptr, TileCounts{});
  EXPECT_EQ(set->block, nullptr);
  EXPECT_EQ(set->paletteCount + set->patternCount + set->entryCount(), 0u);
}

} // namespace
} // namespace zelvo
