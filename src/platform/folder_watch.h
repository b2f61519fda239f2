// Changes to the files of a few folders, as the system reports them (inotify): a file written and
// closed, created, deleted, or moved in or out. Subfolders are not watched.
#pragma once

#include "platform/error.h"

#include <string>
#include <vector>

namespace zelvo {

class FolderWatch {
public:
  // A watch on no folder yet.
  static Result<FolderWatch> open();
  FolderWatch(FolderWatch&& other) noexcept;
  FolderWatch& operator=(FolderWatch&& other) noexcept;
  FolderWatch(const FolderWatch&) = delete;
  FolderWatch& operator=(const FolderWatch&) = delete;
  ~FolderWatch();

  // Watches `folder` too (watching a folder twice is watching it once).
  Status add(const std::string& folder);

  // Waits up to `milliseconds` (0: only what is there) for changes: the paths that changed (the
  // folder as it was added, joined with the name), in the order reported, each once. Empty when
  // the time ran out or a signal arrived. A queue that overflowed reports the folders themselves.
  Result<std::vector<std::string>> wait(int milliseconds);

private:
  explicit FolderWatch(int fd) : fd_(fd) {}
  int fd_ = -1;
  std::vector<std::pair<int, std::string>> folders_; // watch descriptor, folder
};

} // namespace zelvo
