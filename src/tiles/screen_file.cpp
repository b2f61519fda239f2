#include "tiles/screen_file.h"

#include "compress/md5.h"
#include "compress/streams.h"
#include "tiles/tiles_file.h"

#include <cstring>
#include <new>

namespace zelvo {

std::unique_ptr<ScreenFile> createScreenFile() {
  return std::unique_ptr<ScreenFile>(new (std::nothrow) ScreenFile);
}

bool loadScreenFile(ScreenFile& screen, File& file, const std::string& path) {
  ScreenFileHeader header;
  if (!file.readExact(&header, sizeof header)) return false;
  if (std::memcmp(header.magic, kScreenMagic, sizeof kScreenMagic) != 0) return false;
  if (header.flags & ~kScreenKnownFlags) return false;
  if (header.width > kScreenMaxWidth || header.height > kScreenMaxHeight) return false;
  if (header.reserved[0] != 0 || header.reserved[1] != 0) return false;

  const bool grid = header.flags & kScreenFlagGrid;
  const bool sprites = header.flags & kScreenFlagSprites;
  if (!sprites) header.spriteCount = 0; // the copy counts the records present
  const std::uint64_t payloadSize =
      (grid ? kScreenGridBytes : 0) + std::uint64_t(header.spriteCount) * sizeof(SpriteRecord);
  if (payloadSize > 0xFFFFFFFFull) return false;

  Md5Digest stored{};
  if ((header.flags & kScreenFlagDigest) && !file.readExact(stored.data(), stored.size())) return false;
  if (header.flags & kScreenFlagExtraBlock) {
    std::uint8_t unused[16];
    if (!file.readExact(unused, sizeof unused)) return false;
  }
  if (header.compression > kMethodLZMA) return false;
  if (payloadSize && !payloadFitsFile(file, header.compression, payloadSize)) return false;

  const std::size_t blockSize = sizeof header + std::size_t(payloadSize);
  std::unique_ptr<std::uint8_t[]> block(new (std::nothrow) std::uint8_t[blockSize]);
  if (!block) return false;
  std::uint8_t* payload = block.get() + sizeof header;
  {
    std::unique_ptr<IDecompressor> decompressor = CreateDecompressor(header.compression);
    // The read takes place even for an empty payload.
    if (!decompressor || !decompressor->Read(file, payload, std::size_t(payloadSize))) return false;
  }
  if ((header.flags & kScreenFlagDigest) && md5Of(payload, std::size_t(payloadSize)) != stored) return false;
  if (!findTilesFileBeside(path, screen.tiles)) return false;

  std::memcpy(block.get(), &header, sizeof header);
  screen.block_ = std::move(block);
  screen.blockSize_ = blockSize;
  screen.background_ = grid ? reinterpret_cast<const ScreenCell*>(payload) : nullptr;
  screen.sprites_ =
      sprites ? reinterpret_cast<const SpriteRecord*>(payload + (grid ? kScreenGridBytes : 0)) : nullptr;
  return true;
}

bool loadScreenFile(ScreenFile& screen, const std::string& path) {
  File file = File::openRead(path);
  return file && loadScreenFile(screen, file, path);
}

void freeScreenFile(ScreenFile& screen) {
  screen.background_ = nullptr;
  screen.sprites_ = nullptr;
  screen.block_.reset();
  screen.blockSize_ = 0;
  screen.tiles.reset();
}

} // namespace zelvo
