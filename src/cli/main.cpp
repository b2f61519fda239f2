// zelvo: the command-line face of the tool, for scripts and tests.
#include "cli/commands.h"

#include <CLI/CLI.hpp>
#include <csignal>
#include <cstdio>

int main(int argc, char** argv) {
  using namespace zelvo::cli;
  // A file-size limit makes writes fail (the save reports it and keeps the old file) instead of
  // ending the program.
  std::signal(SIGXFSZ, SIG_IGN);
  CLI::App app{"zelvo: builds high-resolution graphics packs for Master System games"};
  app.require_subcommand(1);

  InspectOptions inspect;
  auto* inspectCmd = app.add_subcommand("inspect", "Describe a tiles file, screen file or pack");
  inspectCmd->add_option("FILE", inspect.path, "File to describe")->required();
  inspectCmd->add_flag("--json", inspect.json, "Print one JSON object");

  BuildOptions build;
  auto* buildCmd = app.add_subcommand("build", "Build a hi-res pack from an input folder");
  buildCmd->add_option("INPUT_FOLDER", build.inputFolder, "Folder with the tiles file, screens and images")
      ->required();
  buildCmd->add_option("--rom", build.romPath, "Original ROM (plain, zip, gzip or bzip2)")->required();
  buildCmd->add_option("--output", build.outputPath, "Pack file to write (.zrm)")->required();
  buildCmd->add_option("--scale", build.scale, "Hi-res scale, 1 to 4")->check(CLI::Range(1, 4));
  buildCmd->add_option("--threads", build.threads, "Threads for compression (default: one per core)")
      ->check(CLI::Range(1, 1024));
  addBuildReportOptions(*buildCmd, build);

  ExportOptions exportOpts;
  auto* exportCmd = app.add_subcommand("export", "Export a screen file as an image to paint over");
  exportCmd->add_option("SCREEN", exportOpts.screenPath, "Screen file (.msscreen)")->required();
  exportCmd->add_option("OUTPUT", exportOpts.outputPath, "Image to write (.png or .bmp)")->required();
  exportCmd->add_option("--factor", exportOpts.factor, "Scale factor, 1 to 4")->check(CLI::Range(1, 4));
  exportCmd->add_flag("--display", exportOpts.display, "Write the 1x image the viewer shows, as PNG");

  PreviewOptions preview;
  auto* previewCmd = app.add_subcommand("preview", "Draw a screen as a game shows it with a pack");
  previewCmd->add_option("SCREEN", preview.screenPath, "Screen file (.msscreen)")->required();
  previewCmd->add_option("PACK", preview.packPath, "Hi-res ROM pack (.zrm)")->required();
  previewCmd->add_option("OUTPUT", preview.outputPath, "PNG image to write")->required();
  previewCmd->add_flag("--compare", preview.compare,
                       "The screen enlarged without the pack beside the preview");
  previewCmd->add_flag("--json", preview.json, "Print what was drawn as one JSON object");

  SheetOptions sheet;
  auto* sheetCmd = app.add_subcommand("sheet", "Lay out every hi-res tile of a pack in a grid");
  sheetCmd->add_option("PACK", sheet.packPath, "Hi-res ROM pack (.zrm)")->required();
  sheetCmd->add_option("OUTPUT", sheet.outputPath, "PNG image to write")->required();
  sheetCmd->add_option("--group", sheet.group, "Only this tile group, 0 to 8")->check(CLI::Range(0, 8));
  sheetCmd->add_option("--columns", sheet.columns, "Tiles per row, 1 to 1024")->check(CLI::Range(1, 1024));
  sheetCmd->add_flag("--json", sheet.json, "Print where every tile entry lies as one JSON object");

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return 2;
  }

  if (*inspectCmd) return runInspect(inspect, stdout, stderr);
  if (*buildCmd) return runBuild(build, stdout, stderr);
  if (*exportCmd) return runExport(exportOpts, stdout, stderr);
  if (*previewCmd) return runPreview(preview, stdout, stderr);
  if (*sheetCmd) return runSheet(sheet, stdout, stderr);
  return 2;
}
