#include "platform/cache_folder.h"

#include "platform/fault.h"
#include "platform/file.h"
#include "platform/fs.h"
#include "platform/path.h"
#include "platform/temp_files.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace zelvo {

namespace {

constexpr std::time_t kAbandonedAfter = 3600; // seconds before an unfinished write is cleared
constexpr std::uint64_t kLargestEntry = std::uint64_t(1) << 30; // no entry of ours comes near it

} // namespace

std::string userCacheDirectory(const std::string& application) {
  if (const char* xdg = std::getenv("XDG_CACHE_HOME"); xdg && *xdg) return joinPath(xdg, application);
  if (const char* home = std::getenv("HOME"); home && *home)
    return joinPath(joinPath(home, ".cache"), application);
  return {};
}

FileStamp fileStampOf(const std::string& path) {
  FileStamp stamp;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return stamp;
  struct timespec now {};
  ::clock_gettime(CLOCK_REALTIME, &now);
  auto ns = [](const struct timespec& t) { return std::int64_t(t.tv_sec) * 1000000000 + t.tv_nsec; };
  stamp.ok = true;
  stamp.device = std::uint64_t(st.st_dev);
  stamp.inode = std::uint64_t(st.st_ino);
  stamp.size = std::uint64_t(st.st_size);
  stamp.modifiedNs = ns(st.st_mtim);
  stamp.changedNs = ns(st.st_ctim);
  stamp.ageNs = ns(now) - std::max(stamp.modifiedNs, stamp.changedNs);
  return stamp;
}

Result<CacheFolder> CacheFolder::open(const std::string& folder, std::uint64_t limit) {
  if (folder.empty()) return makeError(ErrorCause::InvalidArgument, folder, "no cache folder");
  if (Status made = makeFolders(folder); !made) return made.error();
  return CacheFolder(folder, limit);
}

Result<std::vector<std::uint8_t>> CacheFolder::read(const std::string& name, void* head,
                                                    std::size_t headSize) const {
  const std::string path = joinPath(path_, name);
  Result<File> opened = File::openRead(path);
  if (!opened) return opened.error();
  File& file = *opened;
  Result<std::uint64_t> sized = file.size();
  if (!sized) return sized.error();
  const std::uint64_t size = *sized;
  if (size > kLargestEntry)
    return makeError(ErrorCause::LimitExceeded, path, "a cache entry of " + std::to_string(size) + " bytes");
  if (size < headSize) return makeError(ErrorCause::Truncated, path, "a cache entry shorter than its head");
  if (headSize)
    if (Status s = file.readExact(head, headSize); !s) return s.error();
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size - headSize));
  if (Status s = file.readExact(bytes.data(), bytes.size()); !s) return s.error();
  // Used now: the last to go when the folder is trimmed. (A folder that may not be written keeps
  // the old time; the entry is still good.)
  ::futimens(file.descriptor(), nullptr);
  return bytes;
}

Status CacheFolder::write(const std::string& name, std::initializer_list<Piece> pieces) const {
  const std::string target = joinPath(path_, name);
  Result<File> made = File::createUnnamedIn(path_);
  TempFileGuard named; // only where the file system cannot make a file without a name
  if (!made) {
    if (made.error().cause != ErrorCause::Unsupported) return made.error();
    Result<std::string> temp = createTempFileIn(path_);
    if (!temp) return temp.error();
    named = TempFileGuard(*temp);
    made = File::openReadWrite(*temp);
    if (!made) return made.error();
  }
  File& file = *made;
  file.nameAs(target);
  for (const Piece& piece : pieces)
    if (Status s = file.writeAll(piece.data, piece.size); !s) return s;
  if (faultPoint(FaultOp::Rename)) return systemError(errno, target, "naming the entry");
  int linked;
  if (named.empty()) {
    const std::string self = "/proc/self/fd/" + std::to_string(file.descriptor());
    linked = ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, target.c_str(), AT_SYMLINK_FOLLOW);
  } else {
    linked = ::link(named.name().c_str(), target.c_str());
  }
  if (linked != 0 && errno != EEXIST) return systemError(errno, target, "naming the entry");
  return {};
}

void CacheFolder::remove(const std::string& name) const {
  (void)deleteFile(joinPath(path_, name)); // removed meanwhile, or left for trim()
}

CacheFolder::Trimmed CacheFolder::trim() const {
  struct Entry {
    std::string path;
    std::uint64_t size;
    struct timespec used;
  };
  std::vector<Entry> entries;
  Trimmed trimmed;
  std::unique_ptr<DIR, int (*)(DIR*)> handle(::opendir(path_.c_str()), &::closedir);
  if (!handle) return trimmed;
  const std::time_t now = std::time(nullptr);
  while (const dirent* e = ::readdir(handle.get())) {
    const std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    std::string path = joinPath(path_, name);
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    if (name.rfind("TMP", 0) == 0) {
      if (now - st.st_mtim.tv_sec > kAbandonedAfter) (void)deleteFile(path); // tried again next time
      continue;
    }
    trimmed.kept += std::uint64_t(st.st_size);
    entries.push_back({std::move(path), std::uint64_t(st.st_size), st.st_mtim});
  }
  if (trimmed.kept <= limit_) return trimmed;
  std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
    return a.used.tv_sec != b.used.tv_sec ? a.used.tv_sec < b.used.tv_sec : a.used.tv_nsec < b.used.tv_nsec;
  });
  for (const Entry& entry : entries) {
    if (trimmed.kept <= limit_) break;
    if (!deleteFile(entry.path)) continue;
    trimmed.kept -= entry.size;
    trimmed.bytes += entry.size;
    ++trimmed.entries;
  }
  return trimmed;
}

} // namespace zelvo
