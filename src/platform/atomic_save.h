// One way to replace a file safely: the new content is written to a file beside the target and
// takes the target's place in one step only when complete and on disk. Until commit() the target
// is untouched; an AtomicSave destroyed without commit leaves nothing behind.
//
//   auto save = AtomicSave::begin(path);
//   if (!save) return save.error();
//   if (Status s = save->file().writeAll(data, size); !s) return s;
//   return save->commit();
#pragma once

#include "platform/error.h"
#include "platform/file.h"

#include <string>
#include <utility>

namespace zelvo {

// What a save may find at its target and replace, decided at the moment the new file takes the
// target's place (so that of two saves that may replace nothing, exactly one succeeds). Whatever
// the policy, only a regular file or a symbolic link (replaced, not followed) is replaced: never a
// device, FIFO, socket or folder.
class ReplacePolicy {
public:
  // Any regular file.
  static ReplacePolicy anyFile() { return ReplacePolicy(Kind::AnyFile, {}, {}); }
  // Nothing: the save fails (ErrorCause::Exists) when a file has the name by then.
  static ReplacePolicy nothing() { return ReplacePolicy(Kind::Nothing, {}, {}); }
  // Only a file whose content starts with `prefix`; `what` names such a file ("a pack").
  static ReplacePolicy onlyStartingWith(std::string prefix, std::string what) {
    return ReplacePolicy(Kind::OnlyStartingWith, std::move(prefix), std::move(what));
  }
  // Any regular file but one whose content starts with `prefix`.
  static ReplacePolicy allButStartingWith(std::string prefix, std::string what) {
    return ReplacePolicy(Kind::AllButStartingWith, std::move(prefix), std::move(what));
  }

  bool replacesNothing() const { return kind_ == Kind::Nothing; }
  // Whether the file now at `path` may be replaced (a missing one may), with the reason when not.
  // `shownAs` is the path the error names.
  Status allows(const std::string& path, const std::string& shownAs) const;

private:
  enum class Kind { AnyFile, Nothing, OnlyStartingWith, AllButStartingWith };
  ReplacePolicy(Kind kind, std::string prefix, std::string what)
      : kind_(kind), prefix_(std::move(prefix)), what_(std::move(what)) {}
  Kind kind_;
  std::string prefix_;
  std::string what_;
};

class AtomicSave {
public:
  // Opens the new file in the target's folder. Where the file system allows it, the file has no
  // name until commit (the system removes it if the process dies); elsewhere it is a "TMP*.tmp"
  // file beside the target, removed when the save is abandoned. `replace` says what the new
  // file may replace when it takes the target's place.
  static Result<AtomicSave> begin(const std::string& target,
                                  ReplacePolicy replace = ReplacePolicy::anyFile());

  AtomicSave(AtomicSave&& other) noexcept;
  AtomicSave& operator=(AtomicSave&& other) noexcept;
  AtomicSave(const AtomicSave&) = delete;
  AtomicSave& operator=(const AtomicSave&) = delete;
  ~AtomicSave(); // abandons an uncommitted save

  // The new file, open for reading and writing, positioned at its start.
  File& file() { return file_; }
  const std::string& target() const { return target_; }

  // Syncs the file, gives it the target's permissions (or those of a new file), moves it over
  // the target (when the policy allows what is there by then) and syncs the folder. After a
  // failure the target is as it was and the new file is gone.
  Status commit();
  // Drops the new file; the target stays as it was.
  void abandon();

  // Two saves that belong together (an image and its alpha image): both files are complete, on
  // disk and named beside their targets before either target is replaced, and when the second
  // cannot take its target's place the first target gets its old content back. After a failure
  // both targets are as they were and both new files are gone. The pair takes its place under a
  // lock on the first target's folder, so pairs committed there at once are never mixed.
  friend Status commitTogether(AtomicSave& first, AtomicSave& second);

private:
  AtomicSave() = default;
  // Syncs, sets the permissions, gives the file a temporary name beside the target and closes it.
  Status prepare();
  // Moves the prepared file over the target, as the policy allows, and syncs the folder. With
  // `kept`, the replaced file's content stays under the temporary name put there (empty when
  // nothing was replaced); without, it goes.
  Status publish(std::string* kept = nullptr);
  // Abandons the save and hands back `error`.
  Error failWith(Error error);
  File file_;
  std::string target_;
  std::string folder_;
  std::string tempName_; // the named fallback's name; empty for a file without a name
  ReplacePolicy replace_ = ReplacePolicy::anyFile();
  bool active_ = false;
};

// Saves `size` bytes as the whole new content of `target` through an AtomicSave.
Status saveFileAtomically(const std::string& target, const void* data, std::size_t size,
                          ReplacePolicy replace = ReplacePolicy::anyFile());

} // namespace zelvo
