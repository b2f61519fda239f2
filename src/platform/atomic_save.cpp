#include "platform/atomic_save.h"

#include "platform/fault.h"
#include "platform/fs.h"
#include "platform/path.h"
#include "platform/temp_files.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
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

} // namespace

Result<AtomicSave> AtomicSave::begin(const std::string& target) {
  if (target.empty()) return makeError(ErrorCause::InvalidArgument, target, "no file name");
  if (isDirectory(target)) return makeError(ErrorCause::InvalidArgument, target, "is a folder");
  AtomicSave save;
  save.target_ = target;
  save.folder_ = folderOf(target);
  if (save.folder_.empty()) save.folder_ = ".";
  if (!isDirectory(save.folder_))
    return makeError(ErrorCause::NotFound, target, "folder does not exist: " + save.folder_);

  save.file_ = File::createUnnamedIn(save.folder_);
  if (!save.file_) {
    const int err = File::lastOpenError();
    // Only a file system without unnamed files falls back to a named one.
    if (err != EOPNOTSUPP && err != EISDIR && err != EINVAL && err != ENOENT)
      return systemError(err, target, "creating the new file");
    std::string name;
    if (!createTempFileIn(save.folder_, name))
      return systemError(errno, target, "creating a temporary file beside it");
    save.tempName_ = name;
    save.active_ = true; // from here the destructor removes the name
    save.file_ = File::openReadWrite(name);
    if (!save.file_) return systemError(File::lastOpenError(), target, "opening the temporary file");
  }
  save.active_ = true;
  return save;
}

AtomicSave::AtomicSave(AtomicSave&& other) noexcept
    : file_(std::move(other.file_)), target_(std::move(other.target_)), folder_(std::move(other.folder_)),
      tempName_(std::move(other.tempName_)), active_(std::exchange(other.active_, false)) {}

AtomicSave& AtomicSave::operator=(AtomicSave&& other) noexcept {
  if (this != &other) {
    abandon();
    file_ = std::move(other.file_);
    target_ = std::move(other.target_);
    folder_ = std::move(other.folder_);
    tempName_ = std::move(other.tempName_);
    active_ = std::exchange(other.active_, false);
  }
  return *this;
}

AtomicSave::~AtomicSave() { abandon(); }

void AtomicSave::abandon() {
  if (!active_) return;
  active_ = false;
  file_.close();
  if (!tempName_.empty()) ::unlink(tempName_.c_str());
  tempName_.clear();
}

Error AtomicSave::writeError() const {
  const int err = file_.lastError();
  return systemError(err == 0 ? EIO : err, target_, "writing");
}

Error AtomicSave::failWith(Error error) {
  abandon();
  return error;
}

Status AtomicSave::prepare() {
  if (!active_) return makeError(ErrorCause::InvalidArgument, target_, "nothing to save");
  if (!file_.flush()) return failWith(systemError(file_.lastError(), target_, "syncing to disk"));
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
  if (!file_.close()) return failWith(systemError(file_.lastError(), target_, "closing"));
  return {};
}

Status AtomicSave::publish() {
  if (faultPoint(FaultOp::Rename) || std::rename(tempName_.c_str(), target_.c_str()) != 0)
    return failWith(systemError(errno, target_, "replacing the file"));
  tempName_.clear();
  active_ = false;
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
  // The first target's old content keeps a second name until the second target is replaced.
  std::string kept;
  if (isRegularFile(first.target_)) {
    for (int attempt = 0;; ++attempt) {
      std::string candidate = candidateTempName(first.folder_);
      if (!faultPoint(FaultOp::Rename) && ::link(first.target_.c_str(), candidate.c_str()) == 0) {
        kept = candidate;
        break;
      }
      if (errno != EEXIST || attempt == 100) {
        Error e = systemError(errno, first.target_, "keeping the old file");
        second.abandon();
        return first.failWith(std::move(e));
      }
    }
  }
  if (Status published = first.publish(); !published) {
    if (!kept.empty()) ::unlink(kept.c_str());
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

Status saveFileAtomically(const std::string& target, const void* data, std::size_t size) {
  auto save = AtomicSave::begin(target);
  if (!save) return save.error();
  if (!save->file().writeAll(data, size)) return save->writeError();
  return save->commit();
}

} // namespace zelvo
