// Owning file handle: the one place that opens, reads, writes and positions files. Every call
// that can fail says why: the Error names the file, the action and the system's reason.
#pragma once

#include "platform/error.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

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
  // socket or folder is refused at once, without waiting for a writer or the device, and the
  // error says what it was ("a FIFO, not a regular file"). `action` begins the system's reason
  // when the open fails ("opening: No such file or directory").
  static Result<File> openRead(const std::string& path, const char* action = "opening");
  // For writing: created, or truncated when it exists.
  static Result<File> create(const std::string& path);
  // Existing file only, for reading and writing (nothing truncated).
  static Result<File> openReadWrite(const std::string& path, const char* action = "opening for writing");
  // For reading and writing, created or truncated, and removed by the system when the handle
  // closes (on POSIX the name is unlinked right after creation).
  static Result<File> createTemporary(const std::string& path);
  // For reading and writing, a file without a name in `folder` that the system removes when the
  // handle closes or the process dies; Unsupported where the file system cannot make one.
  static Result<File> createUnnamedIn(const std::string& folder,
                                      const char* action = "creating a temporary file");

  bool isOpen() const { return fd_ >= 0; }
  explicit operator bool() const { return isOpen(); }
  // The path it was opened by (for a file without a name, its folder), as errors name it.
  const std::string& path() const { return path_; }
  // Changes the name errors give the file: a new file is named as what it will become.
  void nameAs(std::string shown) { path_ = std::move(shown); }

  // Reads up to `size` bytes and gives the count that moved (less only at the end of the file).
  Result<std::size_t> read(void* buffer, std::size_t size);
  // Reads exactly `size` bytes: Truncated when the file ends first.
  Status readExact(void* buffer, std::size_t size);
  // Writes all `size` bytes; a write that moves nothing counts as a full disk.
  Status writeAll(const void* data, std::size_t size);

  // Positioned reads and writes of exactly `size` bytes at `offset`; the current position stays.
  Status readAt(void* buffer, std::size_t size, std::uint64_t offset);
  Status writeAt(const void* data, std::size_t size, std::uint64_t offset);

  Status seek(std::uint64_t position); // absolute
  Status seekBy(std::int64_t delta);   // relative to the current position
  Result<std::uint64_t> position();    // current position
  Result<std::uint64_t> size();
  // Makes the written data durable (fsync).
  Status flush();
  // Closes the handle, with the system's error if closing reports one; closing a closed handle
  // succeeds.
  Status close();

  // The descriptor, for the platform layer's own use (linking a file without a name).
  int descriptor() const { return fd_; }

private:
  File(int fd, std::string path);
  static Result<File> open(const std::string& path, int flags, unsigned mode, const char* action);
  Error failure(int err, const char* action) const;
  Status notOpen(const char* action) const;
  int fd_ = -1;
  std::string path_;
};

} // namespace zelvo
