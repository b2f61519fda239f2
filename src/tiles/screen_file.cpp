#include "tiles/screen_file.h"

#include "compress/section_reader.h"
#include "tiles/header_blocks.h"
#include "tiles/tiles_file.h"

#include <cstring>
#include <new>

namespace zelvo {

std::unique_ptr<ScreenFile> createScreenFile() { return std::make_unique<ScreenFile>(); }

Result<ScreenFilePreamble> readScreenPreamble(File& file, const std::string& path) {
  ScreenFilePreamble read;
  ScreenFileHeader& header = read.header;
  if (Status s = readExactly(file, &header, sizeof header, path, "the header"); !s) return s.error();
  auto bad = [&](const std::string& detail) { return makeError(ErrorCause::BadFormat, path, detail); };
  if (std::memcmp(header.magic, kScreenMagic, sizeof kScreenMagic) != 0)
    return bad("not a screen file (no MSSCREN magic)");
  if (const std::uint32_t undefined = header.flags & ~kScreenKnownFlags)
    return undefinedFlags(undefined, path);
  if (header.width > kScreenMaxWidth || header.height > kScreenMaxHeight)
    return bad("the visible size " + std::to_string(header.width) + " x " + std::to_string(header.height) +
               " exceeds 256 x 224");
  if (header.reserved[0] != 0 || header.reserved[1] != 0) return bad("the reserved header words are not 0");

  const bool grid = header.flags & kScreenFlagGrid;
  if (!(header.flags & kScreenFlagSprites)) header.spriteCount = 0; // the copy counts the records present
  if (header.spriteCount > kMaxScreenSprites)
    return makeError(ErrorCause::LimitExceeded, path,
                     std::to_string(header.spriteCount) + " sprites; at most " +
                         std::to_string(kMaxScreenSprites) + " are read");
  read.payloadSize = (grid ? kScreenGridBytes : 0) + header.spriteCount * std::uint32_t(sizeof(SpriteRecord));

  read.hasDigest = header.flags & kScreenFlagDigest;
  Status blocks = readHeaderBlocks(file, read.hasDigest ? &read.digest : nullptr,
                                   header.flags & kScreenFlagExtraBlock, path);
  if (!blocks) return blocks.error();
  return read;
}

Result<Md5Digest> digestScreenPayload(File& file, const ScreenFilePreamble& preamble,
                                      const std::string& path) {
  return digestSection(file, preamble.header.compression, preamble.payloadSize, path);
}

Status readScreenFile(ScreenFile& screen, File& file, const std::string& path, TilesBeside tiles) {
  Result<ScreenFilePreamble> preamble = readScreenPreamble(file, path);
  if (!preamble) return preamble.error();
  const ScreenFileHeader& header = preamble->header;
  const std::uint32_t payloadSize = preamble->payloadSize;

  // The block holds a copy of the header, then the payload; the read takes place even for an
  // empty payload.
  Result<SectionBlock> payload = readSectionBlock(file, header.compression, payloadSize, sizeof header, path);
  if (!payload) return payload.error();
  if (preamble->hasDigest && payload->digest != preamble->digest)
    return makeError(ErrorCause::DigestMismatch, path, "the payload does not match its MD5 digest");
  if (tiles == TilesBeside::Load) {
    if (Status found = findTilesBeside(path, screen.tiles); !found) return found;
  } else {
    screen.tiles.reset();
  }

  std::unique_ptr<std::uint8_t[]> block = std::move(payload->data);
  std::memcpy(block.get(), &header, sizeof header);
  const std::uint8_t* start = block.get() + sizeof header;
  const bool grid = header.flags & kScreenFlagGrid;
  screen.block_ = std::move(block);
  screen.blockSize_ = sizeof header + payloadSize;
  screen.background_ = grid ? reinterpret_cast<const ScreenCell*>(start) : nullptr;
  screen.sprites_ = (header.flags & kScreenFlagSprites)
                        ? reinterpret_cast<const SpriteRecord*>(start + (grid ? kScreenGridBytes : 0))
                        : nullptr;
  return {};
}

Status readScreenFile(ScreenFile& screen, const std::string& path, TilesBeside tiles) {
  Result<File> file = File::openRead(path);
  if (!file) return file.error();
  return readScreenFile(screen, *file, path, tiles);
}

void freeScreenFile(ScreenFile& screen) {
  screen.background_ = nullptr;
  screen.sprites_ = nullptr;
  screen.block_.reset();
  screen.blockSize_ = 0;
  screen.tiles.reset();
}

ImageSize exportImageSize(const ScreenFile& screen, int factor, bool spritesOnly) {
  const auto f = std::uint32_t(factor);
  const std::uint32_t width = screen.width(), height = screen.height();
  if (spritesOnly || width == 0 || height == 0) return {kScreenMaxWidth * f, kScreenMaxHeight * f};
  return {width * f, height * f};
}

} // namespace zelvo
