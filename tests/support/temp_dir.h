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

// Names of files starting with "TMP" in `folder` (left-over temporary files).
std::size_t countTmpFiles(const std::string& folder);

// Writes / reads a whole file (test convenience).
bool writeFileBytes(const std::string& path, const void* data, std::size_t size);
std::string readFileBytes(const std::string& path);

} // namespace zelvo::test
