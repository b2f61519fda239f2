// Owning file handle: the one place that opens, reads, writes and positions files.
#pragma once

#include "platform/error.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace zelvo {

class File {
public:
  File() = default;
  ~File();
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // Existing regular file only, for reading; other readers may open it too. A FIFO, device,
  // socket or folder is refused at once, without waiting for a writer or the device
  // (File::openFailure says what it was).
  static File openRead(const std::string& path);
  // For writing: created, or truncated when it exists.
  static File create(const std::string& path);
  // Existing file only, for reading and writing (nothing truncated).
  static File openReadWrite(const std::string& path);
  // For reading and writing, created or truncated, and removed by the system when the handle
  // closes (on POSIX the name is unlinked right after creation).
  static File createTemporary(const std::string& path);
  // For reading and writing, a file without a name in `folder` that the system removes when the
  // handle closes or the process dies; invalid where the file system cannot make one.
  static File createUnnamedIn(const std::string& folder);

  bool isOpen() const { return fd_ >= 0; }
  explicit operator bool() const { return isOpen(); }

  // Reads up to `size` bytes; `done` receives the count that moved (0 at the end of the file).
  // False on an error or when the handle is not open.
  bool read(void* buffer, std::size_t size, std::size_t& done);
  // Reads exactly `size` bytes: false on an error or when fewer arrive.
  bool readExact(void* buffer, std::size_t size);
  // Writes `size` bytes; `done` receives the count that moved.
  bool write(const void* data, std::size_t size, std::size_t& done);
  // Writes all `size` bytes: false on an error or a short write.
  bool writeAll(const void* data, std::size_t size);

  // Positioned reads and writes of exactly `size` bytes at `offset`; the current position stays.
  bool readAt(void* buffer, std::size_t size, std::uint64_t offset);
  bool writeAt(const void* data, std::size_t size, std::uint64_t offset);

  bool seek(std::uint64_t position);      // absolute
  bool seekBy(std::int64_t delta);        // relative to the current position
  bool position(std::uint64_t& position); // current position
  bool size(std::uint64_t& size);
  // Makes the written data durable (fsync).
  bool flush();
  // Closes the handle; false when the system reports an error while closing.
  bool close();

  // The system's error number of the last failed call on this handle (or of a failed open:
  // File::lastOpenError()); 0 when none failed. A short write counts as ENOSPC.
  int lastError() const { return error_; }
  static int lastOpenError();
  // Why the last open on this thread failed, naming `path`: what the file is when openRead
  // refused it for not being a regular file ("a FIFO, not a regular file"), else the system's
  // reason for `action`.
  static Error openFailure(const std::string& path, const std::string& action);
  // The descriptor, for the platform layer's own use (linking a file without a name).
  int descriptor() const { return fd_; }

private:
  explicit File(int fd);
  bool failed(int err);
  int fd_ = -1;
  int error_ = 0;
};

} // namespace zelvo
