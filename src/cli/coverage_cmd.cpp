// `zelvo coverage`: what the images of a capture folder paint, by the build's own rules, and what
// is left to paint. Nothing is written.
#include "cli/commands.h"

#include "pipeline/build_driver.h"
#include "platform/text.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

namespace zelvo::cli {

namespace {

// Keeps the error line and its reason; the build's other lines are not what this command says.
class QuietLog : public BuildLog {
public:
  void ClearLog() override { last.clear(); }
  void AppendLogLine(const std::string& text) override { last = text; }
  void FailureReason(const Error& why) override { reason = why.message(); }
  std::string last, reason;
};

std::string percentOf(std::size_t part, std::size_t whole) {
  return std::to_string(whole ? part * 100 / whole : 0) + " %";
}

void printWords(const Coverage& c, const std::string& folder, int scale, std::FILE* out) {
  std::fprintf(out, "Coverage of %s at %dx\n", folder.c_str(), scale);
  std::fprintf(out, "Tile entries: %s of %s painted (%s)\n", groupedNumber(c.tilesPainted).c_str(),
               groupedNumber(c.tilesTotal).c_str(), percentOf(c.tilesPainted, c.tilesTotal).c_str());
  std::fprintf(out, "Cells: %s of %s show a painted tile (%s)\n", groupedNumber(c.cellsPainted).c_str(),
               groupedNumber(c.cellsTotal).c_str(), percentOf(c.cellsPainted, c.cellsTotal).c_str());
  std::fputs("Screens (cells painted here, painted by another screen, unpainted):\n", out);
  for (const ScreenCoverage& s : c.screens)
    std::fprintf(out, "  %s: %zu painted here, %zu painted elsewhere, %zu unpainted\n",
                 printable(s.screen).c_str(), s.paintedHere, s.paintedElsewhere, s.unpainted);
  if (c.next.empty()) {
    std::fputs("Paint next: nothing; every tile shown is painted\n", out);
    return;
  }
  std::fputs("Paint next (the screens that cover the most unpainted tile entries, each after those above):\n",
             out);
  for (const NextScreen& n : c.next)
    std::fprintf(out, "  %s: %s unpainted tile entries\n", n.screen.c_str(),
                 groupedNumber(n.unpaintedTiles).c_str());
}

} // namespace

CLI::App* addCoverageCommand(CLI::App& app, CoverageOptions& options) {
  CLI::App* command =
      app.add_subcommand("coverage", "Count what the images of a folder paint and what is left to paint");
  command->add_option("FOLDER", options.folder, "Folder with the tiles file, screens and images")->required();
  command->add_option("-s,--scale", options.scale, "Scale the images are painted at, 1 to 4")
      ->check(CLI::Range(1, 4));
  command->add_flag("--json", options.json, "Print the counts as one JSON object");
  return command;
}

int runCoverage(const CoverageOptions& options, std::FILE* out, std::FILE* err) {
  QuietLog log;
  BuildReport report;
  BuildJob job;
  job.log = &log;
  job.report = &report;
  job.inputFolder = options.folder;
  job.scale = std::uint8_t(options.scale);
  job.threads = boundedThreads(options.threads, err);
  job.screensOnly = true;
  if (!RunBuild(job) || !report.coverage) {
    sayError(err, "coverage", log.last + (log.reason.empty() ? "" : ": " + log.reason));
    return kExitFailure;
  }
  if (options.json) {
    nlohmann::ordered_json json = nlohmann::ordered_json::parse(coverageJson(*report.coverage, -1));
    json["scale"] = options.scale;
    const std::string text = json.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
    return writeOutput(out, text, err, "coverage") ? kExitSuccess : kExitFailure;
  }
  printWords(*report.coverage, printable(options.folder), options.scale, out);
  return checkOutputWritten(out, err, "coverage", kExitSuccess);
}

} // namespace zelvo::cli
