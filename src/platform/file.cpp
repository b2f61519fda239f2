#include "platform/file.h"

#include "platform/fault.h"
#include "platform/fs.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace zelvo {

namespace {

// Repeats `call(bytes done)` (one read or write of what is left) until `size` bytes have moved,
// again after a signal. 0 when all moved, an errno value when the system refused, kNothingMoved
// when a call moved nothing: the end of a read, a full disk for a write.
constexpr int kNothingMoved = -1;
template <class Call> int transfer(FaultOp op, std::size_t size, std::size_t& done, Call call) {
  while (done < size) {
    if (faultPoint(op)) return errno != 0 ? errno : EIO;
    const ssize_t n = call(done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) return kNothingMoved;
    done += std::size_t(n);
  }
  return 0;
}

Error endsEarly(const std::string& path, std::size_t done, std::size_t size) {
  return makeError(ErrorCause::Truncated, path,
                   "the file ends early (" + std::to_string(done) + " of " + std::to_string(size) +
                       " bytes read)");
}

} // namespace

File::File(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}

File::~File() {
  if (fd_ >= 0) ::close(fd_);
}

File::File(File&& other) noexcept : fd_(std::exchange(other.fd_, -1)), path_(std::move(other.path_)) {}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = std::exchange(other.fd_, -1);
    path_ = std::move(other.path_);
  }
  return *this;
}

Error File::failure(int err, const char* action) const { return systemError(err, path_, action); }

Status File::notOpen(const char* action) const { return failure(EBADF, action); }

Result<File> File::open(const std::string& path, int flags, unsigned mode, const char* action) {
  if ((flags & (O_WRONLY | O_RDWR | O_CREAT)) && faultPoint(FaultOp::Open))
    return systemError(errno, path, action);
  int fd;
  do {
    fd = ::open(path.c_str(), flags | O_CLOEXEC, mode_t(mode));
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return systemError(errno, path, action);
  return File(fd, path);
}

Result<File> File::openRead(const std::string& path, const char* action) {
  // Without blocking, so that a FIFO with no writer or a device that waits opens at once (and
  // never becomes the controlling terminal), to be refused below.
  Result<File> opened = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY, 0, action);
  if (!opened) return opened;
  const int fd = opened->fd_;
  struct stat st {};
  if (::fstat(fd, &st) != 0) return systemError(errno, path, action);
  if (!S_ISREG(st.st_mode)) {
    const unsigned type = st.st_mode & S_IFMT;
    return makeError(S_ISDIR(st.st_mode) ? ErrorCause::InvalidArgument : ErrorCause::Unsupported, path,
                     std::string(fileTypeName(type)) + ", not a regular file");
  }
  // Reads of a regular file never wait anyway; the flag is dropped all the same.
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  return opened;
}

Result<File> File::create(const std::string& path) {
  return open(path, O_WRONLY | O_CREAT | O_TRUNC, 0666, "creating");
}

Result<File> File::openReadWrite(const std::string& path, const char* action) {
  return open(path, O_RDWR, 0, action);
}

Result<File> File::createTemporary(const std::string& path) {
  Result<File> made = open(path, O_RDWR | O_CREAT | O_TRUNC, 0600, "creating a temporary file");
  if (made) ::unlink(path.c_str());
  return made;
}

Result<File> File::createUnnamedIn(const std::string& folder, const char* action) {
  const std::string at = folder.empty() ? std::string(".") : folder;
#ifdef O_TMPFILE
  Result<File> made = open(at, O_RDWR | O_TMPFILE, 0600, action);
  // What a kernel or file system without such files answers (a missing folder too).
  if (made || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL && errno != ENOENT)) return made;
#endif
  return makeError(ErrorCause::Unsupported, at, "cannot make a file without a name here");
}

Result<std::size_t> File::read(void* buffer, std::size_t size) {
  if (fd_ < 0) return notOpen("reading").error();
  auto* out = static_cast<char*>(buffer);
  std::size_t done = 0;
  const int r =
      transfer(FaultOp::Read, size, done, [&](std::size_t at) { return ::read(fd_, out + at, size - at); });
  if (r > 0) return failure(r, "reading"); // the end of the file only ends a read early
  return done;
}

Status File::readExact(void* buffer, std::size_t size) {
  Result<std::size_t> got = read(buffer, size);
  if (!got) return got.error();
  if (*got != size) return endsEarly(path_, *got, size);
  return {};
}

Status File::writeAll(const void* data, std::size_t size) {
  if (fd_ < 0) return notOpen("writing");
  auto* in = static_cast<const char*>(data);
  std::size_t done = 0;
  const int r =
      transfer(FaultOp::Write, size, done, [&](std::size_t at) { return ::write(fd_, in + at, size - at); });
  if (r != 0) return failure(r == kNothingMoved ? ENOSPC : r, "writing");
  return {};
}

Status File::readAt(void* buffer, std::size_t size, std::uint64_t offset) {
  if (fd_ < 0) return notOpen("reading");
  auto* out = static_cast<char*>(buffer);
  std::size_t done = 0;
  const int r = transfer(FaultOp::Read, size, done, [&](std::size_t at) {
    return ::pread(fd_, out + at, size - at, off_t(offset + at));
  });
  if (r == kNothingMoved) return endsEarly(path_, done, size);
  if (r != 0) return failure(r, "reading");
  return {};
}

Status File::writeAt(const void* data, std::size_t size, std::uint64_t offset) {
  if (fd_ < 0) return notOpen("writing");
  auto* in = static_cast<const char*>(data);
  std::size_t done = 0;
  const int r = transfer(FaultOp::Write, size, done, [&](std::size_t at) {
    return ::pwrite(fd_, in + at, size - at, off_t(offset + at));
  });
  if (r != 0) return failure(r == kNothingMoved ? ENOSPC : r, "writing");
  return {};
}

Status File::seek(std::uint64_t position) {
  if (fd_ < 0) return notOpen("seeking");
  if (position > std::uint64_t(INT64_MAX)) return failure(EINVAL, "seeking");
  if (::lseek(fd_, off_t(position), SEEK_SET) < 0) return failure(errno, "seeking");
  return {};
}

Status File::seekBy(std::int64_t delta) {
  if (fd_ < 0) return notOpen("seeking");
  if (::lseek(fd_, off_t(delta), SEEK_CUR) < 0) return failure(errno, "seeking");
  return {};
}

Result<std::uint64_t> File::position() {
  if (fd_ < 0) return notOpen("seeking").error();
  const off_t p = ::lseek(fd_, 0, SEEK_CUR);
  if (p < 0) return failure(errno, "seeking");
  return std::uint64_t(p);
}

Result<std::uint64_t> File::size() {
  if (fd_ < 0) return notOpen("reading the size").error();
  struct stat st {};
  if (::fstat(fd_, &st) != 0) return failure(errno, "reading the size");
  return std::uint64_t(st.st_size);
}

Status File::flush() {
  if (fd_ < 0) return notOpen("syncing to disk");
  if (faultPoint(FaultOp::Sync)) return failure(errno, "syncing to disk");
  if (::fsync(fd_) != 0) return failure(errno, "syncing to disk");
  return {};
}

Status File::close() {
  if (fd_ < 0) return {};
  if (::close(std::exchange(fd_, -1)) != 0) return failure(errno, "closing");
  return {};
}

} // namespace zelvo
