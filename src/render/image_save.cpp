#include "render/image_save.h"

#include <memory>
#include <utility>

namespace zelvo {

namespace {

struct MemoryCloser {
  void operator()(FIMEMORY* memory) const { FreeImage_CloseMemory(memory); }
};

} // namespace

Result<AtomicSave> writeImageSave(FIBITMAP* image, FREE_IMAGE_FORMAT format, const std::string& path,
                                  ReplacePolicy replace) {
  std::unique_ptr<FIMEMORY, MemoryCloser> memory(FreeImage_OpenMemory(nullptr, 0));
  if (!memory) return makeError(ErrorCause::OutOfMemory, path, "no memory to encode the image");
  BYTE* data = nullptr;
  DWORD size = 0;
  if (!image || !FreeImage_SaveToMemory(format, image, memory.get(), 0) ||
      !FreeImage_AcquireMemory(memory.get(), &data, &size))
    return makeError(ErrorCause::WriteFailed, path, "the image could not be encoded");
  auto save = AtomicSave::begin(path, std::move(replace));
  if (!save) return save.error();
  if (!save->file().writeAll(data, size)) return save->writeError();
  return save;
}

Status saveImageAtomically(FIBITMAP* image, FREE_IMAGE_FORMAT format, const std::string& path,
                           ReplacePolicy replace) {
  auto save = writeImageSave(image, format, path, std::move(replace));
  if (!save) return save.error();
  return save->commit();
}

} // namespace zelvo
