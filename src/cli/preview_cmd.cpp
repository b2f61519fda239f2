// `zelvo preview`: a screen as a game shows it with a pack; `zelvo sheet`: every hi-res tile of a
// pack in a grid. Both write a PNG, and with --json describe what they drew.
#include "cli/commands.h"

#include "pipeline/pack_read.h"
#include "render/image_save.h"
#include "tiles/screen_file.h"
#include "viewer/pack_preview.h"

#include <nlohmann/json.hpp>

namespace zelvo::cli {

namespace {

using Json = nlohmann::ordered_json;

constexpr int kCompareGap = 4; // pixels between the plain enlargement and the preview

int fail(std::FILE* err, const char* command, const Error& error) {
  std::fprintf(err, "zelvo %s: %s\n", command, error.message().c_str());
  return 1;
}

} // namespace

int runPreview(const PreviewOptions& options, std::FILE* out, std::FILE* err) {
  ScreenFile screen;
  if (!loadScreenFile(screen, options.screenPath)) {
    std::fprintf(err, "zelvo preview: %s: cannot load the screen file (or the tiles file beside it)\n",
                 options.screenPath.c_str());
    return 1;
  }
  Result<PackTiles> pack = readPackTiles(options.packPath);
  if (!pack) return fail(err, "preview", pack.error());
  Result<Preview> preview = renderPreview(screen, *pack);
  if (!preview)
    return fail(err, "preview", Error{preview.error().cause, options.screenPath, preview.error().detail});

  RgbaImage written = std::move(preview->image);
  if (options.compare) {
    Result<RgbaImage> plain = renderPlain(screen, int(pack->scale));
    Result<RgbaImage> both = plain ? sideBySide(*plain, written, kCompareGap) : std::move(plain);
    if (!both)
      return fail(
          err, "preview",
          makeError(both.error().cause, options.outputPath, "the comparison: " + both.error().detail));
    written = std::move(*both);
  }
  if (Status saved = saveImageAtomically(written, ImageFormat::Png, options.outputPath); !saved)
    return fail(err, "preview", saved.error());

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
    std::fprintf(out, "%s\n", info.dump(2).c_str());
  }
  return 0;
}

int runSheet(const SheetOptions& options, std::FILE* out, std::FILE* err) {
  Result<PackTiles> pack = readPackTiles(options.packPath);
  if (!pack) return fail(err, "sheet", pack.error());
  Result<Sheet> sheet = renderSheet(*pack, options.group, options.columns);
  if (!sheet) return fail(err, "sheet", Error{sheet.error().cause, options.packPath, sheet.error().detail});
  if (Status saved = saveImageAtomically(sheet->image, ImageFormat::Png, options.outputPath); !saved)
    return fail(err, "sheet", saved.error());

  if (options.json) {
    Json info;
    info["scale"] = pack->scale;
    info["columns"] = options.columns;
    info["width"] = sheet->image.width;
    info["height"] = sheet->image.height;
    info["entryCount"] = sheet->entries.size();
    info["tileCount"] = sheet->distinctTiles;
    Json entries = Json::array();
    for (const SheetEntry& e : sheet->entries)
      entries.push_back(
          Json{{"group", e.group}, {"index", e.index}, {"x", e.x}, {"y", e.y}, {"tile", e.tile}});
    info["entries"] = std::move(entries);
    std::fprintf(out, "%s\n", info.dump(2).c_str());
  }
  return 0;
}

} // namespace zelvo::cli
