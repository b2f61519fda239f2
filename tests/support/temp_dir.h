// A fresh folder per test, removed afterwards; tests never write into the working directory.
#pragma once

#include "platform/file.h"
#include "platform/fs.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace zelvo::test {

class TempDir {
public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
  std::string path_;
};

// Points TMPDIR (where the system makes its temporary files) at `folder` for the object's
// lifetime, then restores it as it was, unset included.
class ScopedTmpDir {
public:
  explicit ScopedTmpDir(const std::string& folder);
  ~ScopedTmpDir();
  ScopedTmpDir(const ScopedTmpDir&) = delete;
  ScopedTmpDir& operator=(const ScopedTmpDir&) = delete;

private:
  bool had_ = false;
  std::string old_;
};

// Points XDG_CACHE_HOME (the build cache's home) at `folder` for the object's lifetime, then back
// at what it was. Every test program starts with a cache home of its own, removed at exit, so no
// test reads or fills the user's cache.
class ScopedCacheHome {
public:
  explicit ScopedCacheHome(const std::string& folder);
  ~ScopedCacheHome();
  ScopedCacheHome(const ScopedCacheHome&) = delete;
  ScopedCacheHome& operator=(const ScopedCacheHome&) = delete;

private:
  std::string old_;
};

// Names of files starting with "TMP" in `folder` (left-over temporary files).
std::size_t countTmpFiles(const std::string& folder);

// Writes / reads a whole file (test convenience).
bool writeFileBytes(const std::string& path, const void* data, std::size_t size);
std::string readFileBytes(const std::string& path);

// The file opened, or a closed File where opening failed (the test then checks isOpen()).
inline File opened(Result<File> file) { return file ? std::move(*file) : File(); }
// What listMatching finds; nothing when the folder cannot be read.
inline std::vector<DirEntry> listed(const std::string& folder, const std::string& pattern) {
  Result<std::vector<DirEntry>> names = listMatching(folder, pattern);
  return names ? std::move(*names) : std::vector<DirEntry>();
}
// The value of `result` into `out` (a file's size or position); false when it failed.
template <class T> bool into(Result<T> result, T& out) {
  if (result) out = *result;
  return result.ok();
}

} // namespace zelvo::test
