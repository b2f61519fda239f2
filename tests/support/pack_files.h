// Packs as the tests take them apart and put them together: with zlib and libbz2 themselves, never
// through the program's pack readers and writers, so that those are checked against the format.
//
//   PackContents pack = readPackContents(dir.file("game.zrm"));  // gtest failures when out of shape
//   pack.hires.field(14)                                         // the hi-res scale
//   Bytes b = packBytes(rom, tiles, hiResHeaderFor(2, 1, tiles), digest, stream);
#pragma once

#include "compress/md5.h"
#include "pipeline/pack_format.h"
#include "support/fixtures.h"
#include "tiles/tile_store.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace zelvo::test {

// A 16-byte digest in lower-case hex.
std::string hexOf(const std::uint8_t* digest);

// A hi-res section taken apart: its 64-byte header, the payload's digest as stored, and the payload
// libbz2 decompresses from the stream.
struct HiResSectionParts {
  std::vector<std::uint8_t> header;
  std::vector<std::uint8_t> digest;
  std::vector<std::uint8_t> payload;
  // The header's 32-bit words: 2 the flags, 3 the tiles, 4 the entries, 5 to 13 the group counts,
  // 14 the scale, 15 the compression.
  std::uint32_t field(int word) const;
  std::uint32_t tileBytes() const { return 256 * field(14) * field(14); }
  std::size_t payloadSize() const { return std::size_t(field(3)) * tileBytes() + 4ull * field(4); }
};
// The section at `section`, `size` bytes up to its end. A gtest failure when its magic is not the
// hi-res magic or its stream does not give the payload its counts and scale call for.
HiResSectionParts takeHiResSectionApart(const std::uint8_t* section, std::size_t size);

// A pack taken apart: the header's fields, the ROM inflated, the tiles section read as a tiles file,
// the hi-res section. A gtest failure for anything out of the format's shape.
struct PackContents {
  std::vector<std::uint8_t> file;
  std::uint32_t scale = 0, romSize = 0, romMethod = 0, r = 0, t = 0, h = 0;
  std::vector<std::uint8_t> rom;
  std::string romDigest; // hex
  std::unique_ptr<TileSet> tiles;
  HiResSectionParts hires;
  std::string payloadDigest; // hex

  std::uint32_t u32(std::size_t at) const;
  // The hi-res tile of the entry of `group` that shows palette colours `colours` and pattern `planes`.
  std::vector<std::uint8_t> tileOf(int group, const std::uint8_t* colours, const std::uint8_t* planes) const;
};
PackContents readPackContents(const std::string& path);

// The hi-res header of a payload of `tileCount` tiles at `scale` for the entries of `tiles`.
HiResSectionHeader hiResHeaderFor(std::uint32_t scale, std::uint32_t tileCount, const TilesContent& tiles);

// A pack: the header, the ROM section (head and raw deflate of `rom`), `tiles` as a tiles file,
// then the hi-res section of `hires`, `payloadDigest` and `hiResStream`. The header's section sizes,
// scale (the hi-res scale's low byte) and ROM digest follow from these; `edit`, when given, may
// change both headers last.
std::vector<std::uint8_t> packBytes(const std::vector<std::uint8_t>& rom, const TilesContent& tiles,
                                    const HiResSectionHeader& hires, const Md5Digest& payloadDigest,
                                    const std::vector<std::uint8_t>& hiResStream,
                                    const std::function<void(PackHeader&, HiResSectionHeader&)>& edit = {});

// The pack's hi-res payload replaced by `payload`, compressed with libbz2 and digested anew (so only
// the payload itself can be wrong), the header's hi-res size set to match.
void replaceHiResPayload(std::vector<std::uint8_t>& pack, const std::vector<std::uint8_t>& payload);
// Where the hi-res section of a pack starts.
std::size_t hiResSectionStart(const std::vector<std::uint8_t>& pack);

} // namespace zelvo::test
