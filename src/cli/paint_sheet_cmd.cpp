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

#include <optional>

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

// Where the pages go, each image with its map beside it, and what may be replaced there.
struct SheetOutputs {
  std::string first; // the first page's image
  OutputRule image, sidecar;

  Status check(std::uint32_t page) const {
    const std::string path = paintSheetPagePath(first, page);
    if (Status ready = checkOutput(path, image); !ready) return ready;
    return checkOutput(sheetSidecarPath(path), sidecar);
  }
};

// Builds the folder's screens into `store`, for the tiles as its images leave them; says why when
// the build fails.
bool buildStore(const std::string& folder, int scale, std::FILE* err, ReplacedStore& store) {
  SheetLog log(err);
  BuildJob job;
  job.log = &log;
  job.inputFolder = folder;
  job.scale = std::uint8_t(scale);
  job.screensOnly = true;
  job.store = &store;
  if (!RunBuild(job) || !store.table) {
    sayError(err, kCommand, log.last + (log.reason.empty() ? "" : ": " + log.reason));
    return false;
  }
  return true;
}

// The pages of the tiles the options choose.
Result<PaintSheetPlan> planSheets(const ReplacedStore& store, const SheetOptions& options) {
  const std::string& folder = options.packPath;
  std::unordered_set<std::uint32_t> shown;
  PaintSheetChoice choice;
  choice.group = options.group;
  choice.unpainted = options.unpainted;
  choice.columns = options.columns;
  if (!options.screen.empty()) {
    Result<std::unordered_set<std::uint32_t>> tiles =
        tilesShownBy(store, screenPathOf(folder, options.screen));
    if (!tiles) return tiles.error();
    shown = std::move(*tiles);
    choice.only = &shown;
  }
  Result<PaintSheetPlan> plan = planPaintSheets(store, choice);
  if (!plan) return Error{plan.error().cause, folder, plan.error().detail};
  return plan;
}

// The pages saved: where each went and what it holds, and the slots of them all.
struct WrittenPages {
  nlohmann::ordered_json pages = nlohmann::ordered_json::array();
  std::size_t slots = 0;
};

// Draws and saves every page of the plan; says why when one fails.
std::optional<WrittenPages> writePages(const ReplacedStore& store, PaintSheetPlan& plan,
                                       const SheetOutputs& outputs, std::FILE* err) {
  WrittenPages written;
  for (std::uint32_t page = 1; page <= plan.pages.size(); ++page) {
    Result<RgbaImage> image = drawPaintSheet(store, plan, page - 1);
    if (!image) {
      fail(err, image.error());
      return std::nullopt;
    }
    const std::string path = paintSheetPagePath(outputs.first, page);
    const SheetMap& map = plan.pages[page - 1];
    if (Status saved = savePaintSheet(*image, map, path, sheetSidecarPath(path), outputs.image.replace);
        !saved) {
      sayError(err, kCommand, outputFailure(saved.error(), outputs.image));
      return std::nullopt;
    }
    written.slots += map.slots.size();
    written.pages.push_back({{"image", path},
                             {"sidecar", sheetSidecarPath(path)},
                             {"width", map.width},
                             {"height", map.height},
                             {"slots", map.slots.size()}});
  }
  return written;
}

} // namespace

int runPaintSheet(const SheetOptions& options, std::FILE* out, std::FILE* err) {
  const std::string& folder = options.packPath;
  if (!isDirectory(folder)) {
    sayError(err, kCommand, "with --to-paint, " + printable(folder) + " is not a capture folder");
    return kExitUsage;
  }
  const SheetOutputs outputs{options.outputPath, sheetRule(folder, false, options.force),
                             sheetRule(folder, true, options.force)};
  if (Status named = checkOutputName(options.outputPath, outputs.image); !named) {
    sayError(err, kCommand, named.error().message());
    return kExitUsage;
  }
  // Every page is checked before any is written; the first one before the build runs.
  if (Status ready = outputs.check(1); !ready) return fail(err, ready.error());

  ReplacedStore store;
  if (!buildStore(folder, options.scale, err, store)) return kExitFailure;
  Result<PaintSheetPlan> plan = planSheets(store, options);
  if (!plan) return fail(err, plan.error());
  const std::uint32_t pages = std::uint32_t(plan->pages.size());
  for (std::uint32_t page = 2; page <= pages; ++page)
    if (Status ready = outputs.check(page); !ready) return fail(err, ready.error());

  std::optional<WrittenPages> written = writePages(store, *plan, outputs, err);
  if (!written) return kExitFailure;
  if (options.json) {
    nlohmann::ordered_json info;
    info["scale"] = options.scale;
    info["tiles"] = written->slots;
    info["pages"] = std::move(written->pages);
    if (!writeOutput(out, jsonText(info) + "\n", err, kCommand)) return kExitFailure;
  }
  return kExitSuccess;
}

} // namespace zelvo::cli
