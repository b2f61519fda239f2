#include "pipeline/pack_read.h"

#include "compress/md5.h"
#include "compress/section_reader.h"
#include "compress/streams.h"
#include "pipeline/pack_format.h"
#include "platform/file.h"
#include "tiles/tiles_file.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace zelvo {

namespace {

constexpr std::size_t kDigestPiece = 1 << 20; // ROM bytes digested at a time

std::string text(std::uint64_t value) { return std::to_string(value); }

// One compressed section read in order, exactly `size` bytes in all; its failures name it.
class SectionStream {
public:
  SectionStream(File& file, const std::string& path, std::string what, std::uint64_t size)
      : file_(file), path_(path), what_(std::move(what)), size_(size) {}

  Status start(std::uint32_t method) {
    if (method > kMethodLZMA)
      return makeError(ErrorCause::Unsupported, path_,
                       what_ + ": unknown compression method " + text(method));
    if (Status fits = checkPayloadFitsFile(file_, method, size_, path_); !fits) {
      if (fits.error().cause != ErrorCause::Truncated) return fits;
      return makeError(ErrorCause::LimitExceeded, path_,
                       what_ + ": " + text(size_) +
                           " bytes claimed, more than the rest of the file can hold");
    }
    Result<std::unique_ptr<IDecompressor>> made = CreateDecompressor(method);
    if (!made) return makeError(made.error().cause, path_, what_ + ": " + made.error().detail);
    decompressor_ = std::move(*made);
    return {};
  }

  Status read(void* buffer, std::size_t n) {
    const std::string where =
        what_ + ": the stream ends or breaks after " + text(done_) + " of " + text(size_) + " bytes";
    if (n > size_ - done_) return makeError(ErrorCause::Truncated, path_, where);
    if (Status read = decompressor_->Read(file_, buffer, n); !read)
      return makeError(ErrorCause::Truncated, path_, where + ": " + read.error().detail);
    done_ += n;
    return {};
  }

private:
  File& file_;
  const std::string& path_;
  std::string what_;
  std::uint64_t size_;
  std::uint64_t done_ = 0;
  std::unique_ptr<IDecompressor> decompressor_;
};

Status checkRom(File& file, const std::string& path, const PackHeader& header) {
  RomSectionHead head{};
  if (header.romSectionSize < sizeof head || !file.seek(sizeof header) || !file.readExact(&head, sizeof head))
    return makeError(ErrorCause::Truncated, path, "the ROM section is cut short");
  SectionStream stream(file, path, "ROM section", head.romSize);
  if (Status s = stream.start(head.compression); !s) return s;
  std::unique_ptr<std::uint8_t[]> piece(new (std::nothrow) std::uint8_t[kDigestPiece]);
  if (!piece) return makeError(ErrorCause::OutOfMemory, path, "ROM section");
  Md5 md5;
  for (std::uint64_t left = head.romSize; left > 0;) {
    const std::size_t n = std::size_t(std::min<std::uint64_t>(left, kDigestPiece));
    if (Status s = stream.read(piece.get(), n); !s) return s;
    md5.update(piece.get(), n);
    left -= n;
  }
  const Md5Digest digest = md5.final();
  if (!std::equal(digest.begin(), digest.end(), header.romDigest))
    return makeError(ErrorCause::DigestMismatch, path, "the ROM image does not match the header's digest");
  return {};
}

// The hi-res section's header against the pack header and the tiles section already read.
Status checkHiResHeader(const std::string& path, const PackHeader& pack, const HiResSectionHeader& h,
                        const TileSet& tiles) {
  if (std::memcmp(h.magic, kHiResMagic, sizeof h.magic) != 0)
    return makeError(ErrorCause::BadFormat, path, "the hi-res section does not start with its magic");
  if (h.flags & ~kHiResFlagDigest)
    return makeError(ErrorCause::BadFormat, path, "the hi-res section has undefined flags " + text(h.flags));
  if (h.scale != pack.scale)
    return makeError(ErrorCause::BadFormat, path,
                     "the hi-res scale " + text(h.scale) + " differs from the pack's " + text(pack.scale));
  std::uint64_t sum = 0;
  for (int g = 0; g < kGroupCount; ++g) {
    if (h.groupCounts[g] != tiles.groups[g].count)
      return makeError(ErrorCause::BadFormat, path,
                       "group " + text(std::uint64_t(g)) + " holds " + text(h.groupCounts[g]) +
                           " hi-res entries but " + text(tiles.groups[g].count) + " tile entries");
    sum += h.groupCounts[g];
  }
  if (sum != h.entryCount)
    return makeError(ErrorCause::BadFormat, path,
                     "the entry count " + text(h.entryCount) + " is not the sum of the group counts");
  // Every distinct tile belongs to at least one entry, and offsets are 32-bit.
  if (h.tileCount > h.entryCount || (h.entryCount > 0 && h.tileCount == 0))
    return makeError(ErrorCause::BadFormat, path,
                     text(h.tileCount) + " hi-res tiles for " + text(h.entryCount) + " entries");
  if (std::uint64_t(h.tileCount) * 256u * h.scale * h.scale > 0x100000000ull)
    return makeError(ErrorCause::LimitExceeded, path, "the hi-res tiles exceed 4 GiB");
  return {};
}

// The tile data, in pieces, then the entry table; both digested when the section has a digest.
Status readHiResPayload(File& file, const std::string& path, const HiResSectionHeader& h,
                        const std::uint8_t* storedDigest, PackTiles& pack) {
  const std::uint64_t dataBytes = std::uint64_t(h.tileCount) * pack.tileBytes;
  SectionStream stream(file, path, "hi-res section", dataBytes + std::uint64_t(h.entryCount) * 4);
  if (Status s = stream.start(h.compression); !s) return s;
  Md5 md5;
  for (std::uint32_t first = 0; first < h.tileCount; first += PackTiles::kTilesPerPiece) {
    const std::size_t bytes =
        std::size_t(std::min(PackTiles::kTilesPerPiece, h.tileCount - first)) * pack.tileBytes;
    std::unique_ptr<std::uint8_t[]> piece(new (std::nothrow) std::uint8_t[bytes]);
    if (!piece) return makeError(ErrorCause::OutOfMemory, path, "hi-res tiles");
    if (Status s = stream.read(piece.get(), bytes); !s) return s;
    md5.update(piece.get(), bytes);
    pack.pieces.push_back(std::move(piece));
  }
  pack.entryOffsets.resize(h.entryCount);
  if (Status s = stream.read(pack.entryOffsets.data(), pack.entryOffsets.size() * 4); !s) return s;
  md5.update(pack.entryOffsets.data(), pack.entryOffsets.size() * 4);
  if (h.flags & kHiResFlagDigest) {
    const Md5Digest digest = md5.final();
    if (!std::equal(digest.begin(), digest.end(), storedDigest))
      return makeError(ErrorCause::DigestMismatch, path, "the hi-res tiles do not match their digest");
  }
  for (std::size_t i = 0; i < pack.entryOffsets.size(); ++i) {
    const std::uint32_t offset = pack.entryOffsets[i];
    if (offset % pack.tileBytes != 0 || offset >= dataBytes)
      return makeError(ErrorCause::BadFormat, path,
                       "hi-res entry " + text(i) + " points at " + text(offset) + ", not at a tile");
  }
  return {};
}

} // namespace

