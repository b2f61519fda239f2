// `zelvo sheet FOLDER OUT.png --to-paint`: the tiles of a capture folder, as its images leave them,
// on sheets to paint, each with its map in the PNG and beside it (OUT.json). The build imports the
// painted sheets it finds in its input folder.
#include "cli/commands.h"
#include "cli/json_text.h"

#include "pipeline/build_driver.h"
#include "platform/fs.h"
#include "platform/output_rule.h"
#include "platform/path.h"
#include "platform/text.h"
#include "viewer/paint_sheet.h"

namespace zelvo::cli {

namespace {

constexpr const char* kCommand = "sheet";

// Passes the build's warnings on; keeps its last line and the reason of a failure.
class SheetLog : public BuildLog {
public:
  explicit SheetLog(std::FILE* err) : err_(err) {}
  void ClearLog() override { last.clear(); }
  void AppendLogLine(const std::string& text) override {
    last = text;
    if (logLineKind(text) == LogLineKind::Warning) std::fprintf(err_, "%s\n", printable(text).c_str());
  }
  void FailureReason(const Error& why) override { reason = why.message(); }
  std::string last, reason;

private:
  std::FILE* err_;
};

// The rule of the sheet's image and its sidecar: never a file the build reads (the tiles and screen
// files, the images painted over the screens), an existing file only with --force. A sheet may be
// written into the capture folder: the build takes it from there.
OutputRule sheetRule(const std::string& folder, bool sidecar, bool force) {
  OutputRule rule;
  rule.role = sidecar ? "sheet's map" : "sheet";
  rule.extensions = {sidecar ? ".json" : ".png"};
  rule.inputFolder = folder;
  rule.inputExtensions = {".mstiles", ".msscreen"};
  rule.inputFolderWhat = "a file the build reads";
  // A folder that cannot be listed has no images to guard (the build cannot read it either).
  const Result<std::vector<DirEntry>> screens = listMatching(folder, "*.msscreen");
  for (const DirEntry& screen : screens ? *screens : std::vector<DirEntry>()) {
    const std::string base = joinPath(folder, stripExtension(screen.name));
    for (const char* end : {".png", ".bmp", "_alpha.png", "_alpha.bmp"})
      rule.inputs.push_back({base + end, "an image painted over a screen"});
  }
  rule.replace = force ? ReplacePolicy::anyFile() : ReplacePolicy::nothing();
  rule.replaceHint = "use --force to replace it";
  return rule;
}

int fail(std::FILE* err, const Error& error) {
  sayError(err, kCommand, error.message());
  return kExitFailure;
}

// The screen `name` names: a path, or a screen of the folder with or without its extension.
std::string screenPathOf(const std::string& folder, const std::string& name) {
  for (const std::string& path :
       {joinPath(folder, name), joinPath(folder, name + ".msscreen"), name, name + ".msscreen"})
    if (isRegularFile(path)) return path;
  return joinPath(folder, name);
}

} // namespace

int runPaintSheet(const SheetOptions& options, std::FILE* out, std::FILE* err) {
  const std::string& folder = options.packPath;
  if (!isDirectory(folder)) {
    sayError(err, kCommand, "with --to-paint, " + printable(folder) + " is not a capture folder");
    return kExitUsage;
  }
  const OutputRule imageRule = sheetRule(folder, false, options.force);
  const OutputRule sidecarRule = sheetRule(folder, true, options.force);
  if (Status named = checkOutputName(options.outputPath, imageRule); !named) {
    sayError(err, kCommand, named.error().message());
    return kExitUsage;
  }
  // Every page is checked before any is written; the first one before the build runs.
  auto checkPage = [&](std::uint32_t page) -> Status {
    const std::string image = paintSheetPagePath(options.outputPath, page);
    if (Status ready = checkOutput(image, imageRule); !ready) return ready;
    return checkOutput(sheetSidecarPath(image), sidecarRule);
  };
  if (Status ready = checkPage(1); !ready) return fail(err, ready.error());

  SheetLog log(err);
  ReplacedStore store;
  BuildJob job;
  job.log = &log;
  job.inputFolder = folder;
  job.scale = std::uint8_t(options.scale);
  job.screensOnly = true;
  job.store = &store;
  if (!RunBuild(job) || !store.table) {
    sayError(err, kCommand, log.last + (log.reason.empty() ? "" : ": " + log.reason));
    return kExitFailure;
  }

  std::unordered_set<std::uint32_t> shown;
  PaintSheetChoice choice;
  choice.group = options.group;
  choice.unpainted = options.unpainted;
  choice.columns = options.columns;
  if (!options.screen.empty()) {
    Result<std::unordered_set<std::uint32_t>> tiles =
        tilesShownBy(store, screenPathOf(folder, options.screen));
    if (!tiles) return fail(err, tiles.error());
    shown = std::move(*tiles);
    choice.only = &shown;
  }
  Result<PaintSheetPlan> plan = planPaintSheets(store, choice);
  if (!plan) return fail(err, Error{plan.error().cause, folder, plan.error().detail});
  const std::uint32_t pages = std::uint32_t(plan->pages.size());
  for (std::uint32_t page = 2; page <= pages; ++page)
    if (Status ready = checkPage(page); !ready) return fail(err, ready.error());

  nlohmann::ordered_json written = nlohmann::ordered_json::array();
  std::size_t slots = 0;
  for (std::uint32_t page = 1; page <= pages; ++page) {
    Result<RgbaImage> image = drawPaintSheet(store, *plan, page - 1);
    if (!image) return fail(err, image.error());
    const std::string path = paintSheetPagePath(options.outputPath, page);
    const SheetMap& map = plan->pages[page - 1];
    if (Status saved = savePaintSheet(*image, map, path, sheetSidecarPath(path), imageRule.replace); !saved) {
      sayError(err, kCommand, outputFailure(saved.error(), imageRule));
      return kExitFailure;
    }
    slots += map.slots.size();
    written.push_back({{"image", path},
                       {"sidecar", sheetSidecarPath(path)},
                       {"width", map.width},
                       {"height", map.height},
                       {"slots", map.slots.size()}});
  }
  if (options.json) {
    nlohmann::ordered_json info;
    info["scale"] = options.scale;
    info["tiles"] = slots;
    info["pages"] = std::move(written);
    if (!writeOutput(out, jsonText(info) + "\n", err, kCommand)) return kExitFailure;
  }
  return kExitSuccess;
}

} // namespace zelvo::cli
