// A compact, bounded BMP decoder: Windows headers of 40, 52, 56, 108 and 124 bytes and the OS/2
// header of 12 bytes; 1, 4 and 8 bits with a palette (uncompressed, RLE8, RLE4); 16 and 32 bits
// with bit masks (default or BI_BITFIELDS / BI_ALPHABITFIELDS); 24 bits; rows bottom-up or
// top-down. Colour spaces, gamma and profiles in the larger headers are ignored.
//
// Alpha: a 32-bit BI_RGB image takes its fourth byte as alpha unless every one of them is 0, in
// which case the image is opaque (writers that treat the byte as padding leave it 0). With bit
// masks, alpha comes from the alpha mask, and an image without one is opaque. Palette entries
// carry no alpha. Pixels that an RLE stream skips (delta moves, rows ended early) stay
// transparent black.
#include "render/image_codecs.h"

#include "platform/byte_io.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <string>

namespace zelvo {

namespace {

constexpr std::uint32_t kBiRgb = 0;
constexpr std::uint32_t kBiRle8 = 1;
constexpr std::uint32_t kBiRle4 = 2;
constexpr std::uint32_t kBiBitfields = 3;
constexpr std::uint32_t kBiJpeg = 4;
constexpr std::uint32_t kBiPng = 5;
constexpr std::uint32_t kBiAlphaBitfields = 6;

constexpr std::size_t kFileHeaderBytes = 14;

Error bmpError(ErrorCause cause, const std::string& name, const std::string& detail) {
  return makeError(cause, name, "BMP " + detail);
}

// One channel's bit mask: where its bits lie and how to widen them to 8 bits.
struct Channel {
  std::uint32_t mask = 0;
  int shift = 0;
  std::uint32_t max = 0; // the largest value of the channel's bits

