#include "platform/atomic_save.h"

#include "platform/fault.h"
#include "platform/fs.h"
#include "platform/path.h"
#include "platform/temp_files.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace zelvo {

namespace {

mode_t permissionsFor(const std::string& target) {
  struct stat st {};
  if (::stat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return st.st_mode & 07777;
  const mode_t mask = ::umask(0); // read by setting; put back at once
  ::umask(mask);
  return 0666 & ~mask;
}

// Makes a rename in `folder` durable. A failure here is not the save's failure: the complete,
// synced file already has its name, and some file systems cannot sync a folder at all.
void syncFolder(const std::string& folder) {
  if (faultPoint(FaultOp::Sync)) return;
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

// Moves `from` to `to` unless something has that name (EEXIST then): 0 or an errno value. Where
// the file system cannot do that in one call, a hard link does the same.
int moveNoReplace(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return errno;
  if (::link(from.c_str(), to.c_str()) != 0) return errno;
  ::unlink(from.c_str());
  return 0;
}

bool exchangeNames(const std::string& a, const std::string& b) {
  return ::renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE) == 0;
}

// Whether the regular file at `path` (links followed) starts with `prefix`.
bool startsWith(const std::string& path, const std::string& prefix) {
  Result<File> file = File::openRead(path);
  std::string head(prefix.size(), '\0');
  return file && file->readExact(head.data(), head.size()) && head == prefix;
}

// An exclusive lock on a folder, held while it lives (nothing when the system cannot lock it).
class FolderLock {
public:
  explicit FolderLock(const std::string& folder)
      : fd_(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
    if (fd_ < 0) return;
    while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
    }
  }
  ~FolderLock() {
    if (fd_ >= 0) ::close(fd_); // releases the lock
  }
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;

private:
  int fd_;
};

} // namespace

Status ReplacePolicy::allows(const std::string& path, const std::string& shownAs) const {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0)
    return errno == ENOENT ? Status() : systemError(errno, shownAs, "looking at the file there");
  if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode))
    return makeError(S_ISDIR(st.st_mode) ? ErrorCause::InvalidArgument : ErrorCause::Unsupported, shownAs,
                     std::string("is ") + fileTypeName(st.st_mode & S_IFMT) + ", not a regular file");
  switch (kind_) {
  case Kind::AnyFile:
    return {};
  case Kind::Nothing:
    return makeError(ErrorCause::Exists, shownAs, "exists");
  case Kind::OnlyStartingWith:
    if (startsWith(path, prefix_)) return {};
    return makeError(ErrorCause::Exists, shownAs, "exists and is not " + what_);
  case Kind::AllButStartingWith:
    if (!startsWith(path, prefix_)) return {};
    return makeError(ErrorCause::Exists, shownAs, "is " + what_);
  }
  return {};
}

Result<AtomicSave> AtomicSave::begin(const std::string& target, ReplacePolicy replace) {
  if (target.empty()) return makeError(ErrorCause::InvalidArgument, target, "no file name");
  if (isDirectory(target)) return makeError(ErrorCause::InvalidArgument, target, "is a folder");
  // What may not be replaced is refused before anything is written, and again as the file takes
  // its place.
  if (Status allowed = replace.allows(target, target); !allowed) return allowed.error();
  AtomicSave save;
  save.target_ = target;
  save.replace_ = std::move(replace);
  save.folder_ = folderOf(target);
  if (save.folder_.empty()) save.folder_ = ".";
  if (!isDirectory(save.folder_))
    return makeError(ErrorCause::NotFound, target, "folder does not exist: " + save.folder_);

  // What goes wrong is shown against the target.
  const auto atTarget = [&target](const Error& why) { return Error{why.cause, target, why.detail}; };
  if (Result<File> unnamed = File::createUnnamedIn(save.folder_, "creating the new file")) {
    save.file_ = std::move(*unnamed);
  } else {
    // Only a file system without unnamed files falls back to a named one.
    if (unnamed.error().cause != ErrorCause::Unsupported) return atTarget(unnamed.error());
    Result<std::string> name = createTempFileIn(save.folder_);
    if (!name) return atTarget(name.error());
    save.tempName_ = *name;
    save.active_ = true; // from here the destructor removes the name
    Result<File> named = File::openReadWrite(*name, "opening the temporary file");
    if (!named) return atTarget(named.error());
    save.file_ = std::move(*named);
  }
  save.file_.nameAs(target);
  save.active_ = true;
  return save;
}

AtomicSave::AtomicSave(AtomicSave&& other) noexcept
    : file_(std::move(other.file_)), target_(std::move(other.target_)), folder_(std::move(other.folder_)),
      tempName_(std::move(other.tempName_)), replace_(std::move(other.replace_)),
      active_(std::exchange(other.active_, false)) {}

AtomicSave& AtomicSave::operator=(AtomicSave&& other) noexcept {
  if (this != &other) {
    abandon();
    file_ = std::move(other.file_);
    target_ = std::move(other.target_);
    folder_ = std::move(other.folder_);
    tempName_ = std::move(other.tempName_);
    replace_ = std::move(other.replace_);
    active_ = std::exchange(other.active_, false);
  }
  return *this;
}

AtomicSave::~AtomicSave() { abandon(); }

