#include "platform/temp_files.h"

#include "platform/fault.h"
#include "platform/fs.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <random>
#include <unistd.h>

namespace zelvo {

namespace {
constexpr std::size_t kTempDirBuffer = 246;
constexpr std::size_t kCurrentDirBuffer = 248;

std::uint32_t nextCandidate() {
  static std::atomic<std::uint32_t> counter{0};
  static const std::uint32_t seed = [] {
    std::random_device rd;
    return rd() ^ std::uint32_t(::getpid()) ^
           std::uint32_t(std::chrono::steady_clock::now().time_since_epoch().count());
  }();
  return seed + counter.fetch_add(0x9E3779B1u);
}
} // namespace

std::string candidateTempName(const std::string& folder) {
  char leaf[32];
  std::snprintf(leaf, sizeof leaf, "TMP%08X.tmp", nextCandidate());
  return joinPath(folder, leaf);
}

bool createTempFileIn(const std::string& folder, std::string& name) {
  for (int attempt = 0; attempt < 1000; ++attempt) {
    std::string candidate = candidateTempName(folder);
    if (candidate.size() > kMaxTempNameLength) return false;
    if (faultPoint(FaultOp::Open)) return false;
    int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
      ::close(fd);
      name = candidate;
      return true;
    }
    if (errno != EEXIST) return false;
  }
  return false;
}

bool TempFileInTempDir(std::string& name) {
  std::string folder = tempDirectory();
  if (folder.empty() || folder.size() >= kTempDirBuffer) folder = ".";
  return createTempFileIn(folder, name);
}

bool TempFileInCurrentDir(std::string& name) {
  std::string folder;
  if (!getCurrentDirectory(folder) || folder.empty() || folder.size() > kCurrentDirBuffer - 1) {
    folder = ".";
  } else if (folder.size() > 1 && isSeparator(folder.back())) {
    folder.pop_back();
  }
  return createTempFileIn(folder, name);
}

bool TempFileBeside(const std::string& path, std::string& name) {
  if (path.empty()) return TempFileInCurrentDir(name);
  std::string copy = path;
  if (copy.size() > 1 && isSeparator(copy.back())) copy.pop_back();
  if (!isDirectory(copy)) {
    std::size_t i = copy.size();
    while (i > 1 && !isSeparator(copy[i - 1])) --i;
    // i - 1 is the separator; the first character itself is never taken
    if (i <= 1) return TempFileInCurrentDir(name);
    copy.resize(i - 1);
    if (!isDirectory(copy)) return TempFileInCurrentDir(name);
  }
  return createTempFileIn(copy, name);
}

Result<File> createScratchFile() {
  const std::string folder = tempDirectory();
  File file = File::createUnnamedIn(folder);
  if (file) return file;
  const int err = File::lastOpenError();
  // Only a file system without unnamed files falls back to a named file that is unlinked at once.
  if (err != EOPNOTSUPP && err != EISDIR && err != EINVAL)
    return systemError(err, folder, "creating a temporary file");
  std::string name;
  if (!TempFileInTempDir(name)) return systemError(errno ? errno : EIO, folder, "creating a temporary file");
  TempFileGuard guard(name); // removes the name if the file cannot be opened
  file = File::createTemporary(name);
  if (!file) return systemError(File::lastOpenError(), name, "opening a temporary file");
  guard.release(); // already unlinked
  return file;
}

TempFileGuard::~TempFileGuard() { reset(); }

TempFileGuard& TempFileGuard::operator=(TempFileGuard&& other) noexcept {
  if (this != &other) {
    reset();
    name_ = std::move(other.name_);
    other.name_.clear();
  }
  return *this;
}

std::string TempFileGuard::release() {
  std::string n = std::move(name_);
  name_.clear();
  return n;
}

void TempFileGuard::reset() {
  if (!name_.empty()) {
    deleteFile(name_);
    name_.clear();
  }
}

} // namespace zelvo
