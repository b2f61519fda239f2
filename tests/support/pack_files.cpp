#include "support/pack_files.h"

#include "platform/byte_io.h"
#include "support/temp_dir.h"
#include "tiles/tiles_file.h"

#include <bzlib.h>
#include <cstring>
#include <gtest/gtest.h>
#include <zlib.h>

namespace zelvo::test {

namespace {

using Bytes = std::vector<std::uint8_t>;

template <class T> void put(Bytes& out, const T& record) {
  const auto* p = reinterpret_cast<const std::uint8_t*>(&record);
  out.insert(out.end(), p, p + sizeof record);
}
void put(Bytes& out, const Bytes& bytes) { out.insert(out.end(), bytes.begin(), bytes.end()); }

Bytes inflateRaw(const std::uint8_t* stream, std::size_t size, std::size_t length) {
  Bytes out(length);
  z_stream z{};
  EXPECT_EQ(inflateInit2(&z, -15), Z_OK);
  z.next_in = const_cast<std::uint8_t*>(stream);
  z.avail_in = uInt(size);
  z.next_out = out.data();
  z.avail_out = uInt(out.size());
  EXPECT_EQ(inflate(&z, Z_FINISH), Z_STREAM_END);
  EXPECT_EQ(z.avail_out, 0u);
  EXPECT_EQ(z.avail_in, 0u);
  inflateEnd(&z);
  return out;
}

} // namespace

std::string hexOf(const std::uint8_t* digest) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (int i = 0; i < 16; ++i) out += {digits[digest[i] >> 4], digits[digest[i] & 15]};
  return out;
}

std::uint32_t HiResSectionParts::field(int word) const { return loadLE32(header.data() + 4 * word); }

HiResSectionParts takeHiResSectionApart(const std::uint8_t* section, std::size_t size) {
  HiResSectionParts parts;
  EXPECT_GE(size, 80u);
  if (size < 80) return parts;
  parts.header.assign(section, section + 64);
  parts.digest.assign(section + 64, section + 80);
  EXPECT_EQ(std::memcmp(section, "MSHITIL\0", 8), 0);
  const std::size_t payloadSize = parts.payloadSize();
  parts.payload.resize(payloadSize + 1);
  unsigned int produced = unsigned(parts.payload.size());
  EXPECT_EQ(BZ2_bzBuffToBuffDecompress(reinterpret_cast<char*>(parts.payload.data()), &produced,
                                       reinterpret_cast<char*>(const_cast<std::uint8_t*>(section) + 80),
                                       unsigned(size - 80), 0, 0),
            BZ_OK);
  EXPECT_EQ(produced, payloadSize);
  parts.payload.resize(produced);
  return parts;
}

std::uint32_t PackContents::u32(std::size_t at) const { return loadLE32(file.data() + at); }

std::vector<std::uint8_t> PackContents::tileOf(int group, const std::uint8_t* colours,
                                               const std::uint8_t* planes) const {
  const std::uint32_t index =
      findTileEntry(tiles->groups[group], findPalette(*tiles, colours), findPattern(*tiles, planes));
  EXPECT_NE(index, kNotFound);
  std::uint32_t start = 0;
  for (int g = 0; g < group; ++g) start += tiles->groups[g].count;
  const std::uint32_t tileBytes = hires.tileBytes();
  const std::uint32_t offset =
      loadLE32(hires.payload.data() + hires.field(3) * tileBytes + 4 * (start + index));
  return Bytes(hires.payload.begin() + offset, hires.payload.begin() + offset + tileBytes);
}

