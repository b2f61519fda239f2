// A fresh folder per test, removed afterwards; tests never write into the working directory.
#pragma once

#include <string>

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

} // namespace zelvo::test
