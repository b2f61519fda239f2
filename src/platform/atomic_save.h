// One way to replace a file safely: the new content is written to a file beside the target and
// takes the target's place in one step only when complete and on disk. Until commit() the target
// is untouched; an AtomicSave destroyed without commit leaves nothing behind.
//
//   auto save = AtomicSave::begin(path);
//   if (!save) return save.error();
//   if (!save->file().writeAll(data, size)) return save->writeError();
//   return save->commit();
#pragma once

#include "platform/error.h"
#include "platform/file.h"

#include <string>

namespace zelvo {

class AtomicSave {
public:
  // Opens the new file in the target's folder. Where the file system allows it, the file has no
  // name until commit (the system removes it if the process dies); elsewhere it is a "TMP*.tmp"
  // file beside the target, removed when the save is abandoned.
  static Result<AtomicSave> begin(const std::string& target);

  AtomicSave(AtomicSave&& other) noexcept;
  AtomicSave& operator=(AtomicSave&& other) noexcept;
  AtomicSave(const AtomicSave&) = delete;
  AtomicSave& operator=(const AtomicSave&) = delete;
  ~AtomicSave(); // abandons an uncommitted save

  // The new file, open for reading and writing, positioned at its start.
  File& file() { return file_; }
  const std::string& target() const { return target_; }

  // The Error of the last failed call on file(), naming the target.
  Error writeError() const;

  // Syncs the file, gives it the target's permissions (or those of a new file), moves it over
  // the target and syncs the folder. After a failure the target is as it was and the new file
  // is gone.
  Status commit();
  // Drops the new file; the target stays as it was.
  void abandon();

  // Two saves that belong together (an image and its alpha image): both files are complete, on
  // disk and named beside their targets before either target is replaced, and when the second
  // cannot take its target's place the first target gets its old content back. After a failure
  // both targets are as they were and both new files are gone.
  friend Status commitTogether(AtomicSave& first, AtomicSave& second);

private:
  AtomicSave() = default;
  // Syncs, sets the permissions, gives the file a temporary name beside the target and closes it.
  Status prepare();
  // Moves the prepared file over the target and syncs the folder.
  Status publish();
  // Abandons the save and hands back `error`.
  Error failWith(Error error);
  File file_;
  std::string target_;
  std::string folder_;
  std::string tempName_; // the named fallback's name; empty for a file without a name
  bool active_ = false;
};

// Saves `size` bytes as the whole new content of `target` through an AtomicSave.
Status saveFileAtomically(const std::string& target, const void* data, std::size_t size);

} // namespace zelvo
