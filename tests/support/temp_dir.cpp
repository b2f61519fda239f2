#include "support/temp_dir.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>

namespace fs = std::filesystem;

namespace zelvo::test {

TempDir::TempDir() {
  std::string base = fs::temp_directory_path().string() + "/zelvo-test-XXXXXX";
  if (char* made = ::mkdtemp(base.data())) path_ = made;
}

TempDir::~TempDir() {
  std::error_code ec;
  if (!path_.empty()) fs::remove_all(path_, ec);
}

ScopedTmpDir::ScopedTmpDir(const std::string& folder) {
  if (const char* old = std::getenv("TMPDIR")) {
    had_ = true;
    old_ = old;
  }
  ::setenv("TMPDIR", folder.c_str(), 1);
}

ScopedTmpDir::~ScopedTmpDir() {
  if (had_)
    ::setenv("TMPDIR", old_.c_str(), 1);
  else
    ::unsetenv("TMPDIR");
}

ScopedCacheHome::ScopedCacheHome(const std::string& folder) {
  if (const char* old = std::getenv("XDG_CACHE_HOME")) old_ = old;
  ::setenv("XDG_CACHE_HOME", folder.c_str(), 1);
}

ScopedCacheHome::~ScopedCacheHome() { ::setenv("XDG_CACHE_HOME", old_.c_str(), 1); }

namespace {
// The cache home of the whole test program (and of the programs it starts).
struct ProgramCacheHome {
  TempDir folder;
  ProgramCacheHome() { ::setenv("XDG_CACHE_HOME", folder.path().c_str(), 1); }
};
const ProgramCacheHome programCacheHome;
} // namespace

std::size_t countTmpFiles(const std::string& folder) {
  std::size_t n = 0;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(folder, ec)) {
    if (e.path().filename().string().rfind("TMP", 0) == 0) ++n;
  }
  return n;
}

bool writeFileBytes(const std::string& path, const void* data, std::size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(static_cast<const char*>(data), std::streamsize(size));
  return bool(out);
}

std::string readFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

} // namespace zelvo::test
