// The screen file (*.msscreen): one captured frame, a 32 x 28 grid of background cells and/or a
// list of sprites, described by content and resolved against the tiles file beside it.
//
// Ceiling: a file may hold at most kMaxScreenSprites sprite records (the console shows 64 sprites
// in a frame); a header that counts more is refused before anything is decompressed, so a screen
// file's payload never exceeds 57,344 + 409,600 bytes.
#pragma once

#include "compress/md5.h"
#include "platform/error.h"
#include "platform/file.h"
#include "tiles/tile_store.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace zelvo {

inline constexpr char kScreenMagic[8] = {'M', 'S', 'S', 'C', 'R', 'E', 'N', '\0'};
inline constexpr std::uint32_t kScreenFlagDigest = 1;     // an MD5 of the payload follows the header
inline constexpr std::uint32_t kScreenFlagExtraBlock = 2; // 16 more bytes follow; read and discarded
inline constexpr std::uint32_t kScreenFlagGrid = 4;       // the background grid is present
inline constexpr std::uint32_t kScreenFlagSprites = 8;    // sprite records are present
inline constexpr std::uint32_t kScreenKnownFlags = 15;

inline constexpr int kScreenColumns = 32;
inline constexpr int kScreenRows = 28;
inline constexpr int kScreenCellCount = kScreenColumns * kScreenRows;
inline constexpr std::uint32_t kScreenMaxWidth = 256;
inline constexpr std::uint32_t kScreenMaxHeight = 224;
inline constexpr std::uint32_t kMaxScreenSprites = 4096;

struct ScreenFileHeader {
  char magic[8];
  std::uint32_t flags;
  std::uint32_t spriteCount; // meaningful only with kScreenFlagSprites
  std::uint16_t width;       // visible width in pixels, at most 256
  std::uint16_t height;      // visible height in pixels, at most 224
  std::uint32_t compression; // CompressionMethod
  std::uint32_t reserved[2]; // must be 0
};
static_assert(sizeof(ScreenFileHeader) == 32);

struct ScreenCell {
  std::uint8_t palette[16]; // colour codes (key for findPalette)
  std::uint8_t pattern[32]; // planar pattern (key for findPattern)
  std::uint16_t nameWord;   // bits 9-10 flip, bit 12 priority
  std::uint8_t unused[14];
};
static_assert(sizeof(ScreenCell) == 64);

inline constexpr std::uint8_t kSpriteTall = 2; // SpriteRecord::flags: the lower tile is present

struct SpriteRecord {
  std::uint8_t palette[16]; // upper tile
  std::uint8_t pattern[32];
  std::uint8_t palette2[16]; // lower tile
  std::uint8_t pattern2[32];
  std::uint8_t flags;
  std::uint8_t unused;
  std::uint8_t x; // left edge in screen pixels
  std::uint8_t y; // sprite line value: the upper tile's top row is on line y + 1
};
static_assert(sizeof(SpriteRecord) == 100);

inline constexpr std::uint32_t kScreenGridBytes = kScreenCellCount * sizeof(ScreenCell); // 57344

// Coordinates as drawn and cut: x above 248 is 248; the upper tile's y from 215 and the lower
// tile's y from 207 on is 216.
inline int spriteClampX(std::uint8_t x) { return x > 248 ? 248 : x; }
inline int spriteClampUpperY(std::uint8_t y) { return y >= 215 ? 216 : y; }
inline int spriteClampLowerY(std::uint8_t y) { return y >= 207 ? 216 : y; }

// Whether a screen is read with the tiles file beside it (to show or export it) or alone (a build
// resolves the screen against tiles of its own).
enum class TilesBeside { Load, Skip };

class ScreenFile;
// Visits every sprite tile in drawing order (each record's upper tile, then its lower tile when it
// has one) with its colours, its pattern and the top-left corner of its square in an image of the
// screen at `factor`: x and the tile's line clamped as above, the square starting one line below the
// line value, the lower tile right beneath the upper one. These are the places where the export
// draws sprites and the build cuts them out of images. `visit` returns false to stop; the result
// is then false.
template <class Visit> bool forEachSpriteTile(const ScreenFile& screen, int factor, Visit&& visit);

class ScreenFile {
public:
  ScreenFile() = default;
  ScreenFile(const ScreenFile&) = delete;
  ScreenFile& operator=(const ScreenFile&) = delete;

