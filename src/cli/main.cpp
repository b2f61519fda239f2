// zelvo: the command-line face of the tool, for scripts and tests.
#include "cli/commands.h"
#include "platform/text.h"

#include <CLI/CLI.hpp>
#include <csignal>
#include <cstdio>

int main(int argc, char** argv) {
  using namespace zelvo::cli;
  // A file-size limit makes writes fail (the save reports it and keeps the old file) instead of
  // ending the program.
  std::signal(SIGXFSZ, SIG_IGN);
  occupyClosedStandardStreams();

  // A mistyped command is named, with the nearest one, before the parser's general complaint.
  if (argc > 1 && argv[1][0] != '-' && !isCommandName(argv[1])) {
    const std::string near = nearestCommand(argv[1]);
    std::fprintf(stderr, "zelvo: unknown command '%s'", zelvo::printable(argv[1]).c_str());
    if (!near.empty()) std::fprintf(stderr, "; did you mean '%s'?", near.c_str());
    std::fputs("\nRun 'zelvo --help' for the list of commands.\n", stderr);
    return kExitUsage;
  }

  CLI::App app{"zelvo " ZELVO_VERSION ": builds high-resolution graphics packs for Master System games",
               "zelvo"};
  app.require_subcommand(1);
  app.set_version_flag("--version", "zelvo " ZELVO_VERSION);
  app.footer("Exit status: 0 success, 1 failure (the reason is printed on stderr), 2 bad usage,\n"
             "130 interrupted (Ctrl+C).");
  app.option_defaults()->always_capture_default();

  InspectOptions inspect;
  auto* inspectCmd = app.add_subcommand("inspect", "Describe a tiles file, screen file or pack");
  inspectCmd->add_option("FILE", inspect.path, "File to describe")->required();
  inspectCmd->add_flag("--json", inspect.json, "Print one JSON object");

  BuildOptions build;
  auto* buildCmd = app.add_subcommand("build", "Build a hi-res pack from an input folder");
  buildCmd->add_option("INPUT_FOLDER", build.inputFolder, "Folder with the tiles file, screens and images")
      ->required();
  buildCmd->add_option("-r,--rom", build.romPath, "Original ROM (plain, zip, gzip or bzip2)")->required();
  buildCmd->add_option("-o,--output", build.outputPath, "Pack file to write (.zrm)")->required();
  buildCmd->add_option("-s,--scale", build.scale, "Hi-res scale, 1 to 4")->check(CLI::Range(1, 4));
  buildCmd->add_flag("--force", build.force,
                     "Replace an existing output that is not a pack, or an existing report");
  buildCmd
      ->add_option("--threads", build.threads,
                   "Threads for compression (default: one per core; at most one per core)")
      ->check(CLI::Range(1, 1024));
  buildCmd
      ->add_option("--encoder", build.encoder,
                   "Who compresses the hi-res tiles: fast (an encoder of our own, several times quicker, "
                   "every block read back by libbz2), or libbz2 (the same pack but for the bytes of that "
                   "bzip2 stream)")
      ->check(CLI::IsMember({"fast", "libbz2"}))
      ->capture_default_str();
  buildCmd->add_flag("--no-cache", build.noCache,
                     "Build without the build cache ($XDG_CACHE_HOME/zelvo, else ~/.cache/zelvo): nothing is "
                     "taken from it or kept there (the pack is the same either way)");
  auto* watch = buildCmd->add_flag(
      "--watch", build.watch,
      "Stay running: build again whenever the tiles file, a screen, an image or the ROM changes (each "
      "build printing its summary; a failed one keeps the last good pack) until Ctrl+C");
  addBuildReportOptions(*buildCmd, build);
  watch->excludes(buildCmd->get_option("--json"));

  ExportOptions exportOpts;
  auto* exportCmd = app.add_subcommand(
      "export", "Export a screen file (or every screen of a folder) as an image to paint over");
  exportCmd->add_option("SCREEN", exportOpts.screenPath, "Screen file (.msscreen), or a folder of them")
      ->required();
  exportCmd->add_option("OUTPUT", exportOpts.outputPath, "Image to write (.png or .bmp), or a folder")
      ->required();
  auto* factor = exportCmd->add_option("-f,--factor", exportOpts.factor, "Scale factor, 1 to 4")
                     ->check(CLI::Range(1, 4));
  exportCmd->add_option("--format", exportOpts.format, "Image format of a folder's exports")
      ->check(CLI::IsMember({"png", "bmp"}));
  exportCmd->add_flag("--display", exportOpts.display, "Write the 1x image the viewer shows, as PNG")
      ->excludes(factor);
  exportCmd->add_flag("--force", exportOpts.force, "Replace existing images");

  PreviewOptions preview;
  auto* previewCmd = app.add_subcommand("preview", "Draw a screen as a game shows it with a pack");
  previewCmd->add_option("SCREEN", preview.screenPath, "Screen file (.msscreen)")->required();
  previewCmd->add_option("PACK", preview.packPath, "Hi-res ROM pack (.zrm)")->required();
  previewCmd->add_option("OUTPUT", preview.outputPath, "PNG image to write")->required();
  previewCmd->add_flag("--compare", preview.compare,
                       "The screen enlarged without the pack beside the preview");
  previewCmd->add_flag("--json", preview.json, "Print what was drawn as one JSON object");
  previewCmd->add_flag("--force", preview.force, "Replace an existing image");

  SheetOptions sheet;
  auto* sheetCmd = app.add_subcommand(
      "sheet", "Lay out every hi-res tile of a pack in a grid, or the tiles of a capture folder to paint");
  sheetCmd->add_option("PACK", sheet.packPath, "Hi-res ROM pack (.zrm); with --to-paint, a capture folder")
      ->required();
  sheetCmd->add_option("OUTPUT", sheet.outputPath, "PNG image to write")->required();
  sheetCmd->add_option("--group", sheet.group, "Only this tile group, 0 to 8 (-1: every group)")
      ->check(CLI::Range(-1, 8));
  sheetCmd->add_option("--columns", sheet.columns, "Tiles per row, 1 to 1024")->check(CLI::Range(1, 1024));
  sheetCmd
      ->add_option("--page-height", sheet.pageHeight,
                   "Tallest page in pixels; further pages are written as OUTPUT-2.png, OUTPUT-3.png, ...")
      ->check(CLI::Range(256, 65536));
  sheetCmd->add_flag("--json", sheet.json, "Print where every tile entry lies as one JSON object");
  sheetCmd->add_flag("--force", sheet.force, "Replace an existing image");
  auto* toPaint = sheetCmd->add_flag(
      "--to-paint", sheet.toPaint,
      "A sheet to paint of the folder's tiles as its images leave them, with its map (in the PNG and in "
      "OUTPUT's .json); the build imports it from its input folder");
  sheetCmd->add_option("-s,--scale", sheet.scale, "With --to-paint: the build's scale, 1 to 4")
      ->check(CLI::Range(1, 4))
      ->needs(toPaint);
  sheetCmd->add_flag("--unpainted", sheet.unpainted, "With --to-paint: only the tiles no image paints")
      ->needs(toPaint);
  sheetCmd->add_option("--screen", sheet.screen, "With --to-paint: only the tiles this screen shows")
      ->needs(toPaint);

  CoverageOptions coverage;
  auto* coverageCmd =
      app.add_subcommand("coverage", "Count what the images of a folder paint and what is left to paint");
  coverageCmd->add_option("FOLDER", coverage.folder, "Folder with the tiles file, screens and images")
      ->required();
  coverageCmd->add_option("-s,--scale", coverage.scale, "Scale the images are painted at, 1 to 4")
      ->check(CLI::Range(1, 4));
  coverageCmd->add_flag("--json", coverage.json, "Print the counts as one JSON object");
  coverageCmd->add_option(
      "--maps", coverage.mapsFolder,
      "Write a map of every screen, its cells tinted by what they show, into this folder");
  coverageCmd->add_flag("--force", coverage.force, "Replace existing maps");

  try {
    app.parse(argc, argv);
  } catch (const CLI::Success& e) { // --help, --version
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return kExitUsage;
  }

  if (*inspectCmd) return runInspect(inspect, stdout, stderr);
  if (*buildCmd) return runBuild(build, stdout, stderr);
  if (*exportCmd) return runExport(exportOpts, stdout, stderr);
  if (*previewCmd) return runPreview(preview, stdout, stderr);
  if (*sheetCmd)
    return sheet.toPaint ? runPaintSheet(sheet, stdout, stderr) : runSheet(sheet, stdout, stderr);
  if (*coverageCmd) return runCoverage(coverage, stdout, stderr);
  return kExitUsage;
}
