#include "render/image_read.h"

#include "support/image_files.h"
#include "support/temp_dir.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <random>
#include <zlib.h>

namespace zelvo {
namespace {

using test::BmpLayout;
using test::Picture;
using test::PngLayout;
using Bytes = std::vector<std::uint8_t>;

// 37 x 11: odd row lengths for every packing, and room for a 256-colour palette.
constexpr int kWidth = 37;
constexpr int kHeight = 11;

// The 8-bit value nearest to the `bits`-bit sample q.
std::uint8_t widen(unsigned q, int bits) { return std::uint8_t(std::lround(q * 255.0 / ((1u << bits) - 1))); }

Picture opaque(Picture p) {
  for (std::size_t i = 3; i < p.rgba.size(); i += 4) p.rgba[i] = 255;
  return p;
}

Bytes pixelsOf(const RgbaImage& image) {
  return Bytes(image.pixels.get(), image.pixels.get() + image.byteCount());
}

// A file of one variant and the pixels it holds.
struct Encoded {
  Bytes bytes;
  Picture expected;
};

// Pixel i's colour is palette entry index[i].
struct Paletted {
  std::vector<std::array<std::uint8_t, 4>> colours;
  std::vector<int> index;
  Picture picture;
};

// The base picture brought down to `count` of its own colours (alpha kept only when `alpha`).
Paletted paletted(const Picture& base, int count, bool alpha) {
  Paletted p;
  for (int i = 0; i < count; ++i) {
    const std::uint8_t* c = &base.rgba[std::size_t(i) * 4];
    p.colours.push_back({c[0], c[1], c[2], alpha ? c[3] : std::uint8_t(255)});
  }
  p.picture = base;
  for (std::size_t i = 0; i < base.rgba.size() / 4; ++i) {
    const int k = (base.rgba[i * 4] * 7 + base.rgba[i * 4 + 1]) % count;
    p.index.push_back(k);
    std::memcpy(&p.picture.rgba[i * 4], p.colours[k].data(), 4);
  }
  return p;
}

// PNG samples of each pixel, `samples(x, y, out)`, at `bits` per sample (16-bit samples get
// noise in their low byte, which the reader drops).
using Samples = std::function<void(int, int, std::vector<unsigned>&)>;
Bytes pngSamples(int width, int height, int bits, const Samples& samples) {
  Bytes out;
  std::mt19937 noise(3);
  std::vector<unsigned> s;
  for (int y = 0; y < height; ++y) {
    unsigned acc = 0, filled = 0;
    for (int x = 0; x < width; ++x) {
      s.clear();
      samples(x, y, s);
      for (unsigned v : s) {
        if (bits == 16) {
          const std::uint16_t wide = std::uint16_t(v << 8 | (noise() & 255));
          out.push_back(std::uint8_t(wide)); // host order
          out.push_back(std::uint8_t(wide >> 8));
        } else if (bits == 8) {
          out.push_back(std::uint8_t(v));
        } else {
          acc = acc << bits | v;
          filled += bits;
          if (filled == 8) out.push_back(std::uint8_t(acc)), acc = filled = 0;
        }
      }
    }
    if (filled) out.push_back(std::uint8_t(acc << (8 - filled)));
  }
  return out;
}

Encoded pngOf(const Picture& base, PngLayout layout) {
  const int bits = layout.bitDepth;
  Picture expected = base;
  Samples samples;
  switch (layout.colourType) {
  case 6:
    samples = [&](int x, int y, std::vector<unsigned>& s) {
      const std::uint8_t* c = base.at(x, y);
      s = {c[0], c[1], c[2], c[3]};
    };
    break;
  case 2:
    expected = opaque(base);
    samples = [&](int x, int y, std::vector<unsigned>& s) {
      const std::uint8_t* c = base.at(x, y);
      s = {c[0], c[1], c[2]};
    };
    break;
  case 0:
  case 4: { // grey from red, at `bits` bits
    const bool alpha = layout.colourType == 4;
    const unsigned drop = bits >= 8 ? 0 : 8 - bits;
    for (std::size_t i = 0; i < expected.rgba.size(); i += 4) {
      const unsigned q = base.rgba[i] >> drop;
      expected.rgba[i] = expected.rgba[i + 1] = expected.rgba[i + 2] =
          bits >= 8 ? std::uint8_t(q) : widen(q, bits);
      if (!alpha) expected.rgba[i + 3] = 255;
    }
    samples = [&, alpha, drop](int x, int y, std::vector<unsigned>& s) {
      s = {unsigned(base.at(x, y)[0]) >> drop};
      if (alpha) s.push_back(base.at(x, y)[3]);
    };
    break;
  }
  case 3: {
    Paletted p = paletted(base, std::min(1 << bits, 200), layout.transparency);
    layout.palette = p.colours;
    return {test::pngBytes(layout, base.width, base.height,
                           pngSamples(base.width, base.height, bits,
                                      [&](int x, int y, std::vector<unsigned>& s) {
                                        s = {unsigned(p.index[std::size_t(y) * base.width + x])};
                                      })),
            p.picture};
  }
  }
  return {test::pngBytes(layout, base.width, base.height, pngSamples(base.width, base.height, bits, samples)),
          expected};
}

PngLayout png(std::uint8_t colourType, std::uint8_t bits) {
  PngLayout s;
  s.colourType = colourType;
  s.bitDepth = bits;
  return s;
}

// A palette BMP of the base picture (uncompressed, or RLE when `compression` says so). With
// `skips`, some pixels are left out of the RLE stream and expected transparent black.
Encoded bmpPalette(const Picture& base, BmpLayout layout, int colours, bool skips = false) {
  Paletted p = paletted(base, colours, false);
  for (const auto& c : p.colours) layout.palette.push_back({c[0], c[1], c[2]});
  auto index = [&](int x, int y) { return p.index[std::size_t(y) * base.width + x]; };
  Bytes pixels;
  if (layout.compression == test::kBmpRle8 || layout.compression == test::kBmpRle4) {
    // Runs along odd rows; skipped: a diagonal pattern, row 3 whole, the end of row 5, and the
    // top row from column 30 on (the end of the bitmap comes early).
    auto rle = [&](int x, int y) {
      const int k = y % 2 ? index(x - x % 4, y) : index(x, y);
      const bool skipped = skips && ((x + y) % 5 == 0 || y == 3 || (y == 5 && x > 20) || (y == 0 && x >= 30));
      return skipped ? -1 : k;
    };
    for (int y = 0; y < base.height; ++y)
      for (int x = 0; x < base.width; ++x) {
        const int k = rle(x, y);
        std::uint8_t* out = p.picture.at(x, y);
        if (k < 0)
          std::memset(out, 0, 4);
        else
          std::memcpy(out, p.colours[k].data(), 4);
      }
    pixels = test::bmpRle(base.width, base.height, layout.compression == test::kBmpRle4, rle);
  } else {
    pixels = test::bmpRows(base.width, base.height, layout.bits, layout.topDown,
                           [&](int x, int y) { return std::uint32_t(index(x, y)); });
  }
  return {test::bmpBytes(layout, base.width, base.height, pixels), p.picture};
}

Encoded bmp24(const Picture& base, BmpLayout layout) {
  const Picture expected = opaque(base);
  auto pixels = test::bmpRows(base.width, base.height, 24, layout.topDown, [&](int x, int y) {
    const std::uint8_t* c = base.at(x, y);
    return std::uint32_t(c[0] << 16 | c[1] << 8 | c[2]);
  });
  return {test::bmpBytes(layout, base.width, base.height, pixels), expected};
}

// 16 or 32 bits packed by `packing` (red, green, blue, alpha masks); the header says
// `layout.masks`. `opaqueAlpha`: alpha bits are written but the image is expected opaque.
Encoded bmpMasked(const Picture& base, BmpLayout layout, std::array<std::uint32_t, 4> packing,
                  bool opaqueAlpha = false) {
  Picture expected = base;
  auto pixels = test::bmpRows(base.width, base.height, layout.bits, layout.topDown, [&](int x, int y) {
    std::uint32_t v = 0;
    std::uint8_t* e = expected.at(x, y);
    for (int k = 0; k < 4; ++k) {
      const std::uint32_t m = packing[k];
      if (!m) {
        e[k] = 255;
        continue;
      }
      const int width = std::popcount(m);
      const unsigned q = unsigned(base.at(x, y)[k]) >> (8 - width);
      v |= q << std::countr_zero(m);
      e[k] = widen(q, width);
    }
    if (opaqueAlpha) e[3] = 255;
    return v;
  });
  return {test::bmpBytes(layout, base.width, base.height, pixels), expected};
}

BmpLayout bmp(std::uint32_t header, std::uint16_t bits, std::uint32_t compression = test::kBmpRgb,
              std::array<std::uint32_t, 4> masks = {}, bool topDown = false) {
  BmpLayout s;
  s.headerSize = header;
  s.bits = bits;
  s.compression = compression;
  s.masks = masks;
  s.topDown = topDown;
  return s;
}

constexpr std::array<std::uint32_t, 4> kArgb = {0xFF0000, 0xFF00, 0xFF, 0xFF000000};
constexpr std::array<std::uint32_t, 4> kXrgb = {0xFF0000, 0xFF00, 0xFF, 0};
constexpr std::array<std::uint32_t, 4> kRgba = {0xFF000000, 0xFF0000, 0xFF00, 0xFF};
constexpr std::array<std::uint32_t, 4> k565 = {0xF800, 0x07E0, 0x001F, 0};
constexpr std::array<std::uint32_t, 4> k555 = {0x7C00, 0x03E0, 0x001F, 0};
constexpr std::array<std::uint32_t, 4> k4444 = {0x0F00, 0x00F0, 0x000F, 0xF000};

struct Variant {
  std::string name;
  std::function<Encoded(const Picture&)> make;
};

std::vector<Variant> variants() {
  std::vector<Variant> all = {
      {"PNG RGBA 8", [](const Picture& b) { return pngOf(b, png(6, 8)); }},
      {"PNG RGBA 16", [](const Picture& b) { return pngOf(b, png(6, 16)); }},
      {"PNG RGB 8", [](const Picture& b) { return pngOf(b, png(2, 8)); }},
      {"PNG RGB 16", [](const Picture& b) { return pngOf(b, png(2, 16)); }},
      {"PNG grey 1", [](const Picture& b) { return pngOf(b, png(0, 1)); }},
      {"PNG grey 2", [](const Picture& b) { return pngOf(b, png(0, 2)); }},
      {"PNG grey 4", [](const Picture& b) { return pngOf(b, png(0, 4)); }},
      {"PNG grey 8", [](const Picture& b) { return pngOf(b, png(0, 8)); }},
      {"PNG grey 16", [](const Picture& b) { return pngOf(b, png(0, 16)); }},
      {"PNG grey+alpha 8", [](const Picture& b) { return pngOf(b, png(4, 8)); }},
      {"PNG grey+alpha 16", [](const Picture& b) { return pngOf(b, png(4, 16)); }},
      {"PNG RGBA 8 interlaced",
       [](const Picture& b) {
         PngLayout s = png(6, 8);
         s.interlaced = true;
         return pngOf(b, s);
       }},
      {"PNG palette 4 with tRNS interlaced",
       [](const Picture& b) {
         PngLayout s = png(3, 4);
         s.interlaced = s.transparency = true;
         return pngOf(b, s);
       }},
      {"PNG RGBA 8 with gAMA 1.0",
       [](const Picture& b) {
         PngLayout s = png(6, 8);
         s.gamma = 1.0;
         return pngOf(b, s);
       }},
      {"PNG RGB 16 with gAMA 0.45455 and cHRM",
       [](const Picture& b) {
         PngLayout s = png(2, 16);
         s.gamma = 0.45455;
         s.chromaticities = true;
         return pngOf(b, s);
       }},
      {"PNG palette 8 with sRGB",
       [](const Picture& b) {
         PngLayout s = png(3, 8);
         s.srgb = true;
         return pngOf(b, s);
       }},
      {"PNG RGBA 8 with iCCP",
       [](const Picture& b) {
         PngLayout s = png(6, 8);
         s.iccProfile = true;
         return pngOf(b, s);
       }},

      {"BMP 12 1-bit", [](const Picture& b) { return bmpPalette(b, bmp(12, 1), 2); }},
      {"BMP 12 8-bit", [](const Picture& b) { return bmpPalette(b, bmp(12, 8), 256); }},
      {"BMP 12 24-bit", [](const Picture& b) { return bmp24(b, bmp(12, 24)); }},
      {"BMP 40 1-bit", [](const Picture& b) { return bmpPalette(b, bmp(40, 1), 2); }},
      {"BMP 40 4-bit of 11 colours", [](const Picture& b) { return bmpPalette(b, bmp(40, 4), 11); }},
      {"BMP 40 8-bit of 200 colours", [](const Picture& b) { return bmpPalette(b, bmp(40, 8), 200); }},
      {"BMP 40 8-bit top-down", [](const Picture& b) { return bmpPalette(b, bmp(40, 8, 0, {}, true), 256); }},
      {"BMP 40 24-bit", [](const Picture& b) { return bmp24(b, bmp(40, 24)); }},
      {"BMP 40 24-bit top-down", [](const Picture& b) { return bmp24(b, bmp(40, 24, 0, {}, true)); }},
      {"BMP 108 24-bit", [](const Picture& b) { return bmp24(b, bmp(108, 24)); }},
      {"BMP 124 24-bit", [](const Picture& b) { return bmp24(b, bmp(124, 24)); }},
      {"BMP 40 16-bit 555 by default", [](const Picture& b) { return bmpMasked(b, bmp(40, 16), k555); }},
      {"BMP 40 16-bit bit fields 565",
       [](const Picture& b) { return bmpMasked(b, bmp(40, 16, 3, k565), k565); }},
      {"BMP 40 16-bit bit fields 555",
       [](const Picture& b) { return bmpMasked(b, bmp(40, 16, 3, k555), k555); }},
      {"BMP 56 16-bit bit fields 565",
       [](const Picture& b) { return bmpMasked(b, bmp(56, 16, 3, k565), k565); }},
      {"BMP 108 16-bit bit fields 4444 with alpha",
       [](const Picture& b) { return bmpMasked(b, bmp(108, 16, 3, k4444), k4444); }},
      {"BMP 40 32-bit with alpha", [](const Picture& b) { return bmpMasked(b, bmp(40, 32), kArgb); }},
      {"BMP 40 32-bit bit fields (no alpha mask: opaque)",
       [](const Picture& b) { return bmpMasked(b, bmp(40, 32, 3, kXrgb), kArgb, true); }},
      {"BMP 40 32-bit alpha bit fields",
       [](const Picture& b) { return bmpMasked(b, bmp(40, 32, 6, kArgb), kArgb); }},
      {"BMP 52 32-bit bit fields (no alpha mask: opaque)",
       [](const Picture& b) { return bmpMasked(b, bmp(52, 32, 3, kXrgb), kArgb, true); }},
      {"BMP 56 32-bit bit fields with alpha",
       [](const Picture& b) { return bmpMasked(b, bmp(56, 32, 3, kArgb), kArgb); }},
      {"BMP 108 32-bit bit fields with alpha",
       [](const Picture& b) { return bmpMasked(b, bmp(108, 32, 3, kArgb), kArgb); }},
      {"BMP 124 32-bit bit fields RGBA order",
       [](const Picture& b) { return bmpMasked(b, bmp(124, 32, 3, kRgba), kRgba); }},
      {"BMP 124 32-bit top-down",
       [](const Picture& b) { return bmpMasked(b, bmp(124, 32, 3, kArgb, true), kArgb); }},
      {"BMP 40 RLE8", [](const Picture& b) { return bmpPalette(b, bmp(40, 8, 1), 256); }},
      {"BMP 124 RLE8 of 37 colours", [](const Picture& b) { return bmpPalette(b, bmp(124, 8, 1), 37); }},
      {"BMP 40 RLE4", [](const Picture& b) { return bmpPalette(b, bmp(40, 4, 2), 16); }},
      {"BMP 40 RLE8 with skipped pixels",
       [](const Picture& b) { return bmpPalette(b, bmp(40, 8, 1), 256, true); }},
      {"BMP 40 RLE4 with skipped pixels",
       [](const Picture& b) { return bmpPalette(b, bmp(40, 4, 2), 16, true); }},
      {"BMP 40 32-bit whose fourth bytes are all 0 (opaque)",
       [](const Picture& b) {
         Picture zero = b;
         for (std::size_t i = 3; i < zero.rgba.size(); i += 4) zero.rgba[i] = 0;
         return bmpMasked(zero, bmp(40, 32), kArgb, true);
       }},
  };
  for (int bits : {1, 2, 4, 8})
    for (bool trns : {false, true}) {
      const std::string name = "PNG palette " + std::to_string(bits) + (trns ? " with tRNS" : "");
      all.push_back({name, [bits, trns](const Picture& b) {
                       PngLayout s = png(3, std::uint8_t(bits));
                       s.transparency = trns;
                       return pngOf(b, s);
                     }});
    }
  return all;
}

// Every variant gives exactly the pixels that the same picture gives as an 8-bit RGBA PNG, read
// from a file whose name says the other type (the type comes from the content).
TEST(ReadImage, EveryVariantGivesThePixelsOfTheRgbaPngOfTheSamePicture) {
  test::TempDir dir;
  const Picture base = test::randomPicture(kWidth, kHeight, 11);
  for (const Variant& v : variants()) {
    SCOPED_TRACE(v.name);
    const Encoded e = v.make(base);
    ASSERT_FALSE(e.bytes.empty());
    const Bytes png = test::rgbaPng(e.expected);
    Result<RgbaImage> baseline = readImageFromMemory(png, "baseline.png");
    ASSERT_TRUE(baseline) << baseline.error().message();
    ASSERT_EQ(pixelsOf(*baseline), e.expected.rgba);

    const std::string path = dir.file(e.bytes[0] == 'B' ? "variant.png" : "variant.bmp");
    ASSERT_TRUE(test::writeFileBytes(path, e.bytes.data(), e.bytes.size()));
    Result<ImageInfo> info = readImageHeader(path);
    ASSERT_TRUE(info) << info.error().message();
    EXPECT_EQ(info->format, e.bytes[0] == 'B' ? ImageFormat::Bmp : ImageFormat::Png);
    Result<RgbaImage> image = readImage(path);
    ASSERT_TRUE(image) << image.error().message();
    EXPECT_EQ(image->width, std::uint32_t(kWidth));
    EXPECT_EQ(image->height, std::uint32_t(kHeight));
    EXPECT_EQ(pixelsOf(*image), pixelsOf(*baseline));
  }
}

void put32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = std::uint8_t(v >> (8 * i));
}
void put16(Bytes& b, std::size_t at, std::uint16_t v) {
  b[at] = std::uint8_t(v);
  b[at + 1] = std::uint8_t(v >> 8);
}
// Recomputes the CRC of the PNG chunk that starts at `at`.
void fixCrc(Bytes& b, std::size_t at) {
  const std::size_t length = std::size_t(b[at]) << 24 | b[at + 1] << 16 | b[at + 2] << 8 | b[at + 3];
  const uLong crc = crc32(0, b.data() + at + 4, uInt(length + 4));
  for (int i = 0; i < 4; ++i) b[at + 8 + length + i] = std::uint8_t(crc >> (24 - 8 * i));
}
Bytes cut(Bytes b, std::size_t size) {
  b.resize(size);
  return b;
}
Bytes with(Bytes b, const std::function<void(Bytes&)>& change) {
  change(b);
  return b;
}

// An 8-bit RLE BMP of 4 x 2 pixels and 4 colours holding `stream`.
Bytes rle8(const Bytes& stream, bool topDown = false) {
  BmpLayout s = bmp(40, 8, 1, {}, topDown);
  s.palette = {{0, 0, 0}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}};
  return test::bmpBytes(s, 4, 2, stream);
}

