// Synthetic original ROMs and the containers users pack them in, made in memory: ROM images with or
// without the "TMR SEGA" signature and a copier header, zip archives with any entry method (also
// made-up ones), gzip and bzip2 files of any block size. No real game data is involved.
//
//   Bytes rom = makeRomImage(32768, 1);
//   Bytes zip = zipArchive({{"roms/", 0, {}}, {"game.sms", 8, rom}});
//   writeFileBytes(dir.file("game.zip.gz"), gzipBytes(zip));
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace zelvo::test {

using Bytes = std::vector<std::uint8_t>;

// `size` bytes of compressible noise; with `signature`, "TMR SEGA" at 0x7FF0 after the first
// `copierHeader` bytes (the image must be long enough to hold it).
Bytes makeRomImage(std::size_t size, std::uint32_t seed, bool signature = true, std::size_t copierHeader = 0);

struct ZipEntryInput {
  ZipEntryInput(std::string entryName, std::uint16_t zipMethod, Bytes entryContent, Bytes extraField = {})
      : name(std::move(entryName)), method(zipMethod), content(std::move(entryContent)),
        extra(std::move(extraField)) {}
  // An entry whose size field says `size` and whose data are `bytes` as they are.
  static ZipEntryInput raw(std::string entryName, std::uint16_t zipMethod, std::uint32_t size, Bytes bytes) {
    ZipEntryInput e(std::move(entryName), zipMethod, {});
    e.declaredSize = size;
    e.data = std::move(bytes);
    return e;
  }

  std::string name;
  // 0 stored, 8 deflate, 12 bzip2, 14 LZMA (ZIP framing); any other number stores the content as
  // it is under that method number.
  std::uint16_t method = 0;
  Bytes content;
  Bytes extra;                               // extra field after the name
  std::optional<std::uint32_t> declaredSize; // uncompressed size field instead of the content's size
  std::optional<Bytes> data;                 // entry data instead of the compressed content
};

// Local headers with the entries' data, then the central directory and its end record.
Bytes zipArchive(const std::vector<ZipEntryInput>& entries);
// A gzip file (one member) of `data`.
Bytes gzipBytes(const Bytes& data, int level = 6);
// A bzip2 file of `data` made with block size 1 to 9.
Bytes bzip2Bytes(const Bytes& data, int blockSize = 9);

} // namespace zelvo::test