PackContents readPackContents(const std::string& path) {
  PackContents pack;
  const std::string bytes = readFileBytes(path);
  pack.file.assign(bytes.begin(), bytes.end());
  EXPECT_GE(pack.file.size(), 48u);
  if (pack.file.size() < 48) return pack;
  EXPECT_EQ(std::memcmp(pack.file.data(), "MSHIROM\0", 8), 0);
  EXPECT_EQ(pack.u32(8), 0u);
  EXPECT_EQ(pack.u32(32), 0u);
  pack.scale = pack.u32(12);
  pack.r = pack.u32(36);
  pack.t = pack.u32(40);
  pack.h = pack.u32(44);
  EXPECT_EQ(pack.file.size(), 48ull + pack.r + pack.t + pack.h);
  if (pack.file.size() != 48ull + pack.r + pack.t + pack.h) return pack;
  pack.romDigest = hexOf(pack.file.data() + 16);

  // ROM section: size, method 1, raw deflate.
  pack.romSize = pack.u32(48);
  pack.romMethod = pack.u32(52);
  pack.rom = inflateRaw(pack.file.data() + 56, pack.r - 8, pack.romSize);

  // Tiles section: a whole tiles file, read with the system's reader.
  {
    File f = test::opened(File::openRead(path));
    EXPECT_TRUE(f.seek(48 + pack.r));
    pack.tiles = createTileSet();
    EXPECT_TRUE(readTilesFile(*pack.tiles, f));
  }

  // Hi-res section: 64-byte header, digest, bzip2 payload.
  pack.hires = takeHiResSectionApart(pack.file.data() + 48 + pack.r + pack.t, pack.h);
  if (pack.hires.digest.size() == 16) pack.payloadDigest = hexOf(pack.hires.digest.data());
  return pack;
}

HiResSectionHeader hiResHeaderFor(std::uint32_t scale, std::uint32_t tileCount, const TilesContent& tiles) {
  HiResSectionHeader h{};
  std::memcpy(h.magic, kHiResMagic, sizeof h.magic);
  h.flags = kHiResFlagDigest;
  h.tileCount = tileCount;
  for (int g = 0; g < kGroupCount; ++g)
    h.entryCount += h.groupCounts[g] = std::uint32_t(tiles.groups[g].size());
  h.scale = scale;
  h.compression = kMethodBZip2;
  return h;
}

std::vector<std::uint8_t> packBytes(const Bytes& rom, const TilesContent& tiles,
                                    const HiResSectionHeader& hires, const Md5Digest& payloadDigest,
                                    const Bytes& hiResStream,
                                    const std::function<void(PackHeader&, HiResSectionHeader&)>& edit) {
  const Bytes romStream = compressBytes(kMethodDeflate, rom.data(), rom.size());
  const Bytes tilesFile = tilesFileBytes(tiles);
  PackHeader header{};
  std::memcpy(header.magic, kPackMagic, sizeof header.magic);
  header.scale = hires.scale & 0xFF;
  const Md5Digest romDigest = md5Of(rom.data(), rom.size());
  std::memcpy(header.romDigest, romDigest.data(), romDigest.size());
  header.romSectionSize = std::uint32_t(sizeof(RomSectionHead) + romStream.size());
  header.tilesSectionSize = std::uint32_t(tilesFile.size());
  header.hiResSectionSize = std::uint32_t(kHiResStreamOffset + hiResStream.size());
  HiResSectionHeader hiresHeader = hires;
  if (edit) edit(header, hiresHeader);
  Bytes out;
  put(out, header);
  put(out, RomSectionHead{std::uint32_t(rom.size()), kMethodDeflate});
  put(out, romStream);
  put(out, tilesFile);
  put(out, hiresHeader);
  put(out, payloadDigest);
  put(out, hiResStream);
  return out;
}

std::size_t hiResSectionStart(const Bytes& pack) {
  return 48 + std::size_t(loadLE32(&pack[36])) + loadLE32(&pack[40]);
}

void replaceHiResPayload(Bytes& pack, const Bytes& payload) {
  const std::size_t start = hiResSectionStart(pack);
  const Md5Digest digest = md5Of(payload.data(), payload.size());
  const Bytes stream = compressBytes(kMethodBZip2, payload.data(), payload.size());
  pack.resize(start + 64);
  pack.insert(pack.end(), digest.begin(), digest.end());
  pack.insert(pack.end(), stream.begin(), stream.end());
  storeLE32(&pack[44], std::uint32_t(pack.size() - start));
}

} // namespace zelvo::test
