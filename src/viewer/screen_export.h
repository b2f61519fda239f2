// Save Bitmap: a screen rendered with transparency at 1x to 4x and written as an image an artist
// can paint over: a PNG with its alpha channel inside, or a 24-bit BMP beside an 8-bit "_alpha"
// BMP holding the alpha channel. These are the images the build's tile replacement reads back.
#pragma once

#include "platform/atomic_save.h"
#include "platform/error.h"
#include "render/rgba_image.h"
#include "tiles/screen_file.h"

#include <string>

namespace zelvo {

using ExportFormat = ImageFormat;

// The save dialog's types, by the 1-based index of the filter chosen: 1 PNG, 2 BMP. False for
// any other index.
bool exportFormatForFilter(int filterIndex, ExportFormat& format);
// ".png" or ".bmp".
const char* exportExtension(ExportFormat format);

// The alpha image beside `target`: "_alpha" inserted before the extension of the last path
// component (shot.bmp gives shot_alpha.bmp), or appended when it has none.
std::string alphaPathFor(const std::string& target);

// The name the save dialog proposes for a screen file: the path without its extension; a path
// whose last component has no extension proposes its folder only (up to its last separator).
std::string proposedSaveName(const std::string& screenPath);

// The chosen name, unchanged when its last component already ends in the type's extension (any
// case), else with the extension appended.
std::string applySaveExtension(const std::string& name, ExportFormat format);

// Renders the screen with transparency (its sprites when `spritesOnly`, else its background) and
// saves `imagePath` (and, for BMP, `alphaPath`). Each file appears or replaces its old
// counterpart only complete and on disk; a BMP and its alpha image replace theirs together. A
// failure leaves the old files as they were (or absent, when they were) and no temporary file.
// `replace`: what each file may replace.
Status renderAndSave(const ScreenFile& screen, int factor, ExportFormat format, bool spritesOnly,
                     const std::string& imagePath, const std::string& alphaPath,
                     const ReplacePolicy& replace = ReplacePolicy::anyFile());

// Saves the export as `targetPath` and, for BMP, its alpha path (renderAndSave). A PNG leaves an
// existing "_alpha" image alone. A folder at either path fails the save. The files get the
// permissions of those they replace, or those of any new file.
Status exportScreenImage(const ScreenFile& screen, int factor, ExportFormat format, bool spritesOnly,
                         const std::string& targetPath,
                         const ReplacePolicy& replace = ReplacePolicy::anyFile());

} // namespace zelvo
