// zelvo export: what Save Bitmap writes for a screen (or for every screen of a folder), or with
// --display the image the viewer shows. Existing images are replaced only with --force.
#include "cli/commands.h"

#include "platform/fs.h"
#include "platform/path.h"
#include "render/image_save.h"
#include "tiles/screen_file.h"
#include "viewer/screen_export.h"
#include "viewer/screen_render.h"

#include <vector>

namespace zelvo::cli {

namespace {

// The format named by the output's extension (any case), or false.
bool formatOfOutput(const std::string& path, ExportFormat& format) {
  const std::string extension = extensionOf(path);
  if (equalsNoCase(extension, ".png"))
    format = ExportFormat::Png;
  else if (equalsNoCase(extension, ".bmp"))
    format = ExportFormat::Bmp;
  else
    return false;
  return true;
}

bool formatOfName(const std::string& name, ExportFormat& format) {
  return formatOfOutput("." + name, format);
}

// The files an export writes at `target`: the image and, for BMP, its alpha image.
std::vector<std::string> filesWritten(const std::string& target, ExportFormat format) {
  std::vector<std::string> files{target};
  if (format == ExportFormat::Bmp) files.push_back(alphaPathFor(target));
  return files;
}

// The first of the files that already exists, or empty.
std::string firstExisting(const std::vector<std::string>& files) {
  for (const std::string& f : files)
    if (pathKind(f) != PathKind::Missing) return f;
  return {};
}

int refuseExisting(std::FILE* err, const std::string& path) {
  std::fprintf(err, "zelvo export: %s: the image exists (use --force to replace it)\n", path.c_str());
  return kExitFailure;
}

bool loadScreen(ScreenFile& screen, const std::string& path, std::FILE* err) {
  if (loadScreenFile(screen, path)) return true;
  std::fprintf(err, "zelvo export: %s: cannot load the screen file (or the tiles file beside it)\n",
               path.c_str());
  return false;
}

int exportOne(const ScreenFile& screen, int factor, ExportFormat format, const std::string& target,
              std::FILE* err) {
  const bool spritesOnly = screen.background() == nullptr;
  const Status saved = exportScreenImage(screen, factor, format, spritesOnly, target);
  if (saved) return kExitSuccess;
  std::fprintf(err, "zelvo export: %s\n", saved.error().message().c_str());
  return kExitFailure;
}

int exportDisplay(const ExportOptions& options, std::FILE* err) {
  if (!equalsNoCase(extensionOf(options.outputPath), ".png")) {
    std::fprintf(err, "zelvo export: %s: --display writes PNG: the output must end in .png\n",
                 options.outputPath.c_str());
    return kExitUsage;
  }
  if (!options.force && pathKind(options.outputPath) != PathKind::Missing)
    return refuseExisting(err, options.outputPath);
  ScreenFile screen;
  if (!loadScreen(screen, options.screenPath, err)) return kExitFailure;
  Result<RgbaImage> image = renderForDisplay(screen);
  if (!image) {
    std::fprintf(err, "zelvo export: %s: %s\n", options.screenPath.c_str(), image.error().detail.c_str());
    return kExitFailure;
  }
  // The picture is opaque, so the PNG holds no alpha.
  const Status saved = saveImageAtomically(*image, ImageFormat::Png, options.outputPath);
  if (!saved) {
    std::fprintf(err, "zelvo export: %s\n", saved.error().message().c_str());
    return kExitFailure;
  }
  return kExitSuccess;
}

// Every screen of a folder, each as its base name with the format's extension in `outputFolder`
// (made when missing). Nothing is written when any image exists and --force is not given.
int exportFolder(const ExportOptions& options, std::FILE* err) {
  if (options.display) {
    std::fputs("zelvo export: --display takes one screen file, not a folder\n", err);
    return kExitUsage;
  }
  ExportFormat format = ExportFormat::Png;
  if (!options.format.empty() && !formatOfName(options.format, format)) {
    std::fprintf(err, "zelvo export: --format must be png or bmp\n");
    return kExitUsage;
  }
  std::vector<std::string> screens;
  for (const DirEntry& entry : listMatching(options.screenPath, "*.msscreen"))
    if (!entry.directory) screens.push_back(entry.name);
  if (screens.empty()) {
    std::fprintf(err, "zelvo export: %s: no screen files (*.msscreen) in the folder\n",
                 options.screenPath.c_str());
    return kExitFailure;
  }
  const std::string& outputFolder = options.outputPath;
  if (pathKind(outputFolder) == PathKind::Missing && !createDirectory(outputFolder)) {
    std::fprintf(err, "zelvo export: %s: cannot create the folder\n", outputFolder.c_str());
    return kExitFailure;
  }
  if (!isDirectory(outputFolder)) {
    std::fprintf(err, "zelvo export: %s: not a folder\n", outputFolder.c_str());
    return kExitFailure;
  }
  auto targetOf = [&](const std::string& name) {
    return joinPath(outputFolder, stripExtension(name) + exportExtension(format));
  };
  if (!options.force)
    for (const std::string& name : screens)
      if (std::string existing = firstExisting(filesWritten(targetOf(name), format)); !existing.empty())
        return refuseExisting(err, existing);

  int status = kExitSuccess;
  for (const std::string& name : screens) {
    ScreenFile screen;
    if (!loadScreen(screen, joinPath(options.screenPath, name), err) ||
        exportOne(screen, options.factor, format, targetOf(name), err) != kExitSuccess)
      status = kExitFailure;
  }
  return status;
}

} // namespace

int runExport(const ExportOptions& options, std::FILE*, std::FILE* err) {
  if (options.factor < 1 || options.factor > 4) {
    std::fprintf(err, "zelvo export: the factor must be 1 to 4\n");
    return kExitUsage;
  }
  if (isDirectory(options.screenPath)) return exportFolder(options, err);
  if (options.display) return exportDisplay(options, err);

  ExportFormat format = ExportFormat::Png;
  if (!formatOfOutput(options.outputPath, format)) {
    std::fprintf(err, "zelvo export: %s: the output must end in .png or .bmp\n", options.outputPath.c_str());
    return kExitUsage;
  }
  ExportFormat named = format;
  if (!options.format.empty() && (!formatOfName(options.format, named) || named != format)) {
    std::fprintf(err, "zelvo export: %s: --format %s disagrees with the output's extension\n",
                 options.outputPath.c_str(), options.format.c_str());
    return kExitUsage;
  }
  if (!options.force)
    if (std::string existing = firstExisting(filesWritten(options.outputPath, format)); !existing.empty())
      return refuseExisting(err, existing);

  ScreenFile screen;
  if (!loadScreen(screen, options.screenPath, err)) return kExitFailure;
  return exportOne(screen, options.factor, format, options.outputPath, err);
}

} // namespace zelvo::cli
