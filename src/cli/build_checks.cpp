#include "cli/build_checks.h"

#include "compress/container_magic.h"
#include "platform/file.h"
#include "platform/fs.h"
#include "platform/path.h"

#include <cstdint>

namespace zelvo::cli {

namespace {

Status refuse(ErrorCause cause, const std::string& text) { return makeError(cause, {}, text); }

// Extensions of the files a build reads from its input folder.
constexpr const char* kInputExtensions[] = {".mstiles", ".msscreen", ".png", ".bmp"};

bool isPack(const std::string& path) {
  File file = File::openRead(path);
  std::uint8_t head[sizeof kPackMagic] = {};
  std::size_t got = 0;
  return file && file.read(head, sizeof head, got) && hasPackMagic(head, got);
}

} // namespace

Status checkBuildPaths(const std::string& inputFolder, const std::string& romPath,
                       const std::string& outputPath, bool force) {
  if (!isDirectory(inputFolder))
    return refuse(ErrorCause::NotFound, pathKind(inputFolder) == PathKind::Missing
                                            ? "input folder not found: " + inputFolder
                                            : "input folder is not a folder: " + inputFolder);

  switch (pathKind(romPath)) {
  case PathKind::Missing:
    return refuse(ErrorCause::NotFound, "ROM not found: " + romPath);
  case PathKind::Directory:
    return refuse(ErrorCause::InvalidArgument, "ROM is a folder: " + romPath);
  case PathKind::File:
    if (!File::openRead(romPath)) return systemError(File::lastOpenError(), romPath, "ROM cannot be read");
    break;
  }

  std::string outputFolder = folderOf(outputPath);
  if (outputFolder.empty()) outputFolder = ".";
  if (!isDirectory(outputFolder))
    return refuse(ErrorCause::NotFound, "output folder not found: " + outputFolder);
  if (!isWritableDirectory(outputFolder))
    return refuse(ErrorCause::AccessDenied, "output folder cannot be written: " + outputFolder);

  const PathKind outputKind = pathKind(outputPath);
  if (outputKind == PathKind::Directory)
    return refuse(ErrorCause::InvalidArgument, "output is a folder: " + outputPath);
  if (sameFile(outputPath, romPath))
    return refuse(ErrorCause::InvalidArgument, "output is the original ROM: " + outputPath);
  if (sameFile(outputFolder, inputFolder)) {
    const std::string extension = extensionOf(outputPath);
    for (const char* input : kInputExtensions)
      if (equalsNoCase(extension, input))
        return refuse(ErrorCause::InvalidArgument, "output would overwrite a file the build reads (" +
                                                       std::string(input) +
                                                       " in the input folder): " + outputPath);
  }
  if (outputKind == PathKind::File && !force && !isPack(outputPath))
    return refuse(ErrorCause::InvalidArgument,
                  "output exists and is not a pack (use --force to replace it): " + outputPath);
  return {};
}

} // namespace zelvo::cli
