#include "platform/fs.h"

#include "platform/path.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <limits.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace zelvo {

PathKind pathKind(const std::string& path) {
  struct stat st {};
  if (path.empty() || ::stat(path.c_str(), &st) != 0) return PathKind::Missing;
  return S_ISDIR(st.st_mode) ? PathKind::Directory : PathKind::File;
}

const char* fileTypeName(unsigned type) {
  switch (type) {
  case S_IFIFO:
    return "a FIFO";
  case S_IFCHR:
    return "a character device";
  case S_IFBLK:
    return "a block device";
  case S_IFSOCK:
    return "a socket";
  case S_IFDIR:
    return "a folder";
  case S_IFLNK:
    return "a symbolic link";
  default:
    return "a file";
  }
}

Status deleteFile(const std::string& path) {
  if (::unlink(path.c_str()) != 0) return systemError(errno, path, "deleting");
  return {};
}

Status createDirectory(const std::string& path) {
  if (::mkdir(path.c_str(), 0777) != 0) return systemError(errno, path, "creating the folder");
  return {};
}

Status makeFolders(const std::string& folder) {
  if (folder.empty() || isDirectory(folder)) return {};
  if (pathKind(folder) != PathKind::Missing)
    return makeError(ErrorCause::InvalidArgument, folder, "not a folder");
  const std::string parent = folderOf(folder);
  if (!parent.empty() && parent != folder)
    if (Status s = makeFolders(parent); !s) return s;
  Status made = createDirectory(folder);
  return made || isDirectory(folder) ? Status() : made; // another process may have made it meanwhile
}

Result<std::string> currentDirectory() {
  char buffer[PATH_MAX];
  if (::getcwd(buffer, sizeof buffer) == nullptr)
    return systemError(errno, ".", "finding the current folder");
  return std::string(buffer);
}

Status setCurrentDirectory(const std::string& path) {
  if (::chdir(path.c_str()) != 0) return systemError(errno, path, "changing to the folder");
  return {};
}

std::string tempDirectory() {
  const char* env = std::getenv("TMPDIR");
  std::string dir = (env && *env) ? env : "/tmp";
  if (!isSeparator(dir.back())) dir += '/';
  return dir;
}

std::string executableDirectory() {
  char buffer[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return {};
  std::string path(buffer, std::size_t(n));
  std::size_t sep = lastSeparator(path);
  return sep == std::string::npos ? std::string() : path.substr(0, sep == 0 ? 1 : sep);
}

std::string userConfigDirectory(const std::string& application) {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  std::string base;
  if (xdg && *xdg) {
    base = xdg;
  } else if (const char* home = std::getenv("HOME"); home && *home) {
    base = std::string(home) + "/.config";
  } else {
    return {};
  }
  return joinPath(base, application);
}

bool isWritableDirectory(const std::string& folder) {
  return isDirectory(folder) && ::access(folder.c_str(), W_OK) == 0;
}

bool sameFile(const std::string& a, const std::string& b) {
  struct stat sa {
  }, sb{};
  return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

std::string absolutePath(const std::string& path) {
  if (path.empty() || path[0] == '/') return path;
  const Result<std::string> cwd = currentDirectory();
  return cwd ? joinPath(*cwd, path) : path;
}

Result<std::vector<DirEntry>> listMatching(const std::string& folder, const std::string& pattern) {
  std::vector<DirEntry> out;
  std::string dir = folder.empty() ? std::string(".") : folder;
  std::unique_ptr<DIR, int (*)(DIR*)> handle(::opendir(dir.c_str()), &::closedir);
  if (!handle) return systemError(errno, dir, "reading the folder");
  for (;;) {
    errno = 0;
    dirent* e = ::readdir(handle.get());
    if (!e) {
      if (errno != 0) return systemError(errno, dir, "reading the folder");
      break;
    }
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    if (!wildcardMatch(pattern, name)) continue;
    out.push_back({name, isDirectory(joinPath(dir, name))});
  }
  std::sort(out.begin(), out.end(),
            [](const DirEntry& a, const DirEntry& b) { return lessNoCase(a.name, b.name); });
  return out;
}

} // namespace zelvo
