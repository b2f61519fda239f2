#include "platform/file.h"

#include "platform/fault.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace zelvo {

namespace {
thread_local int tLastOpenError = 0;

int openRetry(const char* path, int flags, mode_t mode = 0) {
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
  int fd = openRetry(path.c_str(), O_RDONLY);
  if (fd >= 0) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
      ::close(fd);
      return File();
    }
  }
  return File(fd);
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
  while (done < size) {
    if (faultPoint(FaultOp::Read)) return failed(errno);
    ssize_t n = ::read(fd_, out + done, size - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return failed(errno);
    }
    if (n == 0) break;
    done += std::size_t(n);
  }
  return true;
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
  while (done < size) {
    if (faultPoint(FaultOp::Write)) return failed(errno);
    ssize_t n = ::write(fd_, in + done, size - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return failed(errno);
    }
    if (n == 0) return failed(ENOSPC);
    done += std::size_t(n);
  }
  return true;
}

bool File::writeAll(const void* data, std::size_t size) {
  std::size_t done = 0;
  return write(data, size, done) && done == size;
}

bool File::readAt(void* buffer, std::size_t size, std::uint64_t offset) {
  if (fd_ < 0) return failed(EBADF);
  auto* out = static_cast<char*>(buffer);
  std::size_t done = 0;
  while (done < size) {
    if (faultPoint(FaultOp::Read)) return failed(errno);
    ssize_t n = ::pread(fd_, out + done, size - done, off_t(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return failed(errno);
    }
    if (n == 0) return failed(0);
    done += std::size_t(n);
  }
  return true;
}

bool File::writeAt(const void* data, std::size_t size, std::uint64_t offset) {
  if (fd_ < 0) return failed(EBADF);
  auto* in = static_cast<const char*>(data);
  std::size_t done = 0;
  while (done < size) {
    if (faultPoint(FaultOp::Write)) return failed(errno);
    ssize_t n = ::pwrite(fd_, in + done, size - done, off_t(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return failed(errno);
    }
    if (n == 0) return failed(ENOSPC);
    done += std::size_t(n);
  }
  return true;
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
