// PNG through libspng: every colour type and bit depth to 8-bit RGBA, the transparency chunk
// applied, 16-bit samples taken by their high byte. Gamma, chromaticities, sRGB and ICC profile
// chunks are read past and never applied.
#include "render/image_codecs.h"

#include <cstring>

namespace zelvo {

namespace {

// Bounds on what the decoder keeps of ancillary chunks (text, profiles, unknown chunks): an
// image whose metadata needs more is refused. Image data is read from the buffer in place.
constexpr std::size_t kChunkLimit = std::size_t(4) << 20;
constexpr std::size_t kChunkCacheLimit = std::size_t(4) << 20;

} // namespace

Error pngError(int code, const std::string& name) {
  ErrorCause cause = ErrorCause::BadFormat;
  switch (code) {
  case SPNG_EMEM:
    cause = ErrorCause::OutOfMemory;
    break;
  case SPNG_IO_EOF:
  case SPNG_EOF:
  case SPNG_EIDAT_TOO_SHORT:
    cause = ErrorCause::Truncated;
    break;
  case SPNG_ECHUNK_LIMITS:
  case SPNG_EUSER_WIDTH:
  case SPNG_EUSER_HEIGHT:
    cause = ErrorCause::LimitExceeded;
    break;
  case SPNG_ECHUNK_CRC:
    cause = ErrorCause::DigestMismatch;
    break;
  default:
    break;
  }
  std::string detail = "PNG ";
  detail += code == SPNG_IO_EOF || code == SPNG_EOF ? "ends before its last chunk" : spng_strerror(code);
  return makeError(cause, name, std::move(detail));
}

namespace {

const char* colourTypeName(std::uint8_t type) {
  switch (type) {
  case SPNG_COLOR_TYPE_GRAYSCALE:
    return "grey";
  case SPNG_COLOR_TYPE_TRUECOLOR:
    return "RGB";
  case SPNG_COLOR_TYPE_INDEXED:
    return "palette";
  case SPNG_COLOR_TYPE_GRAYSCALE_ALPHA:
    return "grey+alpha";
  case SPNG_COLOR_TYPE_TRUECOLOR_ALPHA:
    return "RGBA";
  }
  return "?";
}

// A decoder on `bytes` that has read and accepted the header.
Result<SpngContext> open(std::span<const std::uint8_t> bytes, const std::string& name, ImageInfo& info) {
  SpngContext ctx(spng_ctx_new(0));
  if (!ctx) return makeError(ErrorCause::OutOfMemory, name, "no memory for a PNG decoder");
  int code = spng_set_png_buffer(ctx.get(), bytes.data(), bytes.size());
  if (!code) code = spng_set_chunk_limits(ctx.get(), kChunkLimit, kChunkCacheLimit);
  if (code) return pngError(code, name);
  spng_ihdr ihdr{};
  if ((code = spng_get_ihdr(ctx.get(), &ihdr)) != 0) return pngError(code, name);
  if (ihdr.width > kMaxImageSide || ihdr.height > kMaxImageSide)
    return tooLargeImage("PNG", ihdr.width, ihdr.height, name);
  info.format = ImageFormat::Png;
  info.width = ihdr.width;
  info.height = ihdr.height;
  info.kind = "PNG, " + std::to_string(ihdr.bit_depth) + "-bit " + colourTypeName(ihdr.color_type);
  if (ihdr.interlace_method) info.kind += ", interlaced";
  return ctx;
}

} // namespace

bool looksLikePng(std::span<const std::uint8_t> bytes) {
  static const std::uint8_t signature[8] = {137, 80, 78, 71, 13, 10, 26, 10};
  return bytes.size() >= 8 && std::memcmp(bytes.data(), signature, 8) == 0;
}

Result<ImageInfo> readPngHeader(std::span<const std::uint8_t> bytes, const std::string& name) {
  ImageInfo info;
  Result<SpngContext> ctx = open(bytes, name, info);
  if (!ctx) return ctx.error();
  return info;
}

Result<RgbaImage> decodePng(std::span<const std::uint8_t> bytes, const std::string& name,
                            std::vector<PngText>* texts) {
  ImageInfo info;
  Result<SpngContext> ctx = open(bytes, name, info);
  if (!ctx) return ctx.error();
  std::size_t size = 0;
  int code = spng_decoded_image_size(ctx->get(), SPNG_FMT_RGBA8, &size);
  if (code) return pngError(code, name);
  Result<RgbaImage> image = allocateRgbaImage(info.width, info.height, name, false); // every byte decoded
  if (!image) return image;
  if (size != image->byteCount()) return pngError(SPNG_EINTERNAL, name);
  // No SPNG_DECODE_GAMMA: the samples are taken as stored.
  code = spng_decode_image(ctx->get(), image->pixels.get(), size, SPNG_FMT_RGBA8, SPNG_DECODE_TRNS);
  // The chunks after the image data, up to the end chunk: a file cut short is refused even when
  // its pixels happen to be complete.
  if (!code) code = spng_decode_chunks(ctx->get());
  if (code) return pngError(code, name);
  if (texts) {
    std::uint32_t count = 0;
    // SPNG_ECHUNKAVAIL: the image has no text chunk.
    if (spng_get_text(ctx->get(), nullptr, &count) == 0 && count > 0) {
      std::vector<spng_text> chunks(count);
      if ((code = spng_get_text(ctx->get(), chunks.data(), &count)) != 0) return pngError(code, name);
      texts->clear();
      for (const spng_text& chunk : chunks)
        texts->push_back({std::string(chunk.keyword), std::string(chunk.text, chunk.length)});
    }
  }
  return image;
}

} // namespace zelvo
