// `zelvo coverage`: what the images of a capture folder paint, by the build's own rules, and what
// is left to paint; with --maps, a picture of every screen that shows it. Nothing else is written.
#include "cli/commands.h"

#include "pipeline/build_report.h"
#include "platform/fs.h"
#include "platform/output_rule.h"
#include "platform/path.h"
#include "platform/text.h"
#include "platform/thread_pool.h"
#include "render/image_save.h"
#include "tiles/screen_file.h"
#include "viewer/coverage_map.h"

#include <CLI/CLI.hpp>
#include <deque>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>

namespace zelvo::cli {

namespace {

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
    std::fprintf(out, "  %s: %s unpainted tile entries\n", printable(n.screen).c_str(),
                 groupedNumber(n.unpaintedTiles).c_str());
}

// The maps to write: by screen name, the map's path in the maps folder.
using MapTargets = std::map<std::string, std::string>;

// The rule of a map: a PNG, never in the capture folder among the files a build reads there
// (where it could be taken for paint); an existing map goes only with --force.
OutputRule mapRule(const CoverageOptions& options) {
  OutputRule rule;
  rule.role = "map";
  rule.extensions = {".png"};
  rule.inputFolder = options.folder;
  rule.inputExtensions = {".msscreen", ".mstiles", ".png", ".bmp"};
  rule.inputFolderWhat = "a file of the capture folder";
  rule.replace = options.force ? ReplacePolicy::anyFile() : ReplacePolicy::nothing();
  rule.replaceHint = "use --force to replace it";
  return rule;
}

// Makes the maps folder when missing and checks every map's path before anything is counted: 0
// with `targets` filled, or the exit status.
int planMaps(const CoverageOptions& options, const OutputRule& rule, MapTargets& targets, std::FILE* err) {
  const std::string& folder = options.mapsFolder;
  if (Status made = makeFolders(folder); !made) {
    sayError(err, "coverage", made.error().message());
    return kExitFailure;
  }
  const Result<std::vector<DirEntry>> screens = listMatching(options.folder, "*.msscreen");
  if (!screens) {
    sayError(err, "coverage", screens.error().message());
    return kExitFailure;
  }
  for (const DirEntry& entry : *screens) {
    if (entry.directory) continue;
    const std::string target = joinPath(folder, stripExtension(entry.name) + "-coverage.png");
    if (const int status = checkOutputOrSay(target, rule, "coverage", err); status != kExitSuccess)
      return status;
    targets[entry.name] = target;
  }
  return kExitSuccess;
}

// Draws and saves the map of every planned screen, on `threads` workers (0: one per core); the
// paths written go to `written`, in the screens' order. False when one could not be made (the
// reason on `err`); the others are written anyway.
bool writeMaps(const CoverageOptions& options, const OutputRule& rule, const MapTargets& targets,
               const Coverage& coverage, unsigned threads, std::vector<std::string>& written,
               std::FILE* err) {
  // What became of one map: empty when it was written, else why not.
  using Outcome = std::optional<std::string>;
  std::optional<ThreadPool> pool;
  if (resolveThreadCount(threads) > 1) pool.emplace(threads);
  OrderedTasks<Outcome> tasks(pool ? &*pool : nullptr, pool ? 2 * std::size_t(pool->size()) : 1);
  std::deque<std::string> paths; // of the maps in `tasks`, oldest first
  bool all = true;
  auto take = [&] {
    const Outcome failed = tasks.pop();
    if (failed) {
      sayError(err, "coverage", *failed);
      all = false;
    } else {
      written.push_back(paths.front());
    }
    paths.pop_front();
  };
  for (const ScreenCoverage& screen : coverage.screens) {
    const auto target = targets.find(screen.screen);
    if (target == targets.end()) continue;
    if (tasks.full()) take();
    paths.push_back(target->second);
    tasks.push([&options, &rule, &screen, path = target->second]() -> Outcome {
      const std::string screenPath = joinPath(options.folder, screen.screen);
      ScreenFile file;
      if (const Status read = readScreenFile(file, screenPath); !read) {
        const Error& why = read.error();
        return screenPath + ": cannot load the screen file (or the tiles file beside it): " +
               (why.path == screenPath || why.path.empty() ? why.detail : why.message());
      }
      Result<RgbaImage> map = renderCoverageMap(file, screen, options.scale);
      Status saved = map ? saveImageAtomically(*map, ImageFormat::Png, path, rule.replace)
                         : Status(Error{map.error().cause, path, map.error().detail});
      if (!saved) return outputFailure(saved.error(), rule);
      return std::nullopt;
    });
  }
  while (!tasks.empty()) take();
  return all;
}

} // namespace

CLI::App* addCoverageCommand(CLI::App& app, CoverageOptions& options) {
  CLI::App* command =
      app.add_subcommand("coverage", "Count what the images of a folder paint and what is left to paint");
  command->add_option("FOLDER", options.folder, "Folder with the tiles file, screens and images")->required();
  command->add_option("-s,--scale", options.scale, "Scale the images are painted at, 1 to 4")
      ->check(CLI::Range(1, 4));
  command->add_flag("--json", options.json, "Print the counts as one JSON object");
  command->add_option("--maps", options.mapsFolder,
                      "Write a map of every screen, its cells tinted by what they show, into this folder");
  command->add_flag("--force", options.force, "Replace existing maps");
  return command;
}

int runCoverage(const CoverageOptions& options, std::FILE* out, std::FILE* err) {
  const OutputRule rule = mapRule(options);
  MapTargets targets;
  if (!options.mapsFolder.empty())
    if (int refused = planMaps(options, rule, targets, err)) return refused;

  const unsigned threads = boundedThreads(options.threads, err);
  Result<Coverage> counted = countFolderCoverage(options.folder, options.scale, threads);
  if (!counted) {
    sayError(err, "coverage", counted.error().message());
    return kExitFailure;
  }
  const Coverage& coverage = *counted;
  std::vector<std::string> maps;
  const bool mapsWritten = writeMaps(options, rule, targets, coverage, threads, maps, err);
  const int status = mapsWritten ? kExitSuccess : kExitFailure;
  if (options.json) {
    nlohmann::ordered_json json = nlohmann::ordered_json::parse(coverageJson(coverage, -1));
    json["scale"] = options.scale;
    if (!options.mapsFolder.empty()) json["maps"] = maps;
    const std::string text = json.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
    return writeOutput(out, text, err, "coverage") ? status : kExitFailure;
  }
  printWords(coverage, printable(options.folder), options.scale, out);
  if (!options.mapsFolder.empty())
    std::fprintf(out, "Maps: %zu of %zu written into %s\n", maps.size(), targets.size(),
                 printable(options.mapsFolder).c_str());
  return checkOutputWritten(out, err, "coverage", status);
}

} // namespace zelvo::cli
