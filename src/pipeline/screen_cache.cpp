#include "pipeline/screen_cache.h"

#include "pipeline/build_cache.h"
#include "pipeline/hires_tiles.h"
#include "platform/byte_io.h"
#include "platform/cache_folder.h"
#include "platform/fs.h"

#include <cstring>
#include <map>

namespace zelvo {

namespace {

constexpr std::uint32_t kSquareBytes = 24;

// Whether a skipped screen is skipped for a reason its files alone give, so that the same files
// give it again.
bool reasonLiesInTheFiles(const Error& why) {
  switch (why.cause) {
  case ErrorCause::Truncated:
  case ErrorCause::BadFormat:
  case ErrorCause::Unsupported:
  case ErrorCause::LimitExceeded:
  case ErrorCause::DigestMismatch:
    return true;
  default:
    return false;
  }
}

// Appends little-endian values and strings to a growing buffer.
class Appender {
public:
  explicit Appender(std::vector<std::uint8_t>& out) : out_(out) {}
  void u8(std::uint8_t v) { out_.push_back(v); }
  void u32(std::uint32_t v) { put(&v, 4); }
  void u64(std::uint64_t v) { put(&v, 8); }
  void text(const std::string& s) {
    u32(std::uint32_t(s.size()));
    put(s.data(), s.size());
  }
  void put(const void* data, std::size_t size) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    out_.insert(out_.end(), p, p + size);
  }

private:
  std::vector<std::uint8_t>& out_;
};

bool readText(ByteReader& r, std::string& s) {
  std::uint32_t n = 0;
  if (!r.u32(n) || n > r.remaining()) return false;
  s.resize(n);
  return r.bytes(s.data(), n);
}

} // namespace

std::vector<std::uint8_t> preparedScreenBytes(const PreparedScreen& screen, std::uint32_t scale) {
  const std::size_t tileBytes = 256u * scale * scale;
  const std::size_t cuts = screen.cuts.size() / tileBytes;
  // The painted tiles once each (artists paint a tile the same wherever it shows), first.
  std::vector<std::uint32_t> cutOf;
  std::vector<std::uint8_t> out;
  out.reserve(screen.cuts.size() + 128 + screen.squares.size() * kSquareBytes + screen.cutOf.size() * 4);
  {
    std::map<ContentDigest, std::uint32_t> seen;
    std::vector<std::uint32_t> distinctOf(cuts, ~0u);
    cutOf.reserve(screen.cutOf.size());
    for (std::uint32_t c : screen.cutOf) {
      if (c >= cuts) return {};
      if (distinctOf[c] == ~0u) {
        const std::uint8_t* tile = screen.cuts.data() + std::size_t(c) * tileBytes;
        auto [at, fresh] = seen.try_emplace(contentDigestOf(tile, tileBytes), std::uint32_t(seen.size()));
        if (fresh) out.insert(out.end(), tile, tile + tileBytes);
        distinctOf[c] = at->second;
      }
      cutOf.push_back(distinctOf[c]);
    }
  }
  const std::size_t tiles = out.size();
  Appender a(out);
  const ScreenReplaceInfo& info = screen.info;
  a.u8(screen.skipped);
  a.u8(std::uint8_t(screen.reason.cause));
  a.text(screen.reason.path);
  a.text(screen.reason.detail);
  a.u8(info.screenRead);
  a.u8(info.imageRead);
  for (std::uint32_t v : {info.imageSize.width, info.imageSize.height, info.expectedSize.width,
                          info.expectedSize.height, std::uint32_t(info.paintedFactor)})
    a.u32(v);
  a.u32(std::uint32_t(screen.squares.size()));
  for (const ScreenSquare& s : screen.squares) {
    for (std::uint32_t v : {std::uint32_t(s.entry.group), s.entry.index, std::uint32_t(s.left),
                            std::uint32_t(s.top), std::uint32_t(s.place.sprite)})
      a.u32(v);
    a.u8(s.place.row);
    a.u8(s.place.column);
    a.u8(s.opaque);
    a.u8(s.asExported);
  }
  a.u32(std::uint32_t(cutOf.size()));
  for (std::uint32_t d : cutOf) a.u32(d);
  a.u32(std::uint32_t(tiles / tileBytes));
  a.u32(std::uint32_t(out.size() + 4 - tiles)); // the size of all that follows the tiles, this too
  return out;
}