std::uint32_t PackTiles::groupStart(int group) const {
  std::uint32_t start = 0;
  for (int g = 0; g < group && g < kGroupCount; ++g) start += tiles->groups[g].count;
  return start;
}

std::uint32_t PackTiles::tileNumber(int group, std::uint32_t index) const {
  if (!tiles || group < 0 || group >= kGroupCount || index >= tiles->groups[group].count) return kNotFound;
  return entryOffsets[groupStart(group) + index] / tileBytes;
}

const std::uint8_t* PackTiles::tileData(std::uint32_t number) const {
  if (number >= tileCount) return nullptr;
  return pieces[number / kTilesPerPiece].get() + std::size_t(number % kTilesPerPiece) * tileBytes;
}

const std::uint8_t* PackTiles::tile(int group, std::uint32_t index) const {
  const std::uint32_t number = tileNumber(group, index);
  return number == kNotFound ? nullptr : tileData(number);
}

Result<PackTiles> readPackTiles(const std::string& path) {
  Result<File> opened = File::openRead(path);
  if (!opened) return opened.error();
  File& file = *opened;
  const Result<std::uint64_t> sized = file.size();
  if (!sized) return sized.error();
  const std::uint64_t fileSize = *sized;
  PackHeader header{};
  if (fileSize < sizeof header || !file.readExact(&header, sizeof header))
    return makeError(ErrorCause::Truncated, path, "the pack header is cut short");
  if (std::memcmp(header.magic, kPackMagic, sizeof header.magic) != 0)
    return makeError(ErrorCause::BadFormat, path, "not a hi-res ROM pack");
  if (header.scale < 1 || header.scale > 4)
    return makeError(ErrorCause::BadFormat, path, "scale " + text(header.scale) + " is not 1 to 4");
  const std::uint64_t tilesStart = sizeof header + std::uint64_t(header.romSectionSize);
  const std::uint64_t hiResStart = tilesStart + header.tilesSectionSize;
  const std::uint64_t end = hiResStart + header.hiResSectionSize;
  if (end > fileSize)
    return makeError(ErrorCause::Truncated, path,
                     "the sections need " + text(end) + " bytes, the file holds " + text(fileSize));
  if (end < fileSize)
    return makeError(ErrorCause::BadFormat, path, text(fileSize - end) + " bytes follow the last section");

  if (Status s = checkRom(file, path, header); !s) return s.error();

  PackTiles pack;
  pack.scale = header.scale;
  pack.tileBytes = 256u * header.scale * header.scale;
  pack.tiles = createTileSet();
  if (Status s = file.seek(tilesStart); !s) return s.error();
  if (Status read = readTilesFile(*pack.tiles, file, path); !read)
    return makeError(ErrorCause::BadFormat, path,
                     "the tiles section does not read as a tiles file: " + read.error().detail);

  HiResSectionHeader hires{};
  std::uint8_t digest[16];
  if (header.hiResSectionSize < kHiResStreamOffset || !file.seek(hiResStart) ||
      !file.readExact(&hires, sizeof hires) || !file.readExact(digest, sizeof digest))
    return makeError(ErrorCause::Truncated, path, "the hi-res section is cut short");
  if (Status s = checkHiResHeader(path, header, hires, *pack.tiles); !s) return s.error();
  pack.tileCount = hires.tileCount;
  if (Status s = readHiResPayload(file, path, hires, digest, pack); !s) return s.error();
  return pack;
}

} // namespace zelvo