  // The channel's value in `pixel`, scaled to 0..255 with rounding (8-bit channels unchanged).
  std::uint8_t of(std::uint32_t pixel) const {
    const std::uint32_t v = (pixel & mask) >> shift;
    if (max == 255) return std::uint8_t(v);
    return std::uint8_t((std::uint64_t(v) * 255 + max / 2) / max);
  }
};

struct Layout {
  ImageInfo info;
  std::uint32_t headerSize = 0;
  std::uint32_t bits = 0;
  std::uint32_t compression = kBiRgb;
  bool topDown = false;
  Channel red, green, blue, alpha; // 16 and 32 bits
  bool alphaIfAnyNonZero = false;  // 32-bit BI_RGB
  std::size_t paletteOffset = 0;
  std::size_t paletteEntryBytes = 4;
  std::uint32_t paletteCount = 0;
  std::size_t pixelOffset = 0;
};

const char* compressionName(std::uint32_t compression) {
  switch (compression) {
  case kBiRgb:
    return "uncompressed";
  case kBiRle8:
    return "RLE8";
  case kBiRle4:
    return "RLE4";
  case kBiBitfields:
    return "bit fields";
  case kBiAlphaBitfields:
    return "alpha bit fields";
  }
  return "?";
}

// Checks a mask: contiguous bits within the pixel. An empty mask is accepted only for alpha.
bool makeChannel(std::uint32_t mask, std::uint32_t bits, bool optional, Channel& out) {
  if (mask == 0) {
    out = Channel{};
    return optional;
  }
  if (bits < 32 && (mask >> bits) != 0) return false;
  const int shift = std::countr_zero(mask);
  const std::uint32_t value = mask >> shift;
  if ((value & (value + 1)) != 0) return false; // not contiguous
  out = Channel{mask, shift, value};
  return true;
}

// What the file header and the info header say, before it is checked.
struct Header {
  std::uint32_t pixelOffset = 0, headerSize = 0;
  std::int64_t width = 0, height = 0;
  std::uint16_t planes = 0, bits = 0;
  std::uint32_t compression = kBiRgb, clrUsed = 0;
  std::uint32_t masks[4] = {}; // red, green, blue, alpha, where the header holds them
};

Status checkHeaderSize(std::uint32_t headerSize, const std::string& name) {
  switch (headerSize) {
  case 12:
  case 40:
  case 52:
  case 56:
  case 108:
  case 124:
    return {};
  case 64:
    return bmpError(ErrorCause::Unsupported, name, "with an OS/2 2.x header (64 bytes) is not read");
  default:
    return bmpError(ErrorCause::Unsupported, name,
                    "header of " + std::to_string(headerSize) +
                        " bytes is not read (12, 40, 52, 56, 108 or 124)");
  }
}

// The file header and the info header (the OS/2 one or the Windows ones); `in` then stands
// within the info header.
Result<Header> readHeaders(ByteReader& in, const std::string& name) {
  Header h;
  std::uint16_t magic = 0;
  std::uint32_t fileSize = 0, reserved = 0;
  if (!in.u16(magic) || !in.u32(fileSize) || !in.u32(reserved) || !in.u32(h.pixelOffset) ||
      !in.u32(h.headerSize))
    return bmpError(ErrorCause::Truncated, name, "ends inside its file header");
  if (magic != 0x4D42) return bmpError(ErrorCause::BadFormat, name, "signature missing");
  if (Status s = checkHeaderSize(h.headerSize, name); !s) return s.error();
  if (in.remaining() < h.headerSize - 4)
    return bmpError(ErrorCause::Truncated, name,
                    "ends inside its " + std::to_string(h.headerSize) + "-byte header");
  if (h.headerSize == 12) {
    std::uint16_t w = 0, hi = 0;
    (void)(in.u16(w) && in.u16(hi) && in.u16(h.planes) && in.u16(h.bits));
    h.width = w;
    h.height = hi;
    return h;
  }
  std::uint32_t w = 0, hi = 0, sizeImage = 0, xppm = 0, yppm = 0, important = 0;
  (void)(in.u32(w) && in.u32(hi) && in.u16(h.planes) && in.u16(h.bits) && in.u32(h.compression) &&
         in.u32(sizeImage) && in.u32(xppm) && in.u32(yppm) && in.u32(h.clrUsed) && in.u32(important));
  h.width = std::int32_t(w);
  h.height = std::int32_t(hi);
  const int inHeader = h.headerSize >= 56 ? 4 : h.headerSize >= 52 ? 3 : 0;
  for (int i = 0; i < inHeader; ++i) (void)in.u32(h.masks[i]);
  return h;
}

// The planes and the size: rows from the top when the height is negative.
Status takeSize(const Header& h, Layout& l, const std::string& name) {
  if (h.planes != 1)
    return bmpError(ErrorCause::BadFormat, name,
                    "header gives " + std::to_string(h.planes) + " colour planes; 1 is the only valid value");
  std::int64_t width = h.width, height = h.height;
  if (width <= 0 || height == 0)
    return bmpError(ErrorCause::BadFormat, name,
                    "claims " + std::to_string(width) + " x " + std::to_string(height) + " pixels");
  l.topDown = height < 0;
  if (l.topDown) height = -height;
  if (width > kMaxImageSide || height > kMaxImageSide) return tooLargeImage("BMP", width, height, name);
  l.info.format = ImageFormat::Bmp;
  l.info.width = std::uint32_t(width);
  l.info.height = std::uint32_t(height);
  return {};
}

// Which depth goes with which compression.
Status checkDepth(const Layout& l, const std::string& name) {
  const std::uint32_t c = l.compression, bits = l.bits;
  bool valid = false;
  switch (bits) {
  case 1:
  case 24:
    valid = c == kBiRgb;
    break;
  case 4:
    valid = c == kBiRgb || c == kBiRle4;
    break;
  case 8:
    valid = c == kBiRgb || c == kBiRle8;
    break;
  case 16:
  case 32:
    valid = c == kBiRgb || c == kBiBitfields || c == kBiAlphaBitfields;
    break;
  default:
    return bmpError(ErrorCause::Unsupported, name,
                    "of " + std::to_string(bits) + " bits per pixel is not read");
  }
  if (l.headerSize == 12 && bits != 1 && bits != 4 && bits != 8 && bits != 24)
    return bmpError(ErrorCause::BadFormat, name,
                    "with a 12-byte header cannot have " + std::to_string(bits) + " bits per pixel");
  if (c == kBiJpeg || c == kBiPng)
    return bmpError(ErrorCause::Unsupported, name,
                    std::string("holding a ") + (c == kBiJpeg ? "JPEG" : "PNG") + " image is not read");
  if (!valid) {
    if (c > kBiAlphaBitfields)
      return bmpError(ErrorCause::Unsupported, name, "compression " + std::to_string(c) + " is not read");
    return bmpError(ErrorCause::BadFormat, name,
                    std::string(compressionName(c)) + " compression with " + std::to_string(bits) +
                        " bits per pixel");
  }
  if (l.topDown && (c == kBiRle8 || c == kBiRle4))
    return bmpError(ErrorCause::BadFormat, name, "with rows from the top cannot be RLE-compressed");
  return {};
}

// Bit masks: after a 40-byte header, or inside the larger ones; the defaults of BI_RGB. `in` then
// stands after the header and its masks.
Status readMasks(ByteReader& in, Header& h, Layout& l, const std::string& name) {
  const std::uint32_t c = l.compression, bits = l.bits;
  std::uint32_t* masks = h.masks;
  std::size_t masksAfterHeader = 0;
  if (h.headerSize == 40 && c == kBiBitfields) masksAfterHeader = 3;
  if (h.headerSize == 40 && c == kBiAlphaBitfields) masksAfterHeader = 4;
  if (!in.seek(kFileHeaderBytes + h.headerSize))
    return bmpError(ErrorCause::Truncated, name, "ends inside its header");
  for (std::size_t i = 0; i < masksAfterHeader; ++i)
    if (!in.u32(masks[i])) return bmpError(ErrorCause::Truncated, name, "ends inside its bit masks");
  if (bits != 16 && bits != 32) return {};
  if (c == kBiRgb) {
    if (bits == 16) {
      masks[0] = 0x7C00, masks[1] = 0x03E0, masks[2] = 0x001F, masks[3] = 0;
    } else {
      masks[0] = 0xFF0000, masks[1] = 0xFF00, masks[2] = 0xFF, masks[3] = 0xFF000000;
      l.alphaIfAnyNonZero = true;
    }
  } else if (c == kBiBitfields && h.headerSize < 56) {
    masks[3] = 0; // no alpha mask in these headers
  }
  if (!makeChannel(masks[0], bits, false, l.red) || !makeChannel(masks[1], bits, false, l.green) ||
      !makeChannel(masks[2], bits, false, l.blue) || !makeChannel(masks[3], bits, true, l.alpha) ||
      (masks[0] & masks[1]) || (masks[0] & masks[2]) || (masks[1] & masks[2]) ||
      ((masks[0] | masks[1] | masks[2]) & masks[3]))
    return bmpError(ErrorCause::BadFormat, name,
                    "bit masks are empty, overlap, have gaps or exceed the pixel");
  return {};
}

// The palette lies between the header (and its masks), ending at `headerEnd`, and the pixels; it
// may hold fewer colours than declared when the pixels start sooner.
Status placePalette(std::span<const std::uint8_t> bytes, std::size_t headerEnd, const Header& h, Layout& l,
                    const std::string& name) {
  l.paletteOffset = headerEnd;
  l.pixelOffset = h.pixelOffset;
  if (h.pixelOffset < l.paletteOffset)
    return bmpError(ErrorCause::BadFormat, name,
                    "pixel data at offset " + std::to_string(h.pixelOffset) +
                        " overlaps its header (which ends at " + std::to_string(l.paletteOffset) + ")");
  if (l.bits > 8) return {};
  const std::uint32_t most = 1u << l.bits;
  if (h.clrUsed > most)
    return bmpError(ErrorCause::BadFormat, name,
                    "declares " + std::to_string(h.clrUsed) + " palette colours for " +
                        std::to_string(l.bits) + " bits per pixel");
  l.paletteEntryBytes = h.headerSize == 12 ? 3 : 4;
  const std::size_t room = (h.pixelOffset - l.paletteOffset) / l.paletteEntryBytes;
  l.paletteCount = std::uint32_t(std::min<std::size_t>(h.clrUsed ? h.clrUsed : most, room));
  if (l.paletteCount == 0) return bmpError(ErrorCause::BadFormat, name, "has no palette");
  if (bytes.size() - l.paletteOffset < l.paletteCount * l.paletteEntryBytes)
    return bmpError(ErrorCause::Truncated, name, "ends inside its palette");
  return {};
}

Result<Layout> parse(std::span<const std::uint8_t> bytes, const std::string& name) {
  ByteReader in(bytes);
  Result<Header> h = readHeaders(in, name);
  if (!h) return h.error();
  Layout l;
  l.headerSize = h->headerSize;
  l.compression = h->compression;
  if (Status s = takeSize(*h, l, name); !s) return s.error();
  l.bits = h->bits;
  if (Status s = checkDepth(l, name); !s) return s.error();
  if (Status s = readMasks(in, *h, l, name); !s) return s.error();
  if (Status s = placePalette(bytes, in.position(), *h, l, name); !s) return s.error();

  l.info.kind = "BMP, " + std::to_string(l.headerSize) + "-byte header, " + std::to_string(l.bits) + " bits";
  if (l.compression != kBiRgb) l.info.kind += std::string(", ") + compressionName(l.compression);
  if (l.topDown) l.info.kind += ", top-down";
  return l;
}

// Decodes into `image`, whose every byte is 0 on entry for RLE streams.
class Decoder {
public:
  Decoder(const Layout& layout, std::span<const std::uint8_t> bytes, const std::string& name,
          RgbaImage& image)
      : l_(layout), bytes_(bytes), name_(name), image_(image) {
    for (std::uint32_t i = 0; i < l_.paletteCount; ++i) {
      const std::uint8_t* e = bytes.data() + l_.paletteOffset + i * l_.paletteEntryBytes;
      palette_[i] = {e[2], e[1], e[0], 255};
    }
  }

