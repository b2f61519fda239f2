// Images the program makes, saved as files. The image library does not report a short write of
// its own, so an image is encoded in memory first and then written through an AtomicSave: a
// save that fails at any point leaves the old file as it was.
#pragma once

#include "platform/atomic_save.h"
#include "platform/error.h"

#include <FreeImage.h>
#include <string>

namespace zelvo {

// Encodes `image` as `format` (PNG or BMP) and writes it into a new save of `path`, which the
// caller commits (alone, or together with another). `replace`: what the save may replace.
Result<AtomicSave> writeImageSave(FIBITMAP* image, FREE_IMAGE_FORMAT format, const std::string& path,
                                  ReplacePolicy replace = ReplacePolicy::anyFile());

// Saves `image` as `format` as the whole new content of `path`.
Status saveImageAtomically(FIBITMAP* image, FREE_IMAGE_FORMAT format, const std::string& path,
                           ReplacePolicy replace = ReplacePolicy::anyFile());

} // namespace zelvo
