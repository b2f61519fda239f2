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
thread_local int tLastOpenError = 0;
thread_local unsigned tLastOpenRefusal = 0; // the type bits of a file openRead refused, else 0

int openRetry(const char* path, int flags, mode_t mode = 0) {
  tLastOpenRefusal = 0;
  if ((flags & (O_WRONLY | O_RDWR | O_CREAT)) && faultPoint(FaultOp::Open)) {
    tLastOpenError = errno;
    return -1;
  }
  int fd;
  do {
    fd = ::open(path, flags | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  tLastOpenError = fd < 0 ? errno : 0;
  return fd;
}

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
} // namespace

File::File(int fd) : fd_(fd) {}

int File::lastOpenError() { return tLastOpenError; }

bool File::failed(int err) {
  error_ = err;
  return false;
}

File::~File() {
  if (fd_ >= 0) ::close(fd_);
}

File::File(File&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), error_(std::exchange(other.error_, 0)) {}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = std::exchange(other.fd_, -1);
    error_ = std::exchange(other.error_, 0);
  }
  return *this;
}

File File::openRead(const std::string& path) {
  tLastOpenRefusal = 0;
  // Without blocking, so that a FIFO with no writer or a device that waits opens at once (and
  // never becomes the controlling terminal), to be refused below.
  int fd = openRetry(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return File();
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    tLastOpenError = errno;
    ::close(fd);
    return File();
  }
  if (!S_ISREG(st.st_mode)) {
    tLastOpenRefusal = st.st_mode & S_IFMT;
    tLastOpenError = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    ::close(fd);
    return File();
  }
  // Reads of a regular file never wait anyway; the flag is dropped all the same.
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  return File(fd);
}

Error File::openFailure(const std::string& path, const std::string& action) {
  if (tLastOpenRefusal != 0)
    return makeError(tLastOpenRefusal == S_IFDIR ? ErrorCause::InvalidArgument : ErrorCause::Unsupported,
                     path, std::string(fileTypeName(tLastOpenRefusal)) + ", not a regular file");
  return systemError(tLastOpenError, path, action);
}

File File::create(const std::string& path) {
  return File(openRetry(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666));
}

File File::openReadWrite(const std::string& path) { return File(openRetry(path.c_str(), O_RDWR)); }

File File::createTemporary(const std::string& path) {
  int fd = openRetry(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
  if (fd >= 0) ::unlink(path.c_str());
  return File(fd);
}

File File::createUnnamedIn(const std::string& folder) {
#ifdef O_TMPFILE
  return File(openRetry(folder.empty() ? "." : folder.c_str(), O_RDWR | O_TMPFILE, 0600));
#else
  (void)folder;
  tLastOpenError = EOPNOTSUPP;
  return File();
#endif
}

bool File::read(void* buffer, std::size_t size, std::size_t& done) {
  done = 0;
  if (fd_ < 0) return failed(EBADF);
  auto* out = static_cast<char*>(buffer);
  const int r =
      transfer(FaultOp::Read, size, done, [&](std::size_t at) { return ::read(fd_, out + at, size - at); });
  return r <= 0 || failed(r); // the end of the file ends a read early
}

bool File::readExact(void* buffer, std::size_t size) {
  std::size_t done = 0;
  if (!read(buffer, size, done)) return false;
  return done == size || failed(0);
}

bool File::write(const void* data, std::size_t size, std::size_t& done) {
  done = 0;
  if (fd_ < 0) return failed(EBADF);
  auto* in = static_cast<const char*>(data);
  const int r =
      transfer(FaultOp::Write, size, done, [&](std::size_t at) { return ::write(fd_, in + at, size - at); });
  return r == 0 || failed(r == kNothingMoved ? ENOSPC : r);
}

bool File::writeAll(const void* data, std::size_t size) {
  std::size_t done = 0;
  return write(data, size, done) && done == size;
}

bool File::readAt(void* buffer, std::size_t size, std::uint64_t offset) {
  if (fd_ < 0) return failed(EBADF);
  auto* out = static_cast<char*>(buffer);
  std::size_t done = 0;
  const int r = transfer(FaultOp::Read, size, done, [&](std::size_t at) {
    return ::pread(fd_, out + at, size - at, off_t(offset + at));
  });
  return r == 0 || failed(r == kNothingMoved ? 0 : r);
}

bool File::writeAt(const void* data, std::size_t size, std::uint64_t offset) {
  if (fd_ < 0) return failed(EBADF);
  auto* in = static_cast<const char*>(data);
  std::size_t done = 0;
  const int r = transfer(FaultOp::Write, size, done, [&](std::size_t at) {
    return ::pwrite(fd_, in + at, size - at, off_t(offset + at));
  });
  return r == 0 || failed(r == kNothingMoved ? ENOSPC : r);
}

bool File::seek(std::uint64_t position) {
  if (fd_ < 0 || position > std::uint64_t(INT64_MAX)) return false;
  return ::lseek(fd_, off_t(position), SEEK_SET) >= 0;
}

bool File::seekBy(std::int64_t delta) { return fd_ >= 0 && ::lseek(fd_, off_t(delta), SEEK_CUR) >= 0; }

bool File::position(std::uint64_t& position) {
  if (fd_ < 0) return false;
  off_t p = ::lseek(fd_, 0, SEEK_CUR);
  if (p < 0) return false;
  position = std::uint64_t(p);
  return true;
}

bool File::size(std::uint64_t& size) {
  if (fd_ < 0) return false;
  struct stat st {};
  if (::fstat(fd_, &st) != 0) return false;
  size = std::uint64_t(st.st_size);
  return true;
}

bool File::flush() {
  if (fd_ < 0) return failed(EBADF);
  if (faultPoint(FaultOp::Sync)) return failed(errno);
  return ::fsync(fd_) == 0 || failed(errno);
}

bool File::close() {
  if (fd_ < 0) return true;
  int rc = ::close(std::exchange(fd_, -1));
  return rc == 0 || failed(errno);
}

} // namespace zelvo
