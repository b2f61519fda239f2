// Scratch files with names of their own: each call creates a new empty file whose name starts
// with "TMP" and gives that name (or why none could be made); the caller opens, uses and deletes
// the file.
#pragma once

#include "platform/error.h"
#include "platform/file.h"

#include <string>

namespace zelvo {

// Longest name a temporary file may have (the callers' 260-byte name buffers).
inline constexpr std::size_t kMaxTempNameLength = 259;

Result<std::string> TempFileInTempDir();
Result<std::string> TempFileInCurrentDir();
// In the folder of `path`, in `path` itself when it is a folder, else in the current directory.
Result<std::string> TempFileBeside(const std::string& path);

// A fresh name "TMPxxxxxxxx.tmp" in `folder`, not yet taken when it was drawn (nothing is
// created: the caller takes it exclusively and draws again when it is taken meanwhile).
std::string candidateTempName(const std::string& folder);

// Creates a uniquely named empty file "TMPxxxxxx.tmp" in `folder` (exclusive create).
Result<std::string> createTempFileIn(const std::string& folder);

// A scratch file for this process alone, open for reading and writing, in the system's temporary
// folder: a file without a name where the file system can make one, else one created under a fresh
// name that is unlinked at once. Either way the system removes it when the handle closes or the
// process dies, and nothing is left to delete. A full folder gives ErrorCause::NoSpace.
Result<File> createScratchFile();

// Deletes a named temporary file when it goes out of scope, unless released.
class TempFileGuard {
public:
  TempFileGuard() = default;
  explicit TempFileGuard(std::string name) : name_(std::move(name)) {}
  ~TempFileGuard();
  TempFileGuard(const TempFileGuard&) = delete;
  TempFileGuard& operator=(const TempFileGuard&) = delete;
  TempFileGuard(TempFileGuard&& other) noexcept : name_(std::move(other.name_)) { other.name_.clear(); }
  TempFileGuard& operator=(TempFileGuard&& other) noexcept;

  const std::string& name() const { return name_; }
  bool empty() const { return name_.empty(); }
  // Gives up ownership: the file stays and the name is returned.
  std::string release();
  // Deletes the file now.
  void reset();

private:
  std::string name_;
};

} // namespace zelvo
