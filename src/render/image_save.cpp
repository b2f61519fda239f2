#include "render/image_save.h"

#include <utility>

namespace zelvo {

namespace {

Result<AtomicSave> writeEncoded(Result<EncodedImage> encoded, const std::string& path,
                                ReplacePolicy replace) {
  if (!encoded) return encoded.error();
  auto save = AtomicSave::begin(path, std::move(replace));
  if (!save) return save.error();
  if (Status written = save->file().writeAll(encoded->bytes.get(), encoded->size); !written)
    return written.error();
  return save;
}

} // namespace

Result<AtomicSave> writeImageSave(const RgbaImage& image, ImageFormat format, const std::string& path,
                                  ReplacePolicy replace) {
  return writeEncoded(format == ImageFormat::Png ? encodePng(image, path) : encodeBmp(image, path), path,
                      std::move(replace));
}

Result<AtomicSave> writeAlphaBmpSave(const RgbaImage& image, const std::string& path, ReplacePolicy replace) {
  return writeEncoded(encodeAlphaBmp(image, path), path, std::move(replace));
}

Status saveImageAtomically(const RgbaImage& image, ImageFormat format, const std::string& path,
                           ReplacePolicy replace) {
  auto save = writeImageSave(image, format, path, std::move(replace));
  if (!save) return save.error();
  return save->commit();
}

Status saveBmpPair(const RgbaImage& image, const std::string& path, const std::string& alphaPath,
                   ReplacePolicy replace) {
  auto colour = writeImageSave(image, ImageFormat::Bmp, path, replace);
  if (!colour) return colour.error();
  auto mask = writeAlphaBmpSave(image, alphaPath, std::move(replace));
  if (!mask) return mask.error();
  return commitTogether(*colour, *mask);
}

} // namespace zelvo
