// Paths, folders and the current directory. Paths are UTF-8; '\' and '/' both separate.
#pragma once

#include "platform/error.h"
#include "platform/path.h"

#include <string>
#include <vector>

namespace zelvo {

enum class PathKind { Missing, File, Directory };

PathKind pathKind(const std::string& path);
inline bool isDirectory(const std::string& path) { return pathKind(path) == PathKind::Directory; }
inline bool isRegularFile(const std::string& path) { return pathKind(path) == PathKind::File; }

// What a file of the type bits `type` (st_mode & S_IFMT) is, for a person: "a FIFO", "a character
// device", "a block device", "a socket", "a folder", "a symbolic link", "a file".
const char* fileTypeName(unsigned type);

// Each says why it failed: the Error names the path and the system's reason.
Status deleteFile(const std::string& path);
Status createDirectory(const std::string& path);
// Makes `folder` and the folders above it that are missing; fails when one of them is a file.
Status makeFolders(const std::string& folder);

Result<std::string> currentDirectory();
Status setCurrentDirectory(const std::string& path);

// The system's temporary folder with a trailing separator ($TMPDIR, else /tmp/ on POSIX).
std::string tempDirectory();
// The folder of the running executable, with no trailing separator; empty when unknown.
std::string executableDirectory();
// The per-user configuration folder for this program (created on demand by the caller).
std::string userConfigDirectory(const std::string& application);
// Whether a new file can be created in `folder`.
bool isWritableDirectory(const std::string& folder);
// Whether both paths exist and name the same file or folder (links and "." followed).
bool sameFile(const std::string& a, const std::string& b);

struct DirEntry {
  std::string name;
  bool directory = false;
};

// Names in `folder` ("" or "." for the current directory) that match `pattern` ("*" and "?"),
// matched and sorted case-insensitively so that every machine lists a folder the same way. A
// folder that cannot be read is an error, not an empty list.
Result<std::vector<DirEntry>> listMatching(const std::string& folder, const std::string& pattern);

// Makes a relative path absolute against the current directory; returns it unchanged on failure.
std::string absolutePath(const std::string& path);

} // namespace zelvo
