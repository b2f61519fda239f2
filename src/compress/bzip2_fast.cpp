#include "compress/bzip2_fast.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <divsufsort.h>
#include <limits>
#include <queue>

namespace zelvo {

namespace {

constexpr int kRunA = 0; // zero-run digits (bijective base 2): RUNA = 1, RUNB = 2
constexpr int kRunB = 1;
constexpr int kMaxGroups = 6;       // Huffman tables a block may have
constexpr int kGroupSymbols = 50;   // symbols coded with one table before the next selector
constexpr int kMaxCodeLength = 17;  // what libbz2 limits its codes to (decoders take 20)
constexpr int kTableIterations = 4; // rounds of refining the tables against the selectors
constexpr int kMaxAlphabet = 258;   // RUNA, RUNB, 255 move-to-front positions, end of block
constexpr std::size_t kExpandPiece = 65536;

std::array<std::uint32_t, 256> makeCrcTable() {
  std::array<std::uint32_t, 256> table{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t c = i << 24;
    for (int k = 0; k < 8; ++k) c = (c & 0x80000000u) ? (c << 1) ^ 0x04C11DB7u : c << 1;
    table[i] = c;
  }
  return table;
}
const std::array<std::uint32_t, 256> kCrcTable = makeCrcTable();

// bzip2's CRC-32 (most significant bit first, polynomial 0x04C11DB7) of `size` bytes, continued
// from `crc` (start with 0xFFFFFFFF; the final value is the complement).
std::uint32_t bzip2CrcUpdate(std::uint32_t crc, const std::uint8_t* data, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i) crc = (crc << 8) ^ kCrcTable[(crc >> 24) ^ data[i]];
  return crc;
}

// Bits most significant first into bytes.
class BitWriter {
public:
  explicit BitWriter(std::size_t reserve) { bytes_.reserve(reserve); }
  void put(std::uint32_t value, int count) { // count at most 32
    acc_ = (acc_ << count) | (value & ((std::uint64_t(1) << count) - 1));
    bits_ += count;
    while (bits_ >= 8) {
      bits_ -= 8;
      bytes_.push_back(std::uint8_t(acc_ >> bits_));
    }
  }
  std::uint64_t bitCount() const { return std::uint64_t(bytes_.size()) * 8 + std::uint64_t(bits_); }
  // Pads the last byte with zero bits and hands the bytes over.
  std::vector<std::uint8_t> take() {
    if (bits_ > 0) put(0, 8 - bits_);
    return std::move(bytes_);
  }

private:
  std::vector<std::uint8_t> bytes_;
  std::uint64_t acc_ = 0;
  int bits_ = 0;
};

// Code lengths of at most kMaxCodeLength bits for `count` symbols of frequencies `freq` (every
// symbol gets a code, unused ones too): Huffman's, with the weights flattened until the
// longest code fits.
void makeCodeLengths(const std::uint32_t* freq, int count, std::uint8_t* lengths) {
  std::uint64_t weight[kMaxAlphabet];
  for (int i = 0; i < count; ++i) weight[i] = std::max<std::uint32_t>(freq[i], 1);
  std::int32_t parent[2 * kMaxAlphabet];
  for (;;) {
    using Item = std::pair<std::uint64_t, std::int32_t>; // weight, node
    std::priority_queue<Item, std::vector<Item>, std::greater<Item>> heap;
    for (int i = 0; i < count; ++i) heap.push({weight[i], i});
    std::int32_t nodes = count;
    while (heap.size() > 1) {
      const Item a = heap.top();
      heap.pop();
      const Item b = heap.top();
      heap.pop();
      parent[a.second] = parent[b.second] = nodes;
      heap.push({a.first + b.first, nodes++});
    }
    parent[nodes - 1] = -1;
    // Parents are made after their children, so depths fill from the root down.
    std::uint8_t depth[2 * kMaxAlphabet];
    depth[nodes - 1] = 0;
    int longest = 0;
    for (std::int32_t n = nodes - 2; n >= 0; --n) {
      depth[n] = std::uint8_t(depth[parent[n]] + 1);
      if (n < count) longest = std::max<int>(longest, depth[n]);
    }
    if (longest <= kMaxCodeLength) {
      for (int i = 0; i < count; ++i) lengths[i] = std::max<std::uint8_t>(depth[i], 1);
      return;
    }
    for (int i = 0; i < count; ++i) weight[i] = 1 + weight[i] / 2;
  }
}

// Where the least rotation of `s` starts, and whether `s` is periodic (a shorter word repeated),
// in linear time: two candidate starts race, and each mismatch rules out the larger one's run.
std::size_t leastRotation(const std::vector<std::uint8_t>& s, bool& periodic) {
  const std::size_t n = s.size();
  std::size_t i = 0, j = 1, k = 0;
  while (i < n && j < n && k < n) {
    const std::uint8_t a = s[(i + k) % n], b = s[(j + k) % n];
    if (a == b) {
      ++k;
      continue;
    }
    if (a > b)
      i += k + 1;
    else
      j += k + 1;
    if (i == j) ++j;
    k = 0;
  }
  periodic = n > 1 && k == n; // two different starts give the same rotation
  return std::min(i, j);
}

// The block sort: the last column of the sorted rotations of `block`, and the row of the
// rotation that starts at 0. Turned to start at its least rotation, a block that is not periodic
// is a Lyndon word, whose rotations sort as its suffixes do (a suffix that is a prefix of another
// sorting first), so one suffix sort of the block does. A periodic block (rare: long runs of one
// pattern) has its rotations sorted as the suffixes of the block written twice.
bool sortRotations(const std::vector<std::uint8_t>& block, std::vector<std::uint8_t>& last,
                   std::int32_t& origin) {
  const std::size_t n = block.size();
  if (n == 0 || n > std::size_t(std::numeric_limits<saidx_t>::max() / 2)) return false;
  bool periodic = false;
  const std::size_t shift = leastRotation(block, periodic);
  const std::size_t length = periodic ? 2 * n : n;
  std::vector<sauchar_t> text(length);
  for (std::size_t i = 0; i < length; ++i) text[i] = block[(shift + i) % n];
  std::vector<saidx_t> suffixes(length);
  if (divsufsort(text.data(), suffixes.data(), saidx_t(length)) != 0) return false;
  // Rotation r of the text is rotation (r + shift) mod n of the block.
  const std::size_t startOfBlock = (n - shift) % n;
  last.resize(n);
  std::size_t row = 0;
  origin = -1;
  for (const saidx_t start : suffixes) {
    const std::size_t r = std::size_t(start);
    if (r >= n) continue;
    if (r == startOfBlock) origin = std::int32_t(row);
    last[row++] = text[r == 0 ? n - 1 : r - 1];
  }
  return row == n && origin >= 0;
}

// The block's CRC: that of the bytes it stands for, once the first stage is undone.
std::uint32_t blockCrc(const std::vector<std::uint8_t>& encoded) {
  std::uint32_t crc = 0xFFFFFFFFu;
  std::vector<std::uint8_t> piece(kExpandPiece);
  BZip2RunExpander expander(encoded.data(), encoded.size());
  for (std::size_t got; (got = expander.expand(piece.data(), piece.size())) > 0;)
    crc = bzip2CrcUpdate(crc, piece.data(), got);
  return ~crc;
}

// The block sort's last column as the format codes it: move-to-front over the bytes in use, runs
// of zeros written as RUNA/RUNB digits, then the end of block.
struct SymbolStream {
  bool inUse[256] = {};
  int alphabet = 0; // RUNA, RUNB, the positions of the bytes in use but the first, end of block
  std::vector<std::uint16_t> symbols;
  std::uint32_t freq[kMaxAlphabet] = {};

