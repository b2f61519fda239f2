// zelvo export: what Save Bitmap writes for a screen (or for every screen of a folder), or with
// --display the image the viewer shows. Existing images are replaced only with --force.
#include "cli/commands.h"

#include "platform/fs.h"
#include "platform/output_rule.h"
#include "platform/path.h"
#include "platform/text.h"
#include "render/image_save.h"
#include "tiles/screen_file.h"
#include "viewer/screen_export.h"
#include "viewer/screen_render.h"

#include <CLI/CLI.hpp>
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

// The rule of the images an export writes: never the screen files and tiles files it reads (the
// screens of `screenFolder`, and `screen` itself when given); an existing image goes only with
// --force.
OutputRule imageRule(const ExportOptions& options, ExportFormat format, const std::string& screenFolder,
                     const std::string& screen) {
  OutputRule rule;
  rule.role = "image";
  rule.extensions = {exportExtension(format)};
  if (!screen.empty()) rule.inputs.push_back({screen, "the screen file"});
  rule.inputFolder = screenFolder.empty() ? std::string(".") : screenFolder;
  rule.inputExtensions = {".msscreen", ".mstiles"};
  rule.inputFolderWhat = "a file the export reads";
  rule.replace = options.force ? ReplacePolicy::anyFile() : ReplacePolicy::nothing();
  rule.replaceHint = "use --force to replace it";
  return rule;
}

// Checks every file an export writes at `target` before anything is read: 0, or the exit status.
int checkTargets(const std::string& target, ExportFormat format, const OutputRule& rule, std::FILE* err) {
  for (const std::string& file : filesWritten(target, format))
    if (const int status = checkOutputOrSay(file, rule, "export", err); status != kExitSuccess) return status;
  return kExitSuccess;
}

bool loadScreen(ScreenFile& screen, const std::string& path, std::FILE* err) {
  return loadScreenOrSay(screen, path, err, "export");
}

int exportOne(const ScreenFile& screen, int factor, ExportFormat format, const std::string& target,
              const OutputRule& rule, std::FILE* err) {
  const bool spritesOnly = screen.background() == nullptr;
  const Status saved = exportScreenImage(screen, factor, format, spritesOnly, target, rule.replace);
  if (saved) return kExitSuccess;
  sayError(err, "export", outputFailure(saved.error(), rule));
  return kExitFailure;
}

int exportDisplay(const ExportOptions& options, std::FILE* err) {
  if (!equalsNoCase(extensionOf(options.outputPath), ".png")) {
    sayError(err, "export", options.outputPath + ": --display writes PNG: the output must end in .png");
    return kExitUsage;
  }
  const OutputRule rule =
      imageRule(options, ExportFormat::Png, folderOf(options.screenPath), options.screenPath);
  if (int refused = checkTargets(options.outputPath, ExportFormat::Png, rule, err)) return refused;
  ScreenFile screen;
  if (!loadScreen(screen, options.screenPath, err)) return kExitFailure;
  Result<RgbaImage> image = renderForDisplay(screen);
  if (!image) {
    sayError(err, "export", options.screenPath + ": " + image.error().detail);
    return kExitFailure;
  }
  // The picture is opaque, so the PNG holds no alpha.
  const Status saved = saveImageAtomically(*image, ImageFormat::Png, options.outputPath, rule.replace);
  if (!saved) {
    sayError(err, "export", outputFailure(saved.error(), rule));
    return kExitFailure;
  }
  return kExitSuccess;
}

