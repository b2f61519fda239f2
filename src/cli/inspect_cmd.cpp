// `zelvo inspect FILE [--json]`: recognises a file by its 8-byte magic and describes it, checking
// its digest by decompressing the payload itself (so a mismatch is shown rather than refused).
#include "cli/commands.h"
#include "cli/inspect_kinds.h"
#include "compress/md5.h"
#include "compress/streams.h"
#include "tiles/screen_file.h"
#include "tiles/tiles_file.h"

#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace zelvo::cli {

namespace {

struct Kind {
  char magic[8];
  InspectDescriber describe;
};

// One row per kind of file.
const Kind kKinds[] = {
    {{'M', 'S', 'T', 'I', 'L', 'E', 'S', '\0'}, describeTilesFile},
    {{'M', 'S', 'S', 'C', 'R', 'E', 'N', '\0'}, describeScreenFile},
    {{'M', 'S', 'H', 'I', 'R', 'O', 'M', '\0'}, describePackFile},
};

constexpr std::size_t kDigestPiece = 1 << 20;

std::string textOf(const InspectJson& value) {
  if (value.is_null()) return "none";
  if (value.is_boolean()) return value.get<bool>() ? "yes" : "no";
  if (value.is_string()) return value.get<std::string>();
  if (value.is_array()) {
    std::string s;
    for (const auto& v : value) s += (s.empty() ? "" : " ") + textOf(v);
    return s;
  }
  return value.dump();
}

} // namespace

void putDigest(InspectJson& info, const Md5Digest* stored, const Md5Digest& actual) {
  if (!stored) {
    info["digest"] = nullptr;
    info["digestOk"] = nullptr;
    return;
  }
  info["digest"] = toHex(*stored);
  info["digestOk"] = *stored == actual;
}

const char* compressionName(std::uint32_t method) {
  switch (method) {
  case kMethodStored:
    return "stored";
  case kMethodDeflate:
    return "deflate";
  case kMethodBZip2:
    return "bzip2";
  case kMethodLZMA:
    return "lzma";
  default:
    return "unknown";
  }
}

bool digestSection(File& file, std::uint32_t method, std::uint64_t size, Md5Digest& digest,
                   std::string& error) {
  Md5 md5;
  if (size > 0) {
    if (method > kMethodLZMA) {
      error = "unknown compression method " + std::to_string(method);
      return false;
    }
    if (!payloadFitsFile(file, method, size)) {
      error = "the header claims " + std::to_string(size) +
              " payload bytes, more than the rest of the file can hold";
      return false;
    }
    std::unique_ptr<IDecompressor> decompressor = CreateDecompressor(method);
    std::unique_ptr<std::uint8_t[]> piece(new (std::nothrow) std::uint8_t[kDigestPiece]);
    if (!decompressor || !piece) {
      error = "out of memory";
      return false;
    }
    for (std::uint64_t done = 0; done < size;) {
      const std::size_t n = std::size_t(std::min<std::uint64_t>(kDigestPiece, size - done));
      if (!decompressor->Read(file, piece.get(), n)) {
        error = std::string("the ") + compressionName(method) + " payload ends or breaks after " +
                std::to_string(done) + " of " + std::to_string(size) + " bytes";
        return false;
      }
      md5.update(piece.get(), n);
      done += n;
    }
  }
  digest = md5.final();
  return true;
}

bool describeTilesFile(File& file, const std::string&, InspectJson& info, std::string& error) {
  TilesFileHeader header;
  if (!file.readExact(&header, sizeof header)) {
    error = "the tiles file header is cut short";
    return false;
  }
  if (header.flags & ~kTilesKnownFlags) {
    error = "undefined flag bits are set (flags " + std::to_string(header.flags) + ")";
    return false;
  }
  Md5Digest stored{};
  const bool hasDigest = header.flags & kTilesFlagDigest;
  std::uint8_t unused[16];
  if ((hasDigest && !file.readExact(stored.data(), stored.size())) ||
      ((header.flags & kTilesFlagExtraBlock) && !file.readExact(unused, sizeof unused))) {
    error = "the file ends inside the blocks that follow the header";
    return false;
  }
  const TileCounts counts = countsOf(header);
  std::uint32_t size = 0;
  if (!payloadSizeOf(counts, size)) {
    error = "the counts make a payload larger than 4 GiB";
    return false;
  }
  Md5Digest actual{};
  if (!digestSection(file, header.compression, size, actual, error)) return false;

  info["kind"] = "tiles";
  info["flags"] = header.flags;
  info["compression"] = header.compression;
  info["compressionName"] = compressionName(header.compression);
  info["palettes"] = header.paletteCount;
  info["patterns"] = header.patternCount;
  InspectJson groups = InspectJson::array();
  std::uint64_t entries = 0;
  for (std::uint32_t c : header.groupCounts) {
    groups.push_back(c);
    entries += c;
  }
  info["groups"] = groups;
  info["entries"] = entries;
  info["payloadSize"] = size;
  putDigest(info, hasDigest ? &stored : nullptr, actual);
  return true;
}