  Status run() {
    if (l_.pixelOffset > bytes_.size())
      return bmpError(ErrorCause::Truncated, name_,
                      "pixel data at offset " + std::to_string(l_.pixelOffset) +
                          " lies past the end of the file (" + std::to_string(bytes_.size()) + " bytes)");
    if (l_.compression == kBiRle8 || l_.compression == kBiRle4) return rle();
    return rows();
  }

private:
  struct Rgba {
    std::uint8_t r, g, b, a;
  };

  // The image row that file row `i` fills.
  std::uint8_t* imageRow(std::uint32_t i) { return image_.row(l_.topDown ? i : image_.height - 1 - i); }

  Error badIndex(std::uint32_t index, std::uint32_t x, std::uint32_t fileRow) const {
    const std::uint32_t y = l_.topDown ? fileRow : image_.height - 1 - fileRow;
    return bmpError(ErrorCause::BadFormat, name_,
                    "pixel (" + std::to_string(x) + ", " + std::to_string(y) + ") uses colour " +
                        std::to_string(index) + " of a " + std::to_string(l_.paletteCount) +
                        "-colour palette");
  }

  Status rows() {
    const std::uint32_t width = image_.width, height = image_.height;
    const std::size_t stride = (std::size_t(width) * l_.bits + 31) / 32 * 4;
    const std::size_t need = stride * height;
    if (bytes_.size() - l_.pixelOffset < need)
      return bmpError(ErrorCause::Truncated, name_,
                      "pixel data needs " + std::to_string(need) + " bytes from offset " +
                          std::to_string(l_.pixelOffset) + "; the file holds " +
                          std::to_string(bytes_.size() - l_.pixelOffset));
    bool anyAlpha = false;
    for (std::uint32_t i = 0; i < height; ++i) {
      const std::uint8_t* src = bytes_.data() + l_.pixelOffset + i * stride;
      std::uint8_t* out = imageRow(i);
      switch (l_.bits) {
      case 8:
        for (std::uint32_t x = 0; x < width; ++x, out += 4) {
          if (src[x] >= l_.paletteCount) return badIndex(src[x], x, i);
          std::memcpy(out, &palette_[src[x]], 4);
        }
        break;
      case 1:
      case 4: {
        const unsigned bits = l_.bits, mask = (1u << bits) - 1;
        for (std::uint32_t x = 0; x < width; ++x, out += 4) {
          const std::size_t bit = std::size_t(x) * bits;
          const std::uint32_t index = (src[bit / 8] >> (8 - bits - bit % 8)) & mask;
          if (index >= l_.paletteCount) return badIndex(index, x, i);
          std::memcpy(out, &palette_[index], 4);
        }
        break;
      }
      case 24:
        for (std::uint32_t x = 0; x < width; ++x, out += 4, src += 3) {
          out[0] = src[2], out[1] = src[1], out[2] = src[0], out[3] = 255;
        }
        break;
      case 16:
        for (std::uint32_t x = 0; x < width; ++x, out += 4, src += 2) masked(loadLE16(src), out);
        break;
      case 32:
        for (std::uint32_t x = 0; x < width; ++x, out += 4, src += 4) {
          masked(loadLE32(src), out);
          anyAlpha |= out[3] != 0;
        }
        break;
      }
    }
    if (l_.alphaIfAnyNonZero && !anyAlpha)
      for (std::size_t i = 3; i < image_.byteCount(); i += 4) image_.pixels[i] = 255;
    return {};
  }

