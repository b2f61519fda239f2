// zelvo export: what Save Bitmap writes for a screen, or with --display the image the viewer shows.
#include "cli/commands.h"

#include "render/freeimage_ptr.h"
#include "render/image_save.h"
#include "tiles/screen_file.h"
#include "viewer/screen_export.h"
#include "viewer/screen_render.h"

#include <cctype>

namespace zelvo::cli {

namespace {

// The format named by the output's extension (any case), or false.
bool formatOfOutput(const std::string& path, ExportFormat& format) {
  const std::size_t dot = path.find_last_of('.');
  const std::size_t slash = path.find_last_of("/\\");
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return false;
  std::string extension = path.substr(dot);
  for (char& c : extension) c = char(std::tolower(static_cast<unsigned char>(c)));
  if (extension == ".png")
    format = ExportFormat::Png;
  else if (extension == ".bmp")
    format = ExportFormat::Bmp;
  else
    return false;
  return true;
}

} // namespace

int runExport(const ExportOptions& options, std::FILE*, std::FILE* err) {
  ExportFormat format = ExportFormat::Png;
  if (!options.display && !formatOfOutput(options.outputPath, format)) {
    std::fprintf(err, "zelvo export: %s: the output must end in .png or .bmp\n", options.outputPath.c_str());
    return 2;
  }
  if (options.factor < 1 || options.factor > 4) {
    std::fprintf(err, "zelvo export: the factor must be 1 to 4\n");
    return 2;
  }

  FreeImageSession images;
  ScreenFile screen;
  if (!loadScreenFile(screen, options.screenPath)) {
    std::fprintf(err, "zelvo export: %s: cannot load the screen file (or the tiles file beside it)\n",
                 options.screenPath.c_str());
    return 1;
  }

  if (options.display) {
    FiBitmap image = renderForDisplay(screen);
    if (!image) {
      std::fprintf(err, "zelvo export: %s: the screen has neither background nor sprites to show\n",
                   options.screenPath.c_str());
      return 1;
    }
    // The viewer ignores the alpha byte of its image (0 throughout): the file is written opaque.
    FiBitmap shown(FreeImage_ConvertTo24Bits(image.get()));
    const Status saved = saveImageAtomically(shown.get(), FIF_PNG, options.outputPath);
    if (!saved) {
      std::fprintf(err, "zelvo export: %s\n", saved.error().message().c_str());
      return 1;
    }
    return 0;
  }

  const bool spritesOnly = screen.background() == nullptr;
  const Status saved = exportScreenImage(screen, options.factor, format, spritesOnly, options.outputPath);
  if (!saved) {
    std::fprintf(err, "zelvo export: %s\n", saved.error().message().c_str());
    return 1;
  }
  return 0;
}

} // namespace zelvo::cli
