// zelvo: the command-line face of the tool, for scripts and tests.
#include "cli/commands.h"
#include "platform/text.h"

#include <CLI/CLI.hpp>
#include <csignal>
#include <cstdio>
#include <functional>
#include <utility>

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

  // Each subcommand, in the order the help lists them, with the run of its options.
  InspectOptions inspect;
  BuildOptions build;
  ExportOptions exportOpts;
  PreviewOptions preview;
  SheetOptions sheet;
  CoverageOptions coverage;
  const std::pair<CLI::App*, std::function<int()>> commands[] = {
      {addInspectCommand(app, inspect), [&] { return runInspect(inspect, stdout, stderr); }},
      {addBuildCommand(app, build), [&] { return runBuild(build, stdout, stderr); }},
      {addExportCommand(app, exportOpts), [&] { return runExport(exportOpts, stdout, stderr); }},
      {addPreviewCommand(app, preview), [&] { return runPreview(preview, stdout, stderr); }},
      {addSheetCommand(app, sheet), [&] { return runSheet(sheet, stdout, stderr); }},
      {addCoverageCommand(app, coverage), [&] { return runCoverage(coverage, stdout, stderr); }},
  };

  try {
    app.parse(argc, argv);
  } catch (const CLI::Success& e) { // --help, --version
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return kExitUsage;
  }
  for (const auto& [command, run] : commands)
    if (*command) return run();
  return kExitUsage;
}