  void masked(std::uint32_t pixel, std::uint8_t* out) const {
    out[0] = l_.red.of(pixel);
    out[1] = l_.green.of(pixel);
    out[2] = l_.blue.of(pixel);
    out[3] = l_.alpha.mask ? l_.alpha.of(pixel) : 255;
  }

  // RLE8 and RLE4: runs and literal stretches within a row, moved by end-of-line and delta marks,
  // up to the end-of-bitmap mark. A run that passes its row or the last row is refused.
  Status rle() {
    ByteReader in(bytes_.subspan(l_.pixelOffset));
    x_ = 0, row_ = 0;
    for (;;) {
      std::uint8_t count = 0, value = 0;
      if (!in.u8(count) || !in.u8(value))
        return bmpError(ErrorCause::Truncated, name_, "RLE data ends before its end-of-bitmap mark");
      Status s;
      if (count > 0)
        s = rleRun(count, value);
      else if (value == 0)
        s = rleEndOfLine();
      else if (value == 1)
        return {}; // end of bitmap
      else if (value == 2)
        s = rleDelta(in);
      else
        s = rleLiteral(in, value);
      if (!s) return s;
    }
  }

  bool rle4() const { return l_.compression == kBiRle4; }
  // " at (3, 7)": where the RLE stream stands, from the top.
  std::string rleWhere() const {
    return " at (" + std::to_string(x_) + ", " + std::to_string(image_.height - 1 - row_) + ")";
  }
  // Whether `count` pixels fit in the rest of the row.
  Status rleFits(std::uint32_t count) const {
    if (row_ >= image_.height)
      return bmpError(ErrorCause::BadFormat, name_, "RLE data runs past the last row");
    if (count > image_.width - x_)
      return bmpError(ErrorCause::BadFormat, name_,
                      "RLE run of " + std::to_string(count) + " pixels" + rleWhere() +
                          " passes the end of its row (" + std::to_string(image_.width) + " pixels wide)");
    return {};
  }
  Status rlePut(std::uint32_t index) {
    if (index >= l_.paletteCount) return badIndex(index, x_, row_);
    std::memcpy(imageRow(row_) + std::size_t(x_) * 4, &palette_[index], 4);
    ++x_;
    return {};
  }
  // `count` pixels of `value` (RLE4: its two halves in turn).
  Status rleRun(std::uint32_t count, std::uint8_t value) {
    if (Status s = rleFits(count); !s) return s;
    for (std::uint32_t i = 0; i < count; ++i) {
      const std::uint32_t index = rle4() ? (i % 2 ? value & 15 : value >> 4) : value;
      if (Status s = rlePut(index); !s) return s;
    }
    return {};
  }
  Status rleEndOfLine() {
    x_ = 0;
    ++row_;
    if (row_ > image_.height)
      return bmpError(ErrorCause::BadFormat, name_, "RLE data runs past the last row");
    return {};
  }
  Status rleDelta(ByteReader& in) {
    std::uint8_t dx = 0, dy = 0;
    if (!in.u8(dx) || !in.u8(dy))
      return bmpError(ErrorCause::Truncated, name_, "RLE data ends inside a delta mark");
    if (dx > image_.width - x_ || dy > image_.height - row_)
      return bmpError(ErrorCause::BadFormat, name_,
                      "RLE delta (" + std::to_string(dx) + ", " + std::to_string(dy) + ")" + rleWhere() +
                          " moves past the image");
    x_ += dx;
    row_ += dy;
    return {};
  }
  // A literal stretch of `count` pixels, padded to an even byte count.
  Status rleLiteral(ByteReader& in, std::uint32_t count) {
    const std::size_t size = rle4() ? (count + 1) / 2 : count;
    const std::size_t padded = size + (size & 1);
    if (in.remaining() < padded)
      return bmpError(ErrorCause::Truncated, name_, "RLE data ends inside a literal run");
    if (Status s = rleFits(count); !s) return s;
    const std::uint8_t* p = bytes_.data() + l_.pixelOffset + in.position();
    for (std::uint32_t i = 0; i < count; ++i) {
      const std::uint32_t index = rle4() ? (i % 2 ? p[i / 2] & 15 : p[i / 2] >> 4) : p[i];
      if (Status s = rlePut(index); !s) return s;
    }
    (void)in.skip(padded);
    return {};
  }

