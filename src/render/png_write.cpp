// PNG through libspng's encoder, row by row: RGB rows are made from the RGBA rows one at a time.
#include "render/image_codecs.h"
#include "render/image_save.h"

#include <memory>
#include <new>
#include <vector>

namespace zelvo {

namespace {

constexpr std::uint32_t kDotsPerMetre = 2835; // 72 dots per inch

} // namespace

Result<EncodedImage> encodePng(const RgbaImage& image, const std::string& name,
                               std::span<const PngText> texts) {
  SpngContext ctx(spng_ctx_new(SPNG_CTX_ENCODER));
  if (!ctx) return makeError(ErrorCause::OutOfMemory, name, "no memory for a PNG encoder");
  const bool alpha = !isOpaque(image);
  spng_ihdr ihdr{};
  ihdr.width = image.width;
  ihdr.height = image.height;
  ihdr.bit_depth = 8;
  ihdr.color_type = alpha ? SPNG_COLOR_TYPE_TRUECOLOR_ALPHA : SPNG_COLOR_TYPE_TRUECOLOR;
  spng_phys phys{kDotsPerMetre, kDotsPerMetre, 1};
  int code = spng_set_option(ctx.get(), SPNG_ENCODE_TO_BUFFER, 1);
  if (!code) code = spng_set_ihdr(ctx.get(), &ihdr);
  if (!code) code = spng_set_phys(ctx.get(), &phys);
  // libspng copies the chunks it is given: `chunks` only lends it the texts.
  std::vector<spng_text> chunks(texts.size());
  for (std::size_t i = 0; i < texts.size() && !code; ++i) {
    if (texts[i].keyword.empty() || texts[i].keyword.size() >= sizeof chunks[i].keyword)
      return makeError(ErrorCause::InvalidArgument, name, "a PNG text keyword holds 1 to 79 characters");
    texts[i].keyword.copy(chunks[i].keyword, sizeof chunks[i].keyword - 1);
    chunks[i].type = SPNG_ZTXT;
    chunks[i].length = texts[i].text.size();
    chunks[i].text = const_cast<char*>(texts[i].text.data());
  }
  if (!code && !chunks.empty()) code = spng_set_text(ctx.get(), chunks.data(), std::uint32_t(chunks.size()));
  if (!code)
    code = spng_encode_image(ctx.get(), nullptr, 0, SPNG_FMT_PNG,
                             SPNG_ENCODE_PROGRESSIVE | SPNG_ENCODE_FINALIZE);
  if (code) return pngError(code, name);

  const std::size_t rgbBytes = std::size_t(image.width) * 3;
  std::unique_ptr<std::uint8_t[]> rgb(alpha ? nullptr : new (std::nothrow) std::uint8_t[rgbBytes]);
  if (!alpha && !rgb) return makeError(ErrorCause::OutOfMemory, name, "no memory to encode the image");
  for (std::uint32_t y = 0; y < image.height && !code; ++y) {
    const std::uint8_t* row = image.row(y);
    if (alpha) {
      code = spng_encode_row(ctx.get(), row, std::size_t(image.width) * 4);
      continue;
    }
    for (std::uint32_t x = 0; x < image.width; ++x)
      for (int c = 0; c < 3; ++c) rgb[std::size_t(x) * 3 + c] = row[std::size_t(x) * 4 + c];
    code = spng_encode_row(ctx.get(), rgb.get(), rgbBytes);
  }
  if (code != SPNG_EOI) return pngError(code ? code : SPNG_EINTERNAL, name);

  EncodedImage out;
  int error = 0;
  out.bytes.reset(static_cast<std::uint8_t*>(spng_get_png_buffer(ctx.get(), &out.size, &error)));
  if (!out.bytes) return pngError(error ? error : SPNG_EMEM, name);
  return out;
}

} // namespace zelvo
