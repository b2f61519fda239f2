#include "pipeline/build_cache.h"

#include "platform/byte_io.h"

#include <cstring>

namespace zelvo {

namespace {

// Bumped whenever what an entry holds, or how it is made, changes without a new program version.
constexpr std::uint64_t kEntryLayout = 1;
constexpr char kMagic[4] = {'Z', 'V', 'C', 'E'};
// The head of every entry: magic, kind and three zero bytes, key, size and digest of the rest.
constexpr std::size_t kHeadSize = 4 + 4 + 16 + 8 + 16;

std::string entryName(BuildCache::Kind kind, const ContentDigest& key) {
  static const char* digits = "0123456789abcdef";
  std::string name(1, char(kind));
  name += '-';
  for (std::uint8_t b : key) name += {digits[b >> 4], digits[b & 15]};
  return name;
}

} // namespace

Result<std::unique_ptr<BuildCache>> BuildCache::open(const std::string& folder, std::uint64_t limit) {
  const std::string path = folder.empty() ? userCacheDirectory("zelvo") : folder;
  if (path.empty())
    return makeError(ErrorCause::NotFound, {}, "no cache folder: neither XDG_CACHE_HOME nor HOME is set");
  Result<CacheFolder> opened = CacheFolder::open(path, limit);
  if (!opened) return opened.error();
  return std::unique_ptr<BuildCache>(new BuildCache(std::move(*opened)));
}

ContentHasher BuildCache::keyHasher(Kind kind) {
  ContentHasher hasher;
  hasher.update(std::string(1, char(kind))).update(std::string(ZELVO_VERSION)).update(kEntryLayout);
  return hasher;
}

std::optional<std::vector<std::uint8_t>> BuildCache::get(Kind kind, const ContentDigest& key) {
  AtomicCounts& counts = countsOf(kind);
  const std::string name = entryName(kind, key);
  std::uint8_t head[kHeadSize];
  Result<std::vector<std::uint8_t>> read = folder_.read(name, head, sizeof head);
  if (!read && read.error().cause != ErrorCause::Truncated) {
    ++counts.misses;
    return std::nullopt;
  }
  bool whole = read && std::memcmp(head, kMagic, 4) == 0 && head[4] == std::uint8_t(kind) &&
               std::memcmp(head + 8, key.data(), 16) == 0 && loadLE64(head + 24) == read->size();
  if (whole) {
    const ContentDigest digest = contentDigestOf(read->data(), read->size());
    whole = std::memcmp(head + 32, digest.data(), 16) == 0;
  }
  if (!whole) {
    folder_.remove(name);
    ++counts.damaged;
    ++counts.misses;
    return std::nullopt;
  }
  ++counts.hits;
  return std::move(*read);
}

void BuildCache::discard(Kind kind, const ContentDigest& key) {
  folder_.remove(entryName(kind, key));
  AtomicCounts& counts = countsOf(kind);
  --counts.hits;
  ++counts.misses;
  ++counts.damaged;
}

void BuildCache::put(Kind kind, const ContentDigest& key, const void* data, std::size_t size) {
  std::uint8_t head[kHeadSize] = {};
  std::memcpy(head, kMagic, 4);
  head[4] = std::uint8_t(kind);
  std::memcpy(head + 8, key.data(), 16);
  storeLE64(head + 24, size);
  const ContentDigest digest = contentDigestOf(data, size);
  std::memcpy(head + 32, digest.data(), 16);
  AtomicCounts& counts = countsOf(kind);
  if (folder_.write(entryName(kind, key), {{head, sizeof head}, {data, size}}))
    ++counts.written;
  else
    ++counts.writeFailures;
}

BuildCache::Counts BuildCache::counts(Kind kind) const {
  const AtomicCounts& c = countsOf(kind);
  return {c.hits.load(), c.misses.load(), c.damaged.load(), c.written.load(), c.writeFailures.load()};
}

} // namespace zelvo
