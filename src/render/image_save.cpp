#include "render/image_save.h"

namespace zelvo {

namespace {

Result<AtomicSave> writeEncoded(Result<EncodedImage> encoded, const std::string& path) {
  if (!encoded) return encoded.error();
  auto save = AtomicSave::begin(path);
  if (!save) return save.error();
  if (!save->file().writeAll(encoded->bytes.get(), encoded->size)) return save->writeError();
  return save;
}

} // namespace

Result<AtomicSave> writeImageSave(const RgbaImage& image, ImageFormat format, const std::string& path) {
  return writeEncoded(format == ImageFormat::Png ? encodePng(image, path) : encodeBmp(image, path), path);
}

Result<AtomicSave> writeAlphaBmpSave(const RgbaImage& image, const std::string& path) {
  return writeEncoded(encodeAlphaBmp(image, path), path);
}

Status saveImageAtomically(const RgbaImage& image, ImageFormat format, const std::string& path) {
  auto save = writeImageSave(image, format, path);
  if (!save) return save.error();
  return save->commit();
}

Status saveBmpPair(const RgbaImage& image, const std::string& path, const std::string& alphaPath) {
  auto colour = writeImageSave(image, ImageFormat::Bmp, path);
  if (!colour) return colour.error();
  auto mask = writeAlphaBmpSave(image, alphaPath);
  if (!mask) return mask.error();
  return commitTogether(*colour, *mask);
}

} // namespace zelvo
