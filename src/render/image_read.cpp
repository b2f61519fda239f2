#include "render/image_read.h"

#include "platform/file.h"
#include "render/image_codecs.h"

#include <new>
#include <string>

namespace zelvo {

namespace {

std::string hexStart(std::span<const std::uint8_t> bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string text;
  for (std::size_t i = 0; i < bytes.size() && i < 4; ++i) {
    if (i) text += ' ';
    text += digits[bytes[i] >> 4];
    text += digits[bytes[i] & 15];
  }
  return text;
}

Error unknownType(std::span<const std::uint8_t> bytes, const std::string& name) {
  if (bytes.empty()) return makeError(ErrorCause::Truncated, name, "the file is empty");
  const char* other = nullptr;
  if (bytes.size() >= 3 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF) other = "a JPEG image";
  if (bytes.size() >= 4 && bytes[0] == 'G' && bytes[1] == 'I' && bytes[2] == 'F' && bytes[3] == '8')
    other = "a GIF image";
  if (other)
    return makeError(ErrorCause::Unsupported, name, std::string(other) + "; only PNG and BMP are read");
  return makeError(ErrorCause::BadFormat, name,
                   "not a PNG or BMP image (it starts with " + hexStart(bytes) + ")");
}

} // namespace

Error tooLargeImage(const char* type, std::int64_t width, std::int64_t height, const std::string& name) {
  return makeError(ErrorCause::LimitExceeded, name,
                   std::string(type) + " claims " + std::to_string(width) + " x " + std::to_string(height) +
                       " pixels; at most " + std::to_string(kMaxImageSide) + " x " +
                       std::to_string(kMaxImageSide));
}

Result<ImageInfo> readImageHeader(std::span<const std::uint8_t> bytes, const std::string& name) {
  if (looksLikePng(bytes)) return readPngHeader(bytes, name);
  if (looksLikeBmp(bytes)) return readBmpHeader(bytes, name);
  return unknownType(bytes, name);
}

Result<RgbaImage> readImageFromMemory(std::span<const std::uint8_t> bytes, const std::string& name,
                                      std::vector<PngText>* texts) {
  if (texts) texts->clear();
  if (bytes.size() > kMaxImageFileBytes)
    return makeError(ErrorCause::LimitExceeded, name,
                     "the file holds " + std::to_string(bytes.size()) + " bytes; images of at most " +
                         std::to_string(kMaxImageFileBytes >> 20) + " MB are read");
  if (looksLikePng(bytes)) return decodePng(bytes, name, texts);
  if (looksLikeBmp(bytes)) return decodeBmp(bytes, name);
  return unknownType(bytes, name);
}

Result<ImageInfo> readImageHeader(const std::string& path) {
  Result<File> file = File::openRead(path, "reading");
  if (!file) return file.error();
  std::uint8_t start[kImageHeaderBytes];
  Result<std::size_t> got = file->read(start, sizeof start);
  if (!got) return got.error();
  return readImageHeader(std::span<const std::uint8_t>(start, *got), path);
}

Result<RgbaImage> readImage(const std::string& path, std::vector<PngText>* texts) {
  Result<File> opened = File::openRead(path, "reading");
  if (!opened) return opened.error();
  File& file = *opened;
  const Result<std::uint64_t> sized = file.size();
  if (!sized) return sized.error();
  const std::uint64_t size = *sized;

  // The header decides before the rest of the file is read.
  std::uint8_t start[kImageHeaderBytes];
  Result<std::size_t> got = file.read(start, sizeof start);
  if (!got) return got.error();
  if (Result<ImageInfo> info = readImageHeader(std::span<const std::uint8_t>(start, *got), path); !info)
    return info.error();
  if (size > kMaxImageFileBytes)
    return makeError(ErrorCause::LimitExceeded, path,
                     "the file holds " + std::to_string(size) + " bytes; images of at most " +
                         std::to_string(kMaxImageFileBytes >> 20) + " MB are read");

  std::unique_ptr<std::uint8_t[]> bytes(new (std::nothrow) std::uint8_t[std::size_t(size)]);
  if (!bytes) return makeError(ErrorCause::OutOfMemory, path, "no memory to read the file");
  if (Status read = file.readAt(bytes.get(), std::size_t(size), 0); !read) {
    if (read.error().cause != ErrorCause::Truncated) return read.error();
    return makeError(ErrorCause::Truncated, path, "the file became shorter while it was read");
  }
  return readImageFromMemory(std::span<const std::uint8_t>(bytes.get(), std::size_t(size)), path, texts);
}

} // namespace zelvo
