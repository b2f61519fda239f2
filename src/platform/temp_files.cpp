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

Result<std::string> createTempFileIn(const std::string& folder) {
  for (int attempt = 0; attempt < 1000; ++attempt) {
    std::string candidate = candidateTempName(folder);
    if (candidate.size() > kMaxTempNameLength)
      return makeError(ErrorCause::LimitExceeded, folder,
                       "the folder's name is too long for a temporary file");
    if (faultPoint(FaultOp::Open)) return systemError(errno, folder, "creating a temporary file");
    const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
      ::close(fd);
      return candidate;
    }
    if (errno != EEXIST) return systemError(errno, folder, "creating a temporary file");
  }
  return makeError(ErrorCause::Exists, folder, "every temporary name tried was taken");
}

Result<std::string> TempFileInTempDir() {
  std::string folder = tempDirectory();
  if (folder.empty() || folder.size() >= kTempDirBuffer) folder = ".";
  return createTempFileIn(folder);
}

Result<std::string> TempFileInCurrentDir() {
  Result<std::string> current = currentDirectory();
  std::string folder = current ? std::move(*current) : std::string();
  if (folder.empty() || folder.size() > kCurrentDirBuffer - 1) {
    folder = ".";
  } else if (folder.size() > 1 && isSeparator(folder.back())) {
    folder.pop_back();
  }
  return createTempFileIn(folder);
}

Result<std::string> TempFileBeside(const std::string& path) {
  if (path.empty()) return TempFileInCurrentDir();
  std::string copy = path;
  if (copy.size() > 1 && isSeparator(copy.back())) copy.pop_back();
  if (!isDirectory(copy)) {
    std::size_t i = copy.size();
    while (i > 1 && !isSeparator(copy[i - 1])) --i;
    // i - 1 is the separator; the first character itself is never taken
    if (i <= 1) return TempFileInCurrentDir();
    copy.resize(i - 1);
    if (!isDirectory(copy)) return TempFileInCurrentDir();
  }
  return createTempFileIn(copy);
}

Result<File> createScratchFile() {
  std::string folder = tempDirectory();
  if (folder.empty() || folder.size() >= kTempDirBuffer) folder = ".";
  Result<File> unnamed = File::createUnnamedIn(folder);
  if (unnamed || unnamed.error().cause != ErrorCause::Unsupported) return unnamed;
  Result<std::string> name = createTempFileIn(folder);
  if (!name) return name.error();
  Result<File> file = File::createTemporary(*name); // unlinks the name at once
  if (!file) (void)deleteFile(*name);               // left behind only if it could not be opened
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
    (void)deleteFile(name_); // gone already, or nothing more can be done
    name_.clear();
  }
}

} // namespace zelvo