void AtomicSave::abandon() {
  if (!active_) return;
  active_ = false;
  (void)file_.close(); // what is abandoned is never read again
  if (!tempName_.empty()) ::unlink(tempName_.c_str());
  tempName_.clear();
}

Error AtomicSave::failWith(Error error) {
  abandon();
  return error;
}

Status AtomicSave::prepare() {
  if (!active_) return makeError(ErrorCause::InvalidArgument, target_, "nothing to save");
  if (Status synced = file_.flush(); !synced) return failWith(synced.error());
  if (::fchmod(file_.descriptor(), permissionsFor(target_)) != 0)
    return failWith(systemError(errno, target_, "setting permissions"));
  if (tempName_.empty()) {
    // Give the unnamed file a name of its own in the folder first (a link cannot replace).
    const std::string self = "/proc/self/fd/" + std::to_string(file_.descriptor());
    for (int attempt = 0;; ++attempt) {
      std::string candidate = candidateTempName(folder_);
      if (faultPoint(FaultOp::Rename)) return failWith(systemError(errno, target_, "naming the new file"));
      if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, candidate.c_str(), AT_SYMLINK_FOLLOW) == 0) {
        tempName_ = candidate;
        break;
      }
      if (errno != EEXIST || attempt == 100)
        return failWith(systemError(errno, target_, "naming the new file"));
    }
  }
  // Closed before the target is touched, so that nothing can fail once it has been replaced.
  if (Status closed = file_.close(); !closed) return failWith(closed.error());
  return {};
}

Status AtomicSave::publish(std::string* kept) {
  if (faultPoint(FaultOp::Rename)) return failWith(systemError(errno, target_, "replacing the file"));
  std::string old; // the replaced file's temporary name
  for (int attempt = 0;; ++attempt) {
    if (replace_.replacesNothing()) {
      const int err = moveNoReplace(tempName_, target_);
      if (err == 0) break;
      if (err == EEXIST) {
        Status why = replace_.allows(target_, target_);
        return failWith(why ? makeError(ErrorCause::Exists, target_, "exists") : why.error());
      }
      return failWith(systemError(err, target_, "replacing the file"));
    }
    // The new file and whatever is at the target change places in one step; what was there is
    // then looked at under the temporary name, and put back when it may not be replaced.
    if (exchangeNames(tempName_, target_)) {
      if (Status allowed = replace_.allows(tempName_, target_); !allowed) {
        if (!exchangeNames(tempName_, target_)) tempName_.clear(); // keep the old content, whatever it costs
        return failWith(allowed.error());
      }
      old = tempName_;
      break;
    }
    if (errno == ENOENT && attempt < 8) { // nothing at the target
      const int err = moveNoReplace(tempName_, target_);
      if (err == 0) break;
      if (err == EEXIST) continue; // a file appeared meanwhile: it is looked at as above
      return failWith(systemError(err, target_, "replacing the file"));
    }
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
      return failWith(systemError(errno, target_, "replacing the file"));
    // A file system that cannot exchange: the target is looked at just before it is replaced.
    if (Status allowed = replace_.allows(target_, target_); !allowed) return failWith(allowed.error());
    if (kept && pathKind(target_) == PathKind::File) {
      for (int tries = 0;; ++tries) {
        std::string candidate = candidateTempName(folder_);
        if (::link(target_.c_str(), candidate.c_str()) == 0) {
          old = candidate;
          break;
        }
        if (errno != EEXIST || tries == 100)
          return failWith(systemError(errno, target_, "keeping the old file"));
      }
    }
    if (std::rename(tempName_.c_str(), target_.c_str()) != 0) {
      const int err = errno;
      if (!old.empty()) ::unlink(old.c_str());
      return failWith(systemError(err, target_, "replacing the file"));
    }
    break;
  }
  tempName_.clear();
  active_ = false;
  if (kept)
    *kept = old;
  else if (!old.empty())
    ::unlink(old.c_str());
  syncFolder(folder_);
  return {};
}

Status AtomicSave::commit() {
  if (Status prepared = prepare(); !prepared) return prepared;
  return publish();
}

Status commitTogether(AtomicSave& first, AtomicSave& second) {
  if (Status prepared = first.prepare(); !prepared) {
    second.abandon();
    return prepared;
  }
  if (Status prepared = second.prepare(); !prepared) {
    first.abandon();
    return prepared;
  }
  const FolderLock lock(first.folder_);
  // The first target's old content keeps a second name until the second target is replaced.
  std::string kept;
  if (Status published = first.publish(&kept); !published) {
    second.abandon();
    return published;
  }
  if (Status published = second.publish(); !published) {
    // Put the first target back as it was (or remove it when it is new). Should even that fail,
    // the old content stays under its temporary name rather than being lost.
    if (kept.empty())
      ::unlink(first.target_.c_str());
    else
      std::rename(kept.c_str(), first.target_.c_str());
    return published;
  }
  if (!kept.empty()) ::unlink(kept.c_str());
  return {};
}

Status saveFileAtomically(const std::string& target, const void* data, std::size_t size,
                          ReplacePolicy replace) {
  auto save = AtomicSave::begin(target, std::move(replace));
  if (!save) return save.error();
  if (Status written = save->file().writeAll(data, size); !written) return written;
  return save->commit();
}

} // namespace zelvo