  // The tiles found beside the screen file (owned); null before a successful load.
  std::unique_ptr<TileSet> tiles;

  bool loaded() const { return block_ != nullptr; }
  // The header as read, except that the sprite count is 0 when no sprites are present.
  const ScreenFileHeader* header() const { return reinterpret_cast<const ScreenFileHeader*>(block_.get()); }
  std::uint32_t width() const { return block_ ? header()->width : 0; }
  std::uint32_t height() const { return block_ ? header()->height : 0; }
  std::uint32_t flags() const { return block_ ? header()->flags : 0; }
  std::uint32_t spriteCount() const { return block_ ? header()->spriteCount : 0; }
  // The 896 cells, row by row from the top; null without a grid.
  const ScreenCell* background() const { return background_; }
  // spriteCount() records; null without sprites.
  const SpriteRecord* sprites() const { return sprites_; }
  // The cell at (row, column), or null without a grid or outside it.
  const ScreenCell* cell(int row, int column) const {
    if (!background_ || row < 0 || row >= kScreenRows || column < 0 || column >= kScreenColumns)
      return nullptr;
    return background_ + row * kScreenColumns + column;
  }

private:
  friend Status readScreenFile(ScreenFile&, File&, const std::string&, TilesBeside);
  friend void freeScreenFile(ScreenFile&);

  std::unique_ptr<std::uint8_t[]> block_; // header copy, then the payload
  std::size_t blockSize_ = 0;
  const ScreenCell* background_ = nullptr;
  const SpriteRecord* sprites_ = nullptr;
};

// What precedes a screen file's stream, checked: the header (its sprite count 0 when no sprites
// are present), the digest when flags bit 0 is set, and the payload size that follows from them.
struct ScreenFilePreamble {
  ScreenFileHeader header{};
  bool hasDigest = false;
  Md5Digest digest{};
  std::uint32_t payloadSize = 0;
};

// Reads and checks the header and the optional blocks from the current position (the magic, the
// flags, the visible size, the reserved words, the sprite count against its ceiling); the file
// then stands at the stream. `path` only names the file in the error.
Result<ScreenFilePreamble> readScreenPreamble(File& file, const std::string& path);

// Decompresses the payload that follows `preamble` and digests it, keeping nothing: every check of
// readScreenFile but the comparison with the stored digest and the tiles file beside it.
Result<Md5Digest> digestScreenPayload(File& file, const ScreenFilePreamble& preamble,
                                      const std::string& path);

template <class Visit> bool forEachSpriteTile(const ScreenFile& screen, int factor, Visit&& visit) {
  const int edge = 8 * factor;
  for (std::uint32_t i = 0; i < screen.spriteCount(); ++i) {
    const SpriteRecord& s = screen.sprites()[i];
    const int left = spriteClampX(s.x) * factor;
    if (!visit(s.palette, s.pattern, left, spriteClampUpperY(s.y) * factor + 1)) return false;
    if ((s.flags & kSpriteTall) &&
        !visit(s.palette2, s.pattern2, left, spriteClampLowerY(s.y) * factor + 1 + edge))
      return false;
  }
  return true;
}

// An empty ScreenFile.
std::unique_ptr<ScreenFile> createScreenFile();
// Reads a screen file from the current position of `file`; `path` is its path, used to find the
// tiles file beside it and to name it in the error. On failure `screen` keeps what it held and the
// error says why (as for tiles files; NotFound when no valid tiles file lies beside it). With
// TilesBeside::Skip, `screen.tiles` stays empty and no tiles file is looked for.
Status readScreenFile(ScreenFile& screen, File& file, const std::string& path,
                      TilesBeside tiles = TilesBeside::Load);
// Opens `path` for reading and reads it.
Status readScreenFile(ScreenFile& screen, const std::string& path, TilesBeside tiles = TilesBeside::Load);
// Releases the block and the TileSet; the ScreenFile is empty again.
void freeScreenFile(ScreenFile& screen);

struct ImageSize {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  bool operator==(const ImageSize&) const = default;
};
// The size of the screen's exported image at `factor`: the sprites' image is always the whole
// 256 x 224 screen; the background's is the visible width x height (not rounded to whole tiles),
// or the whole screen when a visible side is 0.
ImageSize exportImageSize(const ScreenFile& screen, int factor, bool spritesOnly);

} // namespace zelvo
