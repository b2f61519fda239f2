// A folder of cache entries kept between runs: files named by their keys, bounded in total size.
// An entry is written whole to a file without a name and only then given its name, so a reader
// never sees part of one; it is never synced (an entry lost in a crash is made again, a torn one is
// caught by the digest its owner puts in it) and never replaced in place (the name of an entry
// already there keeps it: the same key stands for the same content). Reading an entry marks it as
// used (its modification time), and trim() removes the least recently used entries first. Several
// threads and processes may use one folder at once: an entry removed meanwhile is simply missing.
#pragma once

#include "platform/error.h"

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace zelvo {

// The per-user cache folder of `application`: $XDG_CACHE_HOME/application, else
// $HOME/.cache/application; empty when neither variable is set.
std::string userCacheDirectory(const std::string& application);

// What the system says of a file that changes whenever its content may have: its device and inode,
// size, and times of last change to its content (mtime) and to the file (ctime, which no program
// sets at will), with the age of that last change. `ok` false when the file cannot be looked at.
struct FileStamp {
  bool ok = false;
  std::uint64_t device = 0, inode = 0, size = 0;
  std::int64_t modifiedNs = 0, changedNs = 0;
  std::int64_t ageNs = 0; // since the later of the two
};
FileStamp fileStampOf(const std::string& path);

class CacheFolder {
public:
  struct Piece {
    const void* data;
    std::size_t size;
  };

  // The folder, made with its parents when missing; `limit` bytes in all are kept by trim().
  static Result<CacheFolder> open(const std::string& folder, std::uint64_t limit);

  const std::string& path() const { return path_; }
  std::uint64_t limit() const { return limit_; }

  // The content of entry `name` (marked as used now): its first `headSize` bytes into `head`, the
  // rest returned; NotFound when there is none, Truncated when it is shorter than its head.
  Result<std::vector<std::uint8_t>> read(const std::string& name, void* head = nullptr,
                                         std::size_t headSize = 0) const;
  // Makes entry `name` of `pieces`, one after the other. An entry of that name already there stays.
  Status write(const std::string& name, std::initializer_list<Piece> pieces) const;
  void remove(const std::string& name) const;

  struct Trimmed {
    std::size_t entries = 0; // entries removed
    std::uint64_t bytes = 0; // their size
    std::uint64_t kept = 0;  // the size of the entries that stay
  };
  // Removes the least recently used entries until those left hold at most the limit, and the
  // temporary files of writes that were never finished (older than an hour).
  Trimmed trim() const;

private:
  CacheFolder(std::string path, std::uint64_t limit) : path_(std::move(path)), limit_(limit) {}
  std::string path_;
  std::uint64_t limit_;
};

} // namespace zelvo