bool describeScreenFile(File& file, const std::string& path, InspectJson& info, std::string& error) {
  ScreenFileHeader header;
  if (!file.readExact(&header, sizeof header)) {
    error = "the screen file header is cut short";
    return false;
  }
  if (header.flags & ~kScreenKnownFlags) {
    error = "undefined flag bits are set (flags " + std::to_string(header.flags) + ")";
    return false;
  }
  if (header.width > kScreenMaxWidth || header.height > kScreenMaxHeight) {
    error = "the visible size " + std::to_string(header.width) + " x " + std::to_string(header.height) +
            " exceeds 256 x 224";
    return false;
  }
  if (header.reserved[0] || header.reserved[1]) {
    error = "the reserved header words are not 0";
    return false;
  }
  const bool grid = header.flags & kScreenFlagGrid;
  const std::uint32_t sprites = (header.flags & kScreenFlagSprites) ? header.spriteCount : 0;
  const std::uint64_t size = (grid ? kScreenGridBytes : 0) + std::uint64_t(sprites) * sizeof(SpriteRecord);
  if (size > 0xFFFFFFFFull) {
    error = "the sprite count makes a payload larger than 4 GiB";
    return false;
  }
  Md5Digest stored{};
  const bool hasDigest = header.flags & kScreenFlagDigest;
  std::uint8_t unused[16];
  if ((hasDigest && !file.readExact(stored.data(), stored.size())) ||
      ((header.flags & kScreenFlagExtraBlock) && !file.readExact(unused, sizeof unused))) {
    error = "the file ends inside the blocks that follow the header";
    return false;
  }
  if (header.compression > kMethodLZMA) {
    error = "unknown compression method " + std::to_string(header.compression);
    return false;
  }
  Md5Digest actual{};
  if (!digestSection(file, header.compression, size, actual, error)) return false;
  std::unique_ptr<TileSet> tiles;
  const bool tilesBeside = findTilesFileBeside(path, tiles);

  info["kind"] = "screen";
  info["flags"] = header.flags;
  info["width"] = header.width;
  info["height"] = header.height;
  info["compression"] = header.compression;
  info["compressionName"] = compressionName(header.compression);
  info["grid"] = grid;
  info["sprites"] = sprites;
  info["payloadSize"] = size;
  putDigest(info, hasDigest ? &stored : nullptr, actual);
  info["tilesBeside"] = tilesBeside;
  return true;
}

int runInspect(const InspectOptions& options, std::FILE* out, std::FILE* err) {
  File file = File::openRead(options.path);
  if (!file) {
    std::fprintf(err, "zelvo: %s: cannot open the file\n", options.path.c_str());
    return 1;
  }
  char magic[8];
  std::size_t got = 0;
  if (!file.read(magic, sizeof magic, got) || !file.seek(0)) {
    std::fprintf(err, "zelvo: %s: cannot read the file\n", options.path.c_str());
    return 1;
  }
  const Kind* kind = nullptr;
  for (const Kind& k : kKinds)
    if (got == sizeof magic && std::memcmp(magic, k.magic, sizeof magic) == 0) kind = &k;
  if (!kind) {
    std::fprintf(err, "zelvo: %s: not a tiles file, screen file or pack (unknown magic)\n",
                 options.path.c_str());
    return 1;
  }
  InspectJson info = InspectJson::object();
  std::string error;
  if (!kind->describe(file, options.path, info, error)) {
    std::fprintf(err, "zelvo: %s: %s\n", options.path.c_str(), error.c_str());
    return 1;
  }
  if (options.json) {
    std::fprintf(out, "%s\n", info.dump(2).c_str());
  } else {
    for (const auto& [key, value] : info.items())
      std::fprintf(out, "%s: %s\n", key.c_str(), textOf(value).c_str());
  }
  return 0;
}

} // namespace zelvo::cli
