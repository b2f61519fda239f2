#include "platform/output_rule.h"

#include "platform/fs.h"
#include "platform/path.h"

#include <cerrno>
#include <climits>
#include <sys/stat.h>
#include <unistd.h>

namespace zelvo {

namespace {

Status refuse(ErrorCause cause, const OutputRule& rule, const std::string& problem, const std::string& path) {
  return makeError(cause, {}, rule.role + " " + problem + ": " + path);
}

bool hasExtension(const std::string& path, const std::vector<std::string>& extensions) {
  const std::string extension = extensionOf(path);
  for (const std::string& e : extensions)
    if (equalsNoCase(extension, e)) return true;
  return false;
}

std::string folderOrCurrent(const std::string& path) {
  const std::string folder = folderOf(path);
  return folder.empty() ? std::string(".") : folder;
}

// Whether `a` and `b` name one file: the same file when both exist, else the same name in the
// same folder.
bool samePlace(const std::string& a, const std::string& b) {
  struct stat sa {
  }, sb{};
  const bool aExists = ::stat(a.c_str(), &sa) == 0, bExists = ::stat(b.c_str(), &sb) == 0;
  if (aExists && bExists) return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
  if (aExists != bExists) return false;
  return fileNameOf(a) == fileNameOf(b) && sameFile(folderOrCurrent(a), folderOrCurrent(b));
}

} // namespace

Status checkOutputName(const std::string& path, const OutputRule& rule) {
  if (path.empty()) return makeError(ErrorCause::InvalidArgument, {}, rule.role + " has no file name");
  std::size_t longest = 0;
  for (std::size_t start = 0; start <= path.size();) {
    std::size_t end = start;
    while (end < path.size() && !isSeparator(path[end])) ++end;
    longest = std::max(longest, end - start);
    start = end + 1;
  }
  if (path.size() >= PATH_MAX || longest > NAME_MAX)
    return refuse(ErrorCause::LimitExceeded, rule,
                  "name is too long (a name takes at most " + std::to_string(NAME_MAX) + " bytes, a path " +
                      std::to_string(PATH_MAX - 1) + ")",
                  path.substr(0, 80) + "...");
  if (isSeparator(path.back())) return refuse(ErrorCause::InvalidArgument, rule, "names a folder", path);
  if (!rule.extensions.empty() && !hasExtension(path, rule.extensions)) {
    std::string names;
    for (const std::string& e : rule.extensions) names += (names.empty() ? "" : " or ") + e;
    return refuse(ErrorCause::InvalidArgument, rule, "must end in " + names, path);
  }
  return {};
}

Status checkOutput(const std::string& path, const OutputRule& rule) {
  if (Status named = checkOutputName(path, rule); !named) return named;

  const std::string folder = folderOrCurrent(path);
  if (!isDirectory(folder))
    return refuse(ErrorCause::NotFound, rule,
                  pathKind(folder) == PathKind::Missing ? "folder not found" : "folder is not a folder",
                  folder);
  if (::access(folder.c_str(), W_OK) != 0)
    return refuse(ErrorCause::AccessDenied, rule, "folder cannot be written", folder);

  struct stat st {};
  const bool exists = ::stat(path.c_str(), &st) == 0;
  if (exists && S_ISDIR(st.st_mode)) return refuse(ErrorCause::InvalidArgument, rule, "is a folder", path);
  if (exists && !S_ISREG(st.st_mode))
    return refuse(ErrorCause::Unsupported, rule,
                  std::string("is ") + fileTypeName(st.st_mode & S_IFMT) + ", not a regular file", path);

  for (const ReadFile& input : rule.inputs)
    if (samePlace(path, input.path))
      return refuse(ErrorCause::InvalidArgument, rule, "is " + input.what, path);
  if (!rule.inputFolder.empty() && isDirectory(rule.inputFolder)) {
    const std::string wouldOverwrite = "would overwrite " + rule.inputFolderWhat + " (";
    if (sameFile(folder, rule.inputFolder))
      for (const std::string& e : rule.inputExtensions)
        if (equalsNoCase(extensionOf(path), e))
          return refuse(ErrorCause::InvalidArgument, rule, wouldOverwrite + e + " in the input folder)",
                        path);
    // Another name for one of them (a hard link, or a symbolic link to it) elsewhere.
    if (exists) {
      const Result<std::vector<DirEntry>> names = listMatching(rule.inputFolder, "*");
      if (!names)
        return refuse(names.error().cause, rule,
                      "cannot be checked against the input folder (" + names.error().message() + ")", path);
      for (const DirEntry& entry : *names)
        if (!entry.directory && hasExtension(entry.name, rule.inputExtensions) &&
            sameFile(path, joinPath(rule.inputFolder, entry.name)))
          return refuse(ErrorCause::InvalidArgument, rule,
                        wouldOverwrite + entry.name + " in the input folder)", path);
    }
  }

  if (!exists) return {};
  if (Status allowed = rule.replace.allows(path, path); !allowed)
    return makeError(allowed.error().cause, {}, outputFailure(allowed.error(), rule));
  if (::access(path.c_str(), W_OK) != 0)
    return refuse(ErrorCause::AccessDenied, rule, "exists and cannot be written", path);
  return {};
}

std::string outputFailure(const Error& error, const OutputRule& rule) {
  if (error.cause != ErrorCause::Exists) return error.message();
  const std::string hint = rule.replaceHint.empty() ? std::string() : " (" + rule.replaceHint + ")";
  return rule.role + " " + error.detail + hint + ": " + error.path;
}

} // namespace zelvo