  const Layout& l_;
  std::span<const std::uint8_t> bytes_;
  const std::string& name_;
  RgbaImage& image_;
  Rgba palette_[256] = {};
  std::uint32_t x_ = 0, row_ = 0; // where an RLE stream stands; the row counts from the bottom
};

} // namespace

bool looksLikeBmp(std::span<const std::uint8_t> bytes) {
  return bytes.size() >= 2 && bytes[0] == 'B' && bytes[1] == 'M';
}

Result<ImageInfo> readBmpHeader(std::span<const std::uint8_t> bytes, const std::string& name) {
  Result<Layout> layout = parse(bytes, name);
  if (!layout) return layout.error();
  return std::move(layout->info);
}

Result<RgbaImage> decodeBmp(std::span<const std::uint8_t> bytes, const std::string& name) {
  Result<Layout> layout = parse(bytes, name);
  if (!layout) return layout.error();
  // Only RLE streams may leave pixels unwritten: they stay transparent black.
  const bool rle = layout->compression == kBiRle8 || layout->compression == kBiRle4;
  Result<RgbaImage> image = allocateRgbaImage(layout->info.width, layout->info.height, name, rle);
  if (!image) return image;
  if (Status s = Decoder(*layout, bytes, name, *image).run(); !s) return s.error();
  return image;
}

} // namespace zelvo
