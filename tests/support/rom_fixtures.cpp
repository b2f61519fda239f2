#include "support/rom_fixtures.h"

#include "compress/streams.h"
#include "platform/byte_io.h"
#include "support/fixtures.h"

#include <bzlib.h>
#include <cstring>
#include <random>
#include <zlib.h>

namespace zelvo::test {

Bytes makeRomImage(std::size_t size, std::uint32_t seed, bool signature, std::size_t copierHeader) {
  std::mt19937 rng(seed);
  Bytes rom(size);
  for (auto& b : rom) b = std::uint8_t(rng() % 24); // a small alphabet: every method has work to do
  if (signature && copierHeader + 0x7FF0 + 8 <= size)
    std::memcpy(rom.data() + copierHeader + 0x7FF0, "TMR SEGA", 8);
  return rom;
}

namespace {

std::uint32_t compressionFor(std::uint16_t zipMethod) {
  switch (zipMethod) {
  case 8:
    return kMethodDeflate;
  case 12:
    return kMethodBZip2;
  case 14:
    return kMethodLZMA;
  default:
    return kMethodStored;
  }
}

void append(Bytes& out, const void* data, std::size_t size) {
  const auto* p = static_cast<const std::uint8_t*>(data);
  out.insert(out.end(), p, p + size);
}

} // namespace

Bytes zipArchive(const std::vector<ZipEntryInput>& entries) {
  Bytes out, central;
  for (const ZipEntryInput& e : entries) {
    const Bytes data =
        e.data ? *e.data : compressBytes(compressionFor(e.method), e.content.data(), e.content.size());
    const auto crc = std::uint32_t(crc32(0, e.content.data(), uInt(e.content.size())));
    const std::uint32_t size = e.declaredSize.value_or(std::uint32_t(e.content.size()));
    const auto offset = std::uint32_t(out.size());
    const std::uint16_t flags = e.method == 14 ? 2 : 0; // LZMA data end with an end marker

    std::uint8_t local[30];
    ByteWriter w(local, sizeof local);
    w.u32(0x04034B50), w.u16(e.method == 14 ? 63 : 20), w.u16(flags), w.u16(e.method), w.u16(0), w.u16(0x21);
    w.u32(crc), w.u32(std::uint32_t(data.size())), w.u32(size), w.u16(std::uint16_t(e.name.size()));
    w.u16(std::uint16_t(e.extra.size()));
    append(out, local, sizeof local);
    append(out, e.name.data(), e.name.size());
    append(out, e.extra.data(), e.extra.size());
    append(out, data.data(), data.size());

    std::uint8_t record[46] = {};
    ByteWriter c(record, sizeof record);
    c.u32(0x02014B50), c.u16(0x031E), c.bytes(local + 4, 26), c.u16(0), c.u16(0), c.u16(0), c.u32(0);
    c.u32(offset);
    append(central, record, sizeof record);
    append(central, e.name.data(), e.name.size());
    append(central, e.extra.data(), e.extra.size());
  }
  std::uint8_t end[22];
  ByteWriter w(end, sizeof end);
  w.u32(0x06054B50), w.u16(0), w.u16(0), w.u16(std::uint16_t(entries.size())),
      w.u16(std::uint16_t(entries.size()));
  w.u32(std::uint32_t(central.size())), w.u32(std::uint32_t(out.size())), w.u16(0);
  append(out, central.data(), central.size());
  append(out, end, sizeof end);
  return out;
}

Bytes gzipBytes(const Bytes& data, int level) {
  z_stream s{};
  if (deflateInit2(&s, level, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) return {};
  Bytes out(deflateBound(&s, uLong(data.size())));
  s.next_in = const_cast<Bytef*>(data.data());
  s.avail_in = uInt(data.size());
  s.next_out = out.data();
  s.avail_out = uInt(out.size());
  const int result = deflate(&s, Z_FINISH);
  out.resize(s.total_out);
  deflateEnd(&s);
  return result == Z_STREAM_END ? out : Bytes{};
}

Bytes bzip2Bytes(const Bytes& data, int blockSize) {
  Bytes out(data.size() + data.size() / 100 + 600);
  auto length = unsigned(out.size());
  if (BZ2_bzBuffToBuffCompress(reinterpret_cast<char*>(out.data()), &length,
                               const_cast<char*>(reinterpret_cast<const char*>(data.data())),
                               unsigned(data.size()), blockSize, 0, 30) != BZ_OK)
    return {};
  out.resize(length);
  return out;
}

} // namespace zelvo::test
