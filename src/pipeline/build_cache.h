// What builds keep for one another in the user's cache folder (platform/cache_folder.h): the
// compressed runs of hi-res payloads and the prepared screens, each under a key that is the digest
// of everything it was made from, the program's version among them. Every entry carries the digest
// of its own bytes, so an entry that was damaged or cut short is removed and made again, never
// used. A build with the cache writes the very pack a build without it writes.
#pragma once

#include "compress/digest.h"
#include "platform/cache_folder.h"
#include "platform/error.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zelvo {

class BuildCache {
public:
  static constexpr std::uint64_t kDefaultLimit = std::uint64_t(1) << 30; // 1 GB

  enum class Kind : char { HiResRun = 'r', Screen = 's', FileDigest = 'f' };

  // The cache in `folder`, by default the user's cache folder for zelvo
  // ($XDG_CACHE_HOME/zelvo, else ~/.cache/zelvo), bounded by `limit` bytes.
  static Result<std::unique_ptr<BuildCache>> open(const std::string& folder = {},
                                                  std::uint64_t limit = kDefaultLimit);

  // A hasher for the key of an entry of `kind`: it has taken the kind, the program's version and
  // the layout of the entries; the caller adds what the entry is made from.
  static ContentHasher keyHasher(Kind kind);

  // The bytes stored under `key` in an entry of `kind`, when a whole one is there; a damaged one
  // is removed.
  std::optional<std::vector<std::uint8_t>> get(Kind kind, const ContentDigest& key);
  // Removes an entry that get() gave but that does not hold what its kind holds, and counts it
  // as damaged rather than used.
  void discard(Kind kind, const ContentDigest& key);
  // Stores `size` bytes under `key`. A failure is counted, not fatal: the build goes on without.
  void put(Kind kind, const ContentDigest& key, const void* data, std::size_t size);
  // Removes the least recently used entries beyond the limit.
  CacheFolder::Trimmed trim() { return folder_.trim(); }

  const std::string& path() const { return folder_.path(); }

  // What was asked of the cache, by kind, since it was opened. Safe to read while workers use it.
  struct Counts {
    std::size_t hits = 0, misses = 0, damaged = 0, written = 0, writeFailures = 0;
  };
  Counts counts(Kind kind) const;

private:
  explicit BuildCache(CacheFolder folder) : folder_(std::move(folder)) {}
  struct AtomicCounts {
    std::atomic<std::size_t> hits{0}, misses{0}, damaged{0}, written{0}, writeFailures{0};
  };
  AtomicCounts& countsOf(Kind kind) {
    return kind == Kind::HiResRun ? runs_ : kind == Kind::Screen ? screens_ : files_;
  }
  const AtomicCounts& countsOf(Kind kind) const { return const_cast<BuildCache*>(this)->countsOf(kind); }

  CacheFolder folder_;
  AtomicCounts runs_, screens_, files_;
};

} // namespace zelvo
