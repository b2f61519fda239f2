// The decoders behind render/image_read.h, one per file type. Each reads only `bytes`, checks
// every size and offset against it, and names `name` in its errors.
#pragma once

#include "render/image_read.h"

#include <memory>
#include <spng.h>

namespace zelvo {

// Whether `bytes` start with the type's signature.
bool looksLikePng(std::span<const std::uint8_t> bytes);
bool looksLikeBmp(std::span<const std::uint8_t> bytes);

Result<ImageInfo> readPngHeader(std::span<const std::uint8_t> bytes, const std::string& name);
// With `texts`, the text chunks are kept there.
Result<RgbaImage> decodePng(std::span<const std::uint8_t> bytes, const std::string& name,
                            std::vector<PngText>* texts = nullptr);

struct SpngContextFree {
  void operator()(spng_ctx* ctx) const { spng_ctx_free(ctx); }
};
using SpngContext = std::unique_ptr<spng_ctx, SpngContextFree>;
// The error of libspng's `code` about `name`.
Error pngError(int code, const std::string& name);

Result<ImageInfo> readBmpHeader(std::span<const std::uint8_t> bytes, const std::string& name);
Result<RgbaImage> decodeBmp(std::span<const std::uint8_t> bytes, const std::string& name);

// makeRgbaImage, or with its bytes left as they are when `zeroed` is false (for decoders that
// write every pixel).
Result<RgbaImage> allocateRgbaImage(std::uint32_t width, std::uint32_t height, const std::string& name,
                                    bool zeroed);

// The refusal of an image whose declared size exceeds kMaxImageSide (`type` is "PNG", "BMP").
Error tooLargeImage(const char* type, std::int64_t width, std::int64_t height, const std::string& name);

} // namespace zelvo