  void emit(int s) {
    symbols.push_back(std::uint16_t(s));
    ++freq[s];
  }
  // A run of `zeros` zero positions (bijective base 2, least significant digit first).
  void emitZeros(std::uint32_t zeros) {
    if (zeros == 0) return;
    --zeros;
    for (;;) {
      emit((zeros & 1) ? kRunB : kRunA);
      if (zeros < 2) break;
      zeros = (zeros - 2) / 2;
    }
  }
};

SymbolStream moveToFront(const std::vector<std::uint8_t>& encoded, const std::vector<std::uint8_t>& last) {
  SymbolStream out;
  for (const std::uint8_t b : encoded) out.inUse[b] = true;
  std::uint8_t seqOf[256] = {};
  int inUseCount = 0;
  for (int i = 0; i < 256; ++i)
    if (out.inUse[i]) seqOf[i] = std::uint8_t(inUseCount++);
  out.alphabet = inUseCount + 2;
  out.symbols.reserve(last.size() + 1);
  std::uint32_t zeros = 0;
  std::uint8_t order[256];
  for (int i = 0; i < 256; ++i) order[i] = std::uint8_t(i);
  for (const std::uint8_t b : last) {
    const std::uint8_t s = seqOf[b];
    if (order[0] == s) {
      ++zeros;
      continue;
    }
    out.emitZeros(zeros);
    zeros = 0;
    int j = 1;
    while (order[j] != s) ++j;
    std::memmove(order + 1, order, std::size_t(j));
    order[0] = s;
    out.emit(j + 1);
  }
  out.emitZeros(zeros);
  out.emit(inUseCount + 1); // end of block
  return out;
}

// The Huffman tables of a block and which of them codes each run of 50 symbols.
struct CodingTables {
  int groups = 0;
  std::uint8_t lengths[kMaxGroups][kMaxAlphabet];
  std::uint32_t codes[kMaxGroups][kMaxAlphabet];
  std::vector<std::uint8_t> selectors;
};

// The first tables: contiguous ranges of symbols of about equal frequency, each coded short (0)
// in its own table and long (15) in the others.
void splitByFrequency(const SymbolStream& in, CodingTables& tables) {
  std::uint64_t remaining = in.symbols.size();
  int from = 0;
  for (int part = tables.groups; part > 0; --part) {
    const std::uint64_t target = remaining / std::uint64_t(part);
    std::uint64_t taken = 0;
    int to = from - 1;
    while (taken < target && to < in.alphabet - 1) taken += in.freq[++to];
    if (part == 1) to = in.alphabet - 1;
    for (int v = 0; v < in.alphabet; ++v) tables.lengths[part - 1][v] = v >= from && v <= to ? 0 : 15;
    from = to + 1;
    remaining -= std::min(remaining, taken);
  }
}

// One round of refining: for every 50 symbols the table that codes them shortest, then the tables
// rebuilt from what they were chosen for.
void refineTables(const SymbolStream& in, CodingTables& tables) {
  const std::size_t count = in.symbols.size();
  // Every symbol's lengths in all tables, 10 bits each, so that one addition per symbol sums the
  // cost of a run of 50 in every table (at most 50 x 17 = 850 < 1024).
  std::uint64_t packed[kMaxAlphabet];
  for (int v = 0; v < in.alphabet; ++v) {
    packed[v] = 0;
    for (int t = 0; t < tables.groups; ++t) packed[v] |= std::uint64_t(tables.lengths[t][v]) << (10 * t);
  }
  std::uint32_t tableFreq[kMaxGroups][kMaxAlphabet] = {};
  for (std::size_t g = 0; g < tables.selectors.size(); ++g) {
    const std::size_t begin = g * kGroupSymbols, end = std::min(count, begin + kGroupSymbols);
    std::uint64_t cost = 0;
    for (std::size_t i = begin; i < end; ++i) cost += packed[in.symbols[i]];
    int best = 0;
    std::uint32_t bestCost = std::numeric_limits<std::uint32_t>::max();
    for (int t = 0; t < tables.groups; ++t) {
      const std::uint32_t c = std::uint32_t((cost >> (10 * t)) & 1023u);
      if (c < bestCost) {
        bestCost = c;
        best = t;
      }
    }
    tables.selectors[g] = std::uint8_t(best);
    for (std::size_t i = begin; i < end; ++i) ++tableFreq[best][in.symbols[i]];
  }
  for (int t = 0; t < tables.groups; ++t) makeCodeLengths(tableFreq[t], in.alphabet, tables.lengths[t]);
}

// Canonical codes: by length, then by symbol, as decoders rebuild them.
void assignCodes(int alphabet, CodingTables& tables) {
  for (int t = 0; t < tables.groups; ++t) {
    std::uint32_t next = 0;
    for (int length = 1; length <= kMaxCodeLength; ++length) {
      for (int v = 0; v < alphabet; ++v)
        if (tables.lengths[t][v] == length) tables.codes[t][v] = next++;
      next <<= 1;
    }
  }
}

CodingTables makeTables(const SymbolStream& in) {
  CodingTables tables;
  const std::size_t count = in.symbols.size();
  tables.groups = count < 200 ? 2 : count < 600 ? 3 : count < 1200 ? 4 : count < 2400 ? 5 : 6;
  tables.selectors.resize((count + kGroupSymbols - 1) / kGroupSymbols);
  splitByFrequency(in, tables);
  for (int round = 0; round < kTableIterations; ++round) refineTables(in, tables);
  assignCodes(in.alphabet, tables);
  return tables;
}

// The stream header, as compressBZip2Block's streams have it, and the block's header.
void writeHeaders(BitWriter& out, int blockSize100k, std::uint32_t crc, std::int32_t origin) {
  out.put(0x425A68u, 24); // "BZh"
  out.put(std::uint32_t('0' + blockSize100k), 8);
  out.put(std::uint32_t(kBZip2BlockMagic >> 24), 24);
  out.put(std::uint32_t(kBZip2BlockMagic & 0xFFFFFFu), 24);
  out.put(crc, 32);
  out.put(0, 1); // not randomised
  out.put(std::uint32_t(origin), 24);
}

// The bytes in use: which 16-byte ranges hold one, then the bytes of each such range.
void writeSymbolMap(BitWriter& out, const bool (&inUse)[256]) {
  std::uint32_t ranges = 0;
  for (int r = 0; r < 16; ++r)
    for (int k = 0; k < 16; ++k)
      if (inUse[r * 16 + k]) ranges |= 0x8000u >> r;
  out.put(ranges, 16);
  for (int r = 0; r < 16; ++r) {
    if (!(ranges & (0x8000u >> r))) continue;
    std::uint32_t bits = 0;
    for (int k = 0; k < 16; ++k)
      if (inUse[r * 16 + k]) bits |= 0x8000u >> k;
    out.put(bits, 16);
  }
}

// The table count, the selectors (move-to-front, in unary) and each table's code lengths (as
// steps up and down from the last).
void writeTables(BitWriter& out, int alphabet, const CodingTables& tables) {
  out.put(std::uint32_t(tables.groups), 3);
  out.put(std::uint32_t(tables.selectors.size()), 15);
  std::uint8_t recent[kMaxGroups];
  for (int t = 0; t < kMaxGroups; ++t) recent[t] = std::uint8_t(t);
  for (const std::uint8_t s : tables.selectors) {
    int j = 0;
    while (recent[j] != s) ++j;
    std::memmove(recent + 1, recent, std::size_t(j));
    recent[0] = s;
    for (int k = 0; k < j; ++k) out.put(1, 1);
    out.put(0, 1);
  }
  for (int t = 0; t < tables.groups; ++t) {
    int current = tables.lengths[t][0];
    out.put(std::uint32_t(current), 5);
    for (int v = 0; v < alphabet; ++v) {
      for (; current < tables.lengths[t][v]; ++current) out.put(2, 2);
      for (; current > tables.lengths[t][v]; --current) out.put(3, 2);
      out.put(0, 1);
    }
  }
}

void writeSymbols(BitWriter& out, const SymbolStream& in, const CodingTables& tables) {
  const std::size_t count = in.symbols.size();
  for (std::size_t g = 0; g < tables.selectors.size(); ++g) {
    const int t = tables.selectors[g];
    const std::size_t begin = g * kGroupSymbols, end = std::min(count, begin + kGroupSymbols);
    for (std::size_t i = begin; i < end; ++i)
      out.put(tables.codes[t][in.symbols[i]], tables.lengths[t][in.symbols[i]]);
  }
}

} // namespace

BZip2CompressedBlock encodeBZip2BlockFast(const std::vector<std::uint8_t>& encoded, int blockSize100k) {
  BZip2CompressedBlock result;
  if (encoded.empty() || blockSize100k < 1 || blockSize100k > 9) return result;
  const std::uint32_t crc = blockCrc(encoded);
  std::vector<std::uint8_t> last;
  std::int32_t origin = 0;
  if (!sortRotations(encoded, last, origin)) return result;
  const SymbolStream symbols = moveToFront(encoded, last);
  const CodingTables tables = makeTables(symbols);

  BitWriter out(symbols.symbols.size() + 1024);
  writeHeaders(out, blockSize100k, crc, origin);
  writeSymbolMap(out, symbols.inUse);
  writeTables(out, symbols.alphabet, tables);
  writeSymbols(out, symbols, tables);
  result.bitEnd = out.bitCount();
  result.stream = out.take();
  result.crc = crc;
  result.ok = true;
  return result;
}

} // namespace zelvo