// Files that are cut short, hold runs past their rows, or whose headers lie: each refused with
// a reason that says which.
TEST(ReadImage, RefusesBrokenFilesWithAReason) {
  const Picture base = test::randomPicture(kWidth, kHeight, 5);
  const Bytes png = test::rgbaPng(base);
  const Bytes bmp24 = ::zelvo::bmp24(base, bmp(40, 24)).bytes;
  const Bytes bmp8 = bmpPalette(base, bmp(40, 8), 16).bytes;
  const Bytes bmp32 = bmpMasked(base, bmp(40, 32, 3, kXrgb), kXrgb).bytes;
  struct Case {
    const char* name;
    Bytes bytes;
    ErrorCause cause;
    const char* detail;
  };
  const std::vector<Case> cases = {
      {"empty", {}, ErrorCause::Truncated, "the file is empty"},
      {"text",
       {'h', 'e', 'l', 'l', 'o'},
       ErrorCause::BadFormat,
       "not a PNG or BMP image (it starts with 68 65 6C 6C)"},
      {"JPEG",
       {0xFF, 0xD8, 0xFF, 0xE0, 0, 16},
       ErrorCause::Unsupported,
       "a JPEG image; only PNG and BMP are read"},
      {"PNG cut in its header", cut(png, 20), ErrorCause::Truncated, "PNG ends before its last chunk"},
      {"PNG cut in its image data", cut(png, png.size() / 2), ErrorCause::Truncated,
       "PNG ends before its last chunk"},
      {"PNG without its end chunk", cut(png, png.size() - 12), ErrorCause::Truncated,
       "PNG ends before its last chunk"},
      {"PNG header with a wrong CRC", with(png, [](Bytes& b) { b[29] ^= 1; }), ErrorCause::DigestMismatch,
       "PNG "},
      {"PNG of 4-bit RGB", with(png, [](Bytes& b) { b[24] = 4, b[25] = 2, fixCrc(b, 8); }),
       ErrorCause::BadFormat, "PNG "},
      {"BMP cut in its file header", cut(bmp24, 10), ErrorCause::Truncated,
       "BMP ends inside its file header"},
      {"BMP cut in its header", cut(bmp24, 40), ErrorCause::Truncated, "BMP ends inside its 40-byte header"},
      {"BMP cut in its palette", cut(bmp8, 60), ErrorCause::Truncated, "BMP ends inside its palette"},
      {"BMP cut in its pixels", cut(bmp24, bmp24.size() - 1), ErrorCause::Truncated,
       "BMP pixel data needs 1232 bytes from offset 54; the file holds 1231"},
      {"BMP pixels past the end", with(bmp24, [](Bytes& b) { put32(b, 10, 100000); }), ErrorCause::Truncated,
       "BMP pixel data at offset 100000 lies past the end of the file"},
      {"BMP pixels inside the header", with(bmp24, [](Bytes& b) { put32(b, 10, 50); }), ErrorCause::BadFormat,
       "BMP pixel data at offset 50 overlaps its header (which ends at 54)"},
      {"BMP of 0 planes", with(bmp24, [](Bytes& b) { put16(b, 26, 0); }), ErrorCause::BadFormat,
       "BMP header gives 0 colour planes"},
      {"BMP of width 0", with(bmp24, [](Bytes& b) { put32(b, 18, 0); }), ErrorCause::BadFormat,
       "BMP claims 0 x 11 pixels"},
      {"BMP of height 0", with(bmp24, [](Bytes& b) { put32(b, 22, 0); }), ErrorCause::BadFormat,
       "BMP claims 37 x 0 pixels"},
      {"BMP of 300 colours for 8 bits", with(bmp8, [](Bytes& b) { put32(b, 46, 300); }),
       ErrorCause::BadFormat, "BMP declares 300 palette colours for 8 bits per pixel"},
      {"BMP pixel beyond its palette", with(bmp8, [](Bytes& b) { b[b.size() - 40] = 16; }),
       ErrorCause::BadFormat, "of a 16-colour palette"},
      {"BMP masks that overlap", with(bmp32, [](Bytes& b) { put32(b, 58, 0x00FFFF00); }),
       ErrorCause::BadFormat, "BMP bit masks are empty, overlap, have gaps or exceed the pixel"},
      {"BMP mask with a gap", with(bmp32, [](Bytes& b) { put32(b, 62, 0x000000F5); }), ErrorCause::BadFormat,
       "BMP bit masks"},
      {"BMP header of 64 bytes", with(bmp24, [](Bytes& b) { put32(b, 14, 64); }), ErrorCause::Unsupported,
       "BMP with an OS/2 2.x header (64 bytes) is not read"},
      {"BMP header of 20 bytes", with(bmp24, [](Bytes& b) { put32(b, 14, 20); }), ErrorCause::Unsupported,
       "BMP header of 20 bytes is not read"},
      {"BMP of 2 bits", with(bmp24, [](Bytes& b) { put16(b, 28, 2); }), ErrorCause::Unsupported,
       "BMP of 2 bits per pixel is not read"},
      {"BMP of 24 bits with RLE8", with(bmp24, [](Bytes& b) { put32(b, 30, 1); }), ErrorCause::BadFormat,
       "BMP RLE8 compression with 24 bits per pixel"},
      {"BMP holding a JPEG", with(bmp24, [](Bytes& b) { put32(b, 30, 4); }), ErrorCause::Unsupported,
       "BMP holding a JPEG image is not read"},
      {"BMP run past its row", rle8({5, 1, 0, 1}), ErrorCause::BadFormat,
       "BMP RLE run of 5 pixels at (0, 1) passes the end of its row (4 pixels wide)"},
      {"BMP literal past its row", rle8({2, 1, 0, 3, 1, 2, 3, 0, 0, 1}), ErrorCause::BadFormat,
       "BMP RLE run of 3 pixels at (2, 1) passes the end of its row"},
      {"BMP run past the last row", rle8({0, 0, 0, 0, 1, 1, 0, 1}), ErrorCause::BadFormat,
       "BMP RLE data runs past the last row"},
      {"BMP delta past the image", rle8({0, 2, 1, 3, 0, 1}), ErrorCause::BadFormat,
       "BMP RLE delta (1, 3) at (0, 1) moves past the image"},
      {"BMP RLE without its end", rle8({4, 1, 0, 0, 4, 2}), ErrorCause::Truncated,
       "BMP RLE data ends before its end-of-bitmap mark"},
      {"BMP RLE cut in a literal", rle8({0, 4, 1, 2}), ErrorCause::Truncated,
       "BMP RLE data ends inside a literal run"},
      {"BMP RLE colour beyond its palette", rle8({2, 9, 0, 1}), ErrorCause::BadFormat,
       "BMP pixel (0, 1) uses colour 9 of a 4-colour palette"},
      {"BMP top-down RLE", rle8({0, 1}, true), ErrorCause::BadFormat,
       "BMP with rows from the top cannot be RLE-compressed"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Result<RgbaImage> image = readImageFromMemory(c.bytes, "in.img");
    ASSERT_FALSE(image);
    EXPECT_EQ(image.error().cause, c.cause) << image.error().message();
    EXPECT_EQ(image.error().path, "in.img");
    EXPECT_NE(image.error().detail.find(c.detail), std::string::npos) << image.error().detail;
  }
}

// Declared sizes beyond 2048 x 2048 are refused from the header alone: the first bytes of the
// file give the same refusal as the whole file, so no pixel memory is ever asked for.
TEST(ReadImage, RefusesHugeImagesFromTheirHeaderAlone) {
  test::TempDir dir;
  struct Case {
    const char* name;
    Bytes bytes;
    std::size_t headerBytes; // how much of the file the refusal needs
    const char* detail;
  };
  BmpLayout rleSpec = bmp(40, 8, 1);
  rleSpec.palette.assign(256, {1, 2, 3});
  Bytes rleStream;
  for (int i = 0; i < 200; ++i) rleStream.insert(rleStream.end(), {255, 7});
  PngLayout grey = png(0, 8);
  const std::vector<Case> cases = {
      {"120-byte BMP of 65536 x 65537", test::bmpBytes(bmp(40, 24), 65536, 65537, Bytes(66, 0x55)), 54,
       "BMP claims 65536 x 65537 pixels; at most 2048 x 2048"},
      {"RLE8 BMP of 1.5 KB claiming 60000 x 60000", test::bmpBytes(rleSpec, 60000, 60000, rleStream), 54,
       "BMP claims 60000 x 60000 pixels; at most 2048 x 2048"},
      {"top-down BMP of 2048 x 2049", test::bmpBytes(bmp(124, 32, 3, kArgb, true), 2048, 2049, Bytes(64)),
       138, "BMP claims 2048 x 2049 pixels; at most 2048 x 2048"},
      {"PNG of 100000 x 1", test::pngBytes(grey, 100000, 1, Bytes(100000)), 33,
       "PNG claims 100000 x 1 pixels; at most 2048 x 2048"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_FALSE(c.bytes.empty());
    const std::string path = dir.file("huge");
    ASSERT_TRUE(test::writeFileBytes(path, c.bytes.data(), c.bytes.size()));
    Result<RgbaImage> image = readImage(path);
    ASSERT_FALSE(image);
    EXPECT_EQ(image.error().cause, ErrorCause::LimitExceeded);
    EXPECT_EQ(image.error().message(), path + ": " + c.detail);
    Result<ImageInfo> header = readImageHeader(std::span(c.bytes).first(c.headerBytes), path);
    ASSERT_FALSE(header);
    EXPECT_EQ(header.error().message(), image.error().message());
  }

  // The limit itself is read.
  BmpLayout one = bmp(40, 8);
  one.palette = {{9, 8, 7}};
  Result<RgbaImage> wide = readImageFromMemory(test::bmpBytes(one, 2048, 1, Bytes(2048, 0)), "wide.bmp");
  ASSERT_TRUE(wide) << wide.error().message();
  EXPECT_EQ(wide->width, 2048u);

  // A file larger than any image is not read past its header.
  const std::string big = dir.file("big.bmp");
  const Bytes small = test::bmpBytes(one, 1, 1, Bytes(4, 0));
  ASSERT_TRUE(test::writeFileBytes(big, small.data(), small.size()));
  std::filesystem::resize_file(big, kMaxImageFileBytes + 1);
  Result<RgbaImage> tooBig = readImage(big);
  ASSERT_FALSE(tooBig);
  EXPECT_EQ(tooBig.error().cause, ErrorCause::LimitExceeded);
  EXPECT_NE(tooBig.error().detail.find("images of at most 40 MB are read"), std::string::npos);
}

} // namespace
} // namespace zelvo
