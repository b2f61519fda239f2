#include "viewer/screen_export.h"

#include "platform/fs.h"
#include "render/image_save.h"
#include "viewer/screen_render.h"

namespace zelvo {

namespace {

// Position of the '.' that starts the last component's extension, or npos.
std::size_t extensionDot(const std::string& path) {
  for (std::size_t i = path.size(); i-- > 0;) {
    if (isSeparator(path[i])) return std::string::npos;
    if (path[i] == '.') return i;
  }
  return std::string::npos;
}

} // namespace

bool exportFormatForFilter(int filterIndex, ExportFormat& format) {
  if (filterIndex == 1)
    format = ExportFormat::Png;
  else if (filterIndex == 2)
    format = ExportFormat::Bmp;
  else
    return false;
  return true;
}

const char* exportExtension(ExportFormat format) { return format == ExportFormat::Png ? ".png" : ".bmp"; }

std::string alphaPathFor(const std::string& target) {
  const std::size_t dot = extensionDot(target);
  if (dot == std::string::npos) return target + "_alpha";
  return target.substr(0, dot) + "_alpha" + target.substr(dot);
}

std::string proposedSaveName(const std::string& screenPath) {
  // The first character is never examined: a name like ".hidden" stays whole.
  for (std::size_t i = screenPath.size(); i-- > 1;) {
    if (screenPath[i] == '.') return screenPath.substr(0, i);
    if (isSeparator(screenPath[i])) return screenPath.substr(0, i + 1);
  }
  return screenPath;
}

std::string applySaveExtension(const std::string& name, ExportFormat format) {
  const char* extension = exportExtension(format);
  for (std::size_t i = name.size(); i-- > 0;) {
    if (isSeparator(name[i])) break;
    if (name[i] == '.' && equalsNoCase(name.substr(i), extension)) return name;
  }
  return name + extension;
}

Status renderAndSave(const ScreenFile& screen, int factor, ExportFormat format, bool spritesOnly,
                     const std::string& imagePath, const std::string& alphaPath,
                     const ReplacePolicy& replace) {
  Result<RgbaImage> image =
      spritesOnly ? renderSprites(screen, true, 0, factor) : renderBackground(screen, true, factor);
  if (!image)
    return makeError(image.error().cause, imagePath,
                     "the screen could not be rendered: " + image.error().detail);
  if (format == ExportFormat::Png) return saveImageAtomically(*image, ImageFormat::Png, imagePath, replace);
  return saveBmpPair(*image, imagePath, alphaPath, replace);
}

Status exportScreenImage(const ScreenFile& screen, int factor, ExportFormat format, bool spritesOnly,
                         const std::string& targetPath, const ReplacePolicy& replace) {
  const std::string alphaPath = alphaPathFor(targetPath);
  // Only files are replaced: a folder in the way fails the save before anything is written.
  if (isDirectory(targetPath)) return makeError(ErrorCause::InvalidArgument, targetPath, "is a folder");
  if (format == ExportFormat::Bmp && isDirectory(alphaPath))
    return makeError(ErrorCause::InvalidArgument, alphaPath, "is a folder");
  return renderAndSave(screen, factor, format, spritesOnly, targetPath, alphaPath, replace);
}

} // namespace zelvo