std::optional<PreparedScreen> preparedScreenFromBytes(std::vector<std::uint8_t> bytes, std::uint32_t scale) {
  const std::size_t tileBytes = 256u * scale * scale;
  if (bytes.size() < 4) return std::nullopt;
  const std::uint32_t tail = loadLE32(bytes.data() + bytes.size() - 4);
  if (tail < 8 || tail > bytes.size()) return std::nullopt;
  const std::size_t tiles = bytes.size() - tail;
  ByteReader r(bytes.data() + tiles, tail - 4);
  PreparedScreen screen;
  ScreenReplaceInfo& info = screen.info;
  std::uint8_t skipped = 0, cause = 0, screenRead = 0, imageRead = 0;
  std::uint32_t sizes[5] = {};
  if (!r.u8(skipped) || !r.u8(cause) || cause > std::uint8_t(ErrorCause::InvalidArgument) ||
      !readText(r, screen.reason.path) || !readText(r, screen.reason.detail) || !r.u8(screenRead) ||
      !r.u8(imageRead))
    return std::nullopt;
  for (std::uint32_t& v : sizes)
    if (!r.u32(v)) return std::nullopt;
  screen.skipped = skipped != 0;
  screen.reason.cause = ErrorCause(cause);
  info.screenRead = screenRead != 0;
  info.imageRead = imageRead != 0;
  info.imageSize = {sizes[0], sizes[1]};
  info.expectedSize = {sizes[2], sizes[3]};
  info.paintedFactor = int(sizes[4]);

  std::uint32_t squares = 0;
  if (!r.u32(squares) || squares > r.remaining() / kSquareBytes) return std::nullopt;
  screen.squares.resize(squares);
  for (ScreenSquare& s : screen.squares) {
    std::uint32_t v[5] = {};
    for (std::uint32_t& x : v) r.u32(x);
    std::uint8_t opaque = 0, asExported = 0;
    if (!r.u8(s.place.row) || !r.u8(s.place.column) || !r.u8(opaque) || !r.u8(asExported))
      return std::nullopt;
    s.entry = {int(v[0]), v[1]};
    s.left = int(std::int32_t(v[2]));
    s.top = int(std::int32_t(v[3]));
    s.place.sprite = std::int32_t(v[4]);
    s.opaque = opaque != 0;
    s.asExported = asExported != 0;
  }
  std::uint32_t cuts = 0, distinct = 0;
  if (!r.u32(cuts) || cuts > r.remaining() / 4) return std::nullopt;
  screen.cutOf.resize(cuts);
  for (std::uint32_t& d : screen.cutOf) r.u32(d);
  if (!r.u32(distinct) || r.remaining() != 0 || std::uint64_t(distinct) * tileBytes != tiles)
    return std::nullopt;
  std::size_t expected = 0;
  for (const ScreenSquare& s : screen.squares) expected += squareIsCut(screen, s, scale) ? 1 : 0;
  if (expected != cuts) return std::nullopt;
  for (std::uint32_t d : screen.cutOf)
    if (d >= distinct) return std::nullopt;
  // The tiles stay where they were read.
  bytes.resize(tiles);
  screen.cuts = std::move(bytes);
  return screen;
}

namespace {

// The digest of a file's content, kept in the cache under what the system says of the file, so
// that an unchanged file is not read again. A file changed in the last two seconds is read every
// time: another change within the same tick of the clock would not show in its times.
Result<ContentDigest> fileDigest(BuildCache& cache, const std::string& path) {
  constexpr std::int64_t kSettledNs = 2'000'000'000;
  const FileStamp stamp = fileStampOf(path);
  if (!stamp.ok) return contentDigestOfFile(path); // and its reason
  const ContentDigest key = BuildCache::keyHasher(BuildCache::Kind::FileDigest)
                                .update(absolutePath(path))
                                .update(stamp.device)
                                .update(stamp.inode)
                                .update(stamp.size)
                                .update(std::uint64_t(stamp.modifiedNs))
                                .update(std::uint64_t(stamp.changedNs))
                                .final();
  const bool settled = stamp.ageNs >= kSettledNs;
  if (settled) {
    if (auto kept = cache.get(BuildCache::Kind::FileDigest, key);
        kept && kept->size() == sizeof(ContentDigest)) {
      ContentDigest digest;
      std::memcpy(digest.data(), kept->data(), digest.size());
      return digest;
    }
  }
  Result<ContentDigest> digest = contentDigestOfFile(path);
  if (digest && settled) cache.put(BuildCache::Kind::FileDigest, key, digest->data(), digest->size());
  return digest;
}

} // namespace

PreparedScreen prepareScreenCached(BuildCache* cache, const ContentDigest& tilesDigest,
                                   const HiResTileTable& table, const TileSet& buildTiles,
                                   const std::string& screenPath, const std::string& imagePath,
                                   const std::string& alphaPath, const TileSet* exportTiles) {
  auto prepare = [&] {
    return prepareScreen(table, buildTiles, screenPath, imagePath, alphaPath, exportTiles);
  };
  if (!cache || tilesDigest == ContentDigest{}) return prepare();
  ContentHasher key = BuildCache::keyHasher(BuildCache::Kind::Screen);
  key.update(tilesDigest).update(std::uint64_t(table.scale));
  for (const std::string* path : {&screenPath, &imagePath, &alphaPath}) {
    key.update(*path);
    // No alpha image is a state of its own; any other file must be read for its digest.
    if (path == &alphaPath && (alphaPath.empty() || pathKind(alphaPath) != PathKind::File)) {
      key.update(std::string("no alpha image"));
      continue;
    }
    const Result<ContentDigest> digest = fileDigest(*cache, *path);
    if (!digest) return prepare();
    key.update(*digest);
  }
  const ContentDigest digest = key.final();
  if (auto entry = cache->get(BuildCache::Kind::Screen, digest)) {
    if (std::optional<PreparedScreen> kept = preparedScreenFromBytes(std::move(*entry), table.scale))
      return std::move(*kept);
    cache->discard(BuildCache::Kind::Screen, digest);
  }
  PreparedScreen screen = prepare();
  if (!screen.skipped || reasonLiesInTheFiles(screen.reason)) {
    const std::vector<std::uint8_t> bytes = preparedScreenBytes(screen, table.scale);
    cache->put(BuildCache::Kind::Screen, digest, bytes.data(), bytes.size());
  }
  return screen;
}

} // namespace zelvo