// Every screen of a folder, each as its base name with the format's extension in `outputFolder`
// (made when missing). Nothing is written when any image exists and --force is not given.
int exportFolder(const ExportOptions& options, std::FILE* out, std::FILE* err) {
  if (options.display) {
    std::fputs("zelvo export: --display takes one screen file, not a folder\n", err);
    return kExitUsage;
  }
  ExportFormat format = ExportFormat::Png;
  if (!options.format.empty() && !formatOfName(options.format, format)) {
    sayError(err, "export", "--format must be png or bmp");
    return kExitUsage;
  }
  const Result<std::vector<DirEntry>> listed = listMatching(options.screenPath, "*.msscreen");
  if (!listed) {
    sayError(err, "export", listed.error().message());
    return kExitFailure;
  }
  std::vector<std::string> screens;
  for (const DirEntry& entry : *listed)
    if (!entry.directory) screens.push_back(entry.name);
  if (screens.empty()) {
    sayError(err, "export", options.screenPath + ": no screen files (*.msscreen) in the folder");
    return kExitFailure;
  }
  const std::string& outputFolder = options.outputPath;
  if (Status made = makeFolders(outputFolder); !made) {
    sayError(err, "export", made.error().message());
    return kExitFailure;
  }
  auto targetOf = [&](const std::string& name) {
    return joinPath(outputFolder, stripExtension(name) + exportExtension(format));
  };
  const OutputRule rule = imageRule(options, format, options.screenPath, {});
  for (const std::string& name : screens)
    if (int refused = checkTargets(targetOf(name), format, rule, err)) return refused;

  // A large game takes a while: each image is named as it is written, and a summary ends the run.
  std::size_t written = 0;
  for (const std::string& name : screens) {
    ScreenFile screen;
    const std::string target = targetOf(name);
    if (!loadScreen(screen, joinPath(options.screenPath, name), err) ||
        exportOne(screen, options.factor, format, target, rule, err) != kExitSuccess)
      continue;
    ++written;
    const std::vector<std::string> files = filesWritten(target, format);
    std::fprintf(out, "Wrote %s", printable(fileNameOf(files[0])).c_str());
    if (files.size() > 1) std::fprintf(out, " and %s", printable(fileNameOf(files[1])).c_str());
    std::fputc('\n', out);
    std::fflush(out);
  }
  std::fprintf(out, "Exported %zu of %zu screens at %dx into %s\n", written, screens.size(), options.factor,
               outputFolder.c_str());
  return written == screens.size() ? kExitSuccess : kExitFailure;
}

} // namespace

CLI::App* addExportCommand(CLI::App& app, ExportOptions& options) {
  CLI::App* command = app.add_subcommand(
      "export", "Export a screen file (or every screen of a folder) as an image to paint over");
  command->add_option("SCREEN", options.screenPath, "Screen file (.msscreen), or a folder of them")
      ->required();
  command->add_option("OUTPUT", options.outputPath, "Image to write (.png or .bmp), or a folder")->required();
  auto* factor =
      command->add_option("-f,--factor", options.factor, "Scale factor, 1 to 4")->check(CLI::Range(1, 4));
  command->add_option("--format", options.format, "Image format of a folder's exports")
      ->check(CLI::IsMember({"png", "bmp"}));
  command->add_flag("--display", options.display, "Write the 1x image the viewer shows, as PNG")
      ->excludes(factor);
  command->add_flag("--force", options.force, "Replace existing images");
  return command;
}

int runExport(const ExportOptions& options, std::FILE* out, std::FILE* err) {
  if (options.factor < 1 || options.factor > 4) {
    sayError(err, "export", "the factor must be 1 to 4");
    return kExitUsage;
  }
  if (isDirectory(options.screenPath)) return exportFolder(options, out, err);
  if (options.display) return exportDisplay(options, err);

  ExportFormat format = ExportFormat::Png;
  if (!formatOfOutput(options.outputPath, format)) {
    sayError(err, "export", options.outputPath + ": the output must end in .png or .bmp");
    return kExitUsage;
  }
  ExportFormat named = format;
  if (!options.format.empty() && (!formatOfName(options.format, named) || named != format)) {
    sayError(err, "export",
             options.outputPath + ": --format " + options.format + " disagrees with the output's extension");
    return kExitUsage;
  }
  const OutputRule rule = imageRule(options, format, folderOf(options.screenPath), options.screenPath);
  if (int refused = checkTargets(options.outputPath, format, rule, err)) return refused;

  ScreenFile screen;
  if (!loadScreen(screen, options.screenPath, err)) return kExitFailure;
  return exportOne(screen, options.factor, format, options.outputPath, rule, err);
}

} // namespace zelvo::cli
