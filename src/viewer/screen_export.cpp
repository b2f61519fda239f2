#include "viewer/screen_export.h"

#include "platform/file.h"
#include "platform/fs.h"
#include "platform/temp_files.h"
#include "render/freeimage_ptr.h"
#include "viewer/screen_render.h"

#include <cctype>

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

bool equalsIgnoringCase(const std::string& a, const char* b) {
  std::size_t i = 0;
  for (; i < a.size() && b[i]; ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return i == a.size() && !b[i];
}

// Whether the file could be opened and holds at least one byte.
bool hasContent(const std::string& path) {
  File file = File::openRead(path);
  std::uint64_t size = 0;
  return file && file.size(size) && size > 0;
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
    if (name[i] == '.' && equalsIgnoringCase(name.substr(i), extension)) return name;
  }
  return name + extension;
}

bool renderAndWrite(const ScreenFile& screen, int factor, ExportFormat format, bool spritesOnly,
                    const std::string& imagePath, const std::string& alphaPath) {
  FiBitmap image =
      spritesOnly ? renderSprites(screen, true, 0, factor) : renderBackground(screen, true, factor);
  if (!image) return false;
  if (format == ExportFormat::Png) return FreeImage_Save(FIF_PNG, image.get(), imagePath.c_str(), 0) != FALSE;

  FiBitmap image24(FreeImage_ConvertTo24Bits(image.get()));
  if (!image24) return false;
  if (!FreeImage_Save(FIF_BMP, image24.get(), imagePath.c_str(), 0)) return false;
  image24.reset();
  FiBitmap alpha(FreeImage_GetChannel(image.get(), FICC_ALPHA));
  if (!alpha) return true; // the image stands without its alpha image
  return FreeImage_Save(FIF_BMP, alpha.get(), alphaPath.c_str(), 0) != FALSE;
}

bool saveScreenFiles(const ScreenFile& screen, int factor, ExportFormat format, bool spritesOnly,
                     const std::string& targetPath) {
  const std::string alphaPath = alphaPathFor(targetPath);
  const bool bmp = format == ExportFormat::Bmp;
  // Only files are replaced: a folder in the way fails the save before anything is written.
  if (isDirectory(targetPath) || (bmp && isDirectory(alphaPath))) return false;

  // The new files are written completely beside the target first, whether or not it exists;
  // each then replaces its old counterpart (or appears) in one rename, so every failure before
  // that leaves the old files as they were and removes the temporary ones.
  std::string imageName, alphaName;
  if (!TempFileBeside(targetPath, imageName)) return false;
  TempFileGuard imageTemp(imageName);
  TempFileGuard alphaTemp;
  if (bmp) {
    if (!TempFileBeside(targetPath, alphaName)) return false;
    alphaTemp = TempFileGuard(alphaName);
  }
  if (!renderAndWrite(screen, factor, format, spritesOnly, imageName, alphaName)) return false;

  // A PNG, or a BMP without its alpha channel: any alpha image of the target stays as it is.
  const bool withAlpha = bmp && hasContent(alphaName);
  // The temporary files are private to their owner; the images get the permissions of the
  // files they replace, or those of any new file.
  giveNewFilePermissions(imageName, targetPath);
  if (withAlpha) giveNewFilePermissions(alphaName, alphaPath);

  if (!replaceFile(imageName, targetPath)) return false;
  imageTemp.release();
  if (!withAlpha) return true;
  if (!replaceFile(alphaName, alphaPath)) return false;
  alphaTemp.release();
  return true;
}

} // namespace zelvo
