// `zelvo preview`: a screen as a game shows it with a pack; `zelvo sheet`: every hi-res tile of a
// pack in a grid. Both write a PNG, and with --json describe what they drew.
#include "cli/commands.h"
#include "cli/json_text.h"

#include "pipeline/pack_read.h"
#include "platform/output_rule.h"
#include "platform/path.h"
#include "render/image_save.h"
#include "tiles/screen_file.h"
#include "viewer/legend.h"
#include "viewer/pack_preview.h"

#include <CLI/CLI.hpp>

namespace zelvo::cli {

namespace {

using Json = nlohmann::ordered_json;

constexpr int kCompareGap = 4; // pixels between the plain enlargement and the preview

int fail(std::FILE* err, const char* command, const Error& error) {
  sayError(err, command, error.message());
  return kExitFailure;
}

// The rule of the PNG image a command writes: never the pack it reads, nor the screen and the
// tiles files beside it (when `screen` is given); an existing image goes only with --force.
OutputRule pngRule(const std::string& pack, const std::string& screen, bool force) {
  OutputRule rule;
  rule.extensions = {".png"};
  rule.inputs.push_back({pack, "the pack read"});
  if (!screen.empty()) {
    rule.inputs.push_back({screen, "the screen file"});
    rule.inputFolder = folderOf(screen).empty() ? std::string(".") : folderOf(screen);
    rule.inputExtensions = {".mstiles"};
    rule.inputFolderWhat = "a tiles file the preview reads";
  }
  rule.replace = force ? ReplacePolicy::anyFile() : ReplacePolicy::nothing();
  rule.replaceHint = "use --force to replace it";
  return rule;
}

} // namespace

CLI::App* addPreviewCommand(CLI::App& app, PreviewOptions& options) {
  CLI::App* command = app.add_subcommand("preview", "Draw a screen as a game shows it with a pack");
  command->add_option("SCREEN", options.screenPath, "Screen file (.msscreen)")->required();
  command->add_option("PACK", options.packPath, "Hi-res ROM pack (.zrm)")->required();
  command->add_option("OUTPUT", options.outputPath, "PNG image to write")->required();
  command->add_flag("--compare", options.compare, "The screen enlarged without the pack beside the preview");
  command->add_flag("--json", options.json, "Print what was drawn as one JSON object");
  command->add_flag("--force", options.force, "Replace an existing image");
  return command;
}

int runPreview(const PreviewOptions& options, std::FILE* out, std::FILE* err) {
  const OutputRule rule = pngRule(options.packPath, options.screenPath, options.force);
  if (int refused = checkOutputOrSay(options.outputPath, rule, "preview", err)) return refused;
  ScreenFile screen;
  if (!loadScreenOrSay(screen, options.screenPath, err, "preview")) return kExitFailure;
  Result<PackTiles> pack = readPackTiles(options.packPath);
  if (!pack) return fail(err, "preview", pack.error());
  Result<Preview> preview = renderPreview(screen, *pack);
  if (!preview)
    return fail(err, "preview", Error{preview.error().cause, options.screenPath, preview.error().detail});

  RgbaImage written = std::move(preview->image);
  if (options.compare) {
    Result<RgbaImage> plain = renderPlain(screen, int(pack->scale));
    Result<RgbaImage> both = plain ? captionedSideBySide(*plain, written, kCompareGap, "without the pack",
                                                         "with the pack", textScaleFor(int(pack->scale)))
                                   : std::move(plain);
    if (!both)
      return fail(
          err, "preview",
          makeError(both.error().cause, options.outputPath, "the comparison: " + both.error().detail));
    written = std::move(*both);
  }
  if (Status saved = saveImageAtomically(written, ImageFormat::Png, options.outputPath, rule.replace);
      !saved) {
    sayError(err, "preview", outputFailure(saved.error(), rule));
    return kExitFailure;
  }

  if (options.json) {
    const PreviewCounts& c = preview->counts;
    Json info;
    info["kind"] = screen.background() ? "background" : "sprites";
    info["scale"] = pack->scale;
    info["width"] = written.width;
    info["height"] = written.height;
    info["fromPack"] = c.fromPack;
    info["replacedByArt"] = c.replacedByArt;
    info["missing"] = c.missing;
    info["unknown"] = c.unknown;
    if (!writeOutput(out, jsonText(info) + "\n", err, "preview")) return kExitFailure;
  }
  return kExitSuccess;
}

CLI::App* addSheetCommand(CLI::App& app, SheetOptions& options) {
  CLI::App* command = app.add_subcommand(
      "sheet", "Lay out every hi-res tile of a pack in a grid, or the tiles of a capture folder to paint");
  command->add_option("PACK", options.packPath, "Hi-res ROM pack (.zrm); with --to-paint, a capture folder")
      ->required();
  command->add_option("OUTPUT", options.outputPath, "PNG image to write")->required();
  command->add_option("--group", options.group, "Only this tile group, 0 to 8 (-1: every group)")
      ->check(CLI::Range(-1, 8));
  command->add_option("--columns", options.columns, "Tiles per row, 1 to 1024")->check(CLI::Range(1, 1024));
  command
      ->add_option("--page-height", options.pageHeight,
                   "Tallest page in pixels; further pages are written as OUTPUT-2.png, OUTPUT-3.png, ...")
      ->check(CLI::Range(256, 65536));
  command->add_flag("--json", options.json, "Print where every tile entry lies as one JSON object");
  command->add_flag("--force", options.force, "Replace an existing image");
  auto* toPaint = command->add_flag(
      "--to-paint", options.toPaint,
      "A sheet to paint of the folder's tiles as its images leave them, with its map (in the PNG and in "
      "OUTPUT's .json); the build imports it from its input folder");
  command->add_option("-s,--scale", options.scale, "With --to-paint: the build's scale, 1 to 4")
      ->check(CLI::Range(1, 4))
      ->needs(toPaint);
  command->add_flag("--unpainted", options.unpainted, "With --to-paint: only the tiles no image paints")
      ->needs(toPaint);
  command->add_option("--screen", options.screen, "With --to-paint: only the tiles this screen shows")
      ->needs(toPaint);
  return command;
}

int runSheet(const SheetOptions& options, std::FILE* out, std::FILE* err) {
  if (options.toPaint) return runPaintSheet(options, out, err);
  const OutputRule rule = pngRule(options.packPath, {}, options.force);
  if (int refused = checkOutputOrSay(options.outputPath, rule, "sheet", err)) return refused;
  Result<PackTiles> pack = readPackTiles(options.packPath);
  if (!pack) return fail(err, "sheet", pack.error());
  Result<Sheet> sheet = renderSheet(*pack, options.group, options.columns, options.pageHeight);
  if (!sheet) return fail(err, "sheet", Error{sheet.error().cause, options.packPath, sheet.error().detail});
  // Every page is checked before the first is written.
  std::vector<std::string> paths;
  for (std::size_t p = 0; p < sheet->pages.size(); ++p) {
    paths.push_back(sheetPagePath(options.outputPath, p));
    if (p == 0) continue;
    if (int refused = checkOutputOrSay(paths.back(), rule, "sheet", err)) return refused;
  }
  for (std::size_t p = 0; p < sheet->pages.size(); ++p)
    if (Status saved = saveImageAtomically(sheet->pages[p], ImageFormat::Png, paths[p], rule.replace);
        !saved) {
      sayError(err, "sheet", outputFailure(saved.error(), rule));
      return kExitFailure;
    }

  if (options.json) {
    Json info;
    info["scale"] = pack->scale;
    info["columns"] = options.columns;
    info["width"] = sheet->pages[0].width;
    info["height"] = sheet->pages[0].height;
    info["entryCount"] = sheet->entries.size();
    info["paintedCount"] = sheet->paintedEntries;
    info["tileCount"] = sheet->distinctTiles;
    Json pages = Json::array();
    for (std::size_t p = 0; p < sheet->pages.size(); ++p)
      pages.push_back(
          Json{{"path", paths[p]}, {"width", sheet->pages[p].width}, {"height", sheet->pages[p].height}});
    info["pages"] = std::move(pages);
    Json entries = Json::array();
    for (const SheetEntry& e : sheet->entries)
      entries.push_back(Json{{"group", e.group},
                             {"index", e.index},
                             {"page", e.page + 1},
                             {"x", e.x},
                             {"y", e.y},
                             {"tile", e.tile},
                             {"painted", e.painted}});
    info["entries"] = std::move(entries);
    if (!writeOutput(out, jsonText(info) + "\n", err, "sheet")) return kExitFailure;
  }
  return kExitSuccess;
}

} // namespace zelvo::cli
