#include "support/image_files.h"

#include "platform/byte_io.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <spng.h>

namespace zelvo::test {

Picture randomPicture(int width, int height, unsigned seed) {
  Picture picture{width, height, std::vector<std::uint8_t>(std::size_t(width) * height * 4)};
  std::mt19937 random(seed);
  for (auto& byte : picture.rgba) byte = std::uint8_t(random());
  return picture;
}

std::vector<std::uint8_t> pngBytes(const PngLayout& layout, int width, int height,
                                   const std::vector<std::uint8_t>& samples) {
  struct Free {
    void operator()(spng_ctx* ctx) const { spng_ctx_free(ctx); }
  };
  std::unique_ptr<spng_ctx, Free> ctx(spng_ctx_new(SPNG_CTX_ENCODER));
  if (!ctx) return {};
  spng_set_option(ctx.get(), SPNG_ENCODE_TO_BUFFER, 1);
  if (layout.filters >= 0) spng_set_option(ctx.get(), SPNG_FILTER_CHOICE, layout.filters);
  spng_ihdr ihdr{std::uint32_t(width),
                 std::uint32_t(height),
                 layout.bitDepth,
                 layout.colourType,
                 0,
                 0,
                 std::uint8_t(layout.interlaced ? 1 : 0)};
  if (spng_set_ihdr(ctx.get(), &ihdr)) return {};
  if (!layout.palette.empty()) {
    spng_plte plte{};
    spng_trns trns{};
    plte.n_entries = std::uint32_t(layout.palette.size());
    trns.n_type3_entries = plte.n_entries;
    for (std::size_t i = 0; i < layout.palette.size(); ++i) {
      plte.entries[i] = {layout.palette[i][0], layout.palette[i][1], layout.palette[i][2], 255};
      trns.type3_alpha[i] = layout.palette[i][3];
    }
    if (spng_set_plte(ctx.get(), &plte)) return {};
    if (layout.transparency && spng_set_trns(ctx.get(), &trns)) return {};
  }
  if (layout.gamma && spng_set_gama(ctx.get(), *layout.gamma)) return {};
  if (layout.srgb && spng_set_srgb(ctx.get(), 0)) return {};
  if (layout.chromaticities) {
    spng_chrm chrm{0.3127, 0.329, 0.64, 0.33, 0.3, 0.6, 0.15, 0.06};
    if (spng_set_chrm(ctx.get(), &chrm)) return {};
  }
  char profile[128] = {};
  if (layout.iccProfile) {
    spng_iccp iccp{};
    std::strcpy(iccp.profile_name, "test profile");
    iccp.profile_len = sizeof profile;
    iccp.profile = profile;
    if (spng_set_iccp(ctx.get(), &iccp)) return {};
  }
  if (spng_encode_image(ctx.get(), samples.data(), samples.size(), SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE))
    return {};
  std::size_t size = 0;
  int error = 0;
  void* buffer = spng_get_png_buffer(ctx.get(), &size, &error);
  if (!buffer || error) return {};
  std::vector<std::uint8_t> bytes(static_cast<std::uint8_t*>(buffer),
                                  static_cast<std::uint8_t*>(buffer) + size);
  std::free(buffer);
  return bytes;
}

std::vector<std::uint8_t> rgbaPng(const Picture& picture) {
  return pngBytes(PngLayout{}, picture.width, picture.height, picture.rgba);
}

std::vector<std::uint8_t> bmpBytes(const BmpLayout& layout, std::int32_t width, std::int32_t height,
                                   const std::vector<std::uint8_t>& pixelData) {
  const bool core = layout.headerSize == 12;
  std::size_t trailingMasks = 0;
  if (layout.headerSize == 40 && layout.compression == kBmpBitfields) trailingMasks = 3;
  if (layout.headerSize == 40 && layout.compression == kBmpAlphaBitfields) trailingMasks = 4;
  const std::size_t entry = core ? 3 : 4;
  const std::size_t paletteAt = 14 + layout.headerSize + 4 * trailingMasks;
  const std::size_t pixelsAt =
      layout.pixelOffset.value_or(std::uint32_t(paletteAt + entry * layout.palette.size()));
  std::vector<std::uint8_t> out(std::max(pixelsAt, paletteAt + entry * layout.palette.size()) +
                                pixelData.size());
  ByteWriter w(out.data(), out.size());
  w.u16(0x4D42);
  w.u32(std::uint32_t(out.size()));
  w.u32(0);
  w.u32(std::uint32_t(pixelsAt));
  w.u32(layout.headerSize);
  const std::int32_t rows = layout.topDown ? -height : height;
  if (core) {
    w.u16(std::uint16_t(width));
    w.u16(std::uint16_t(rows));
    w.u16(layout.planes);
    w.u16(layout.bits);
  } else {
    const std::uint32_t full = layout.bits <= 8 ? 1u << layout.bits : 0;
    const std::uint32_t used =
        std::uint32_t(layout.palette.size()) == full ? 0 : std::uint32_t(layout.palette.size());
    w.u32(std::uint32_t(width));
    w.u32(std::uint32_t(rows));
    w.u16(layout.planes);
    w.u16(layout.bits);
    w.u32(layout.compression);
    w.u32(std::uint32_t(pixelData.size()));
    w.u32(2835); // 72 dpi
    w.u32(2835);
    w.u32(layout.coloursUsed.value_or(used));
    w.u32(0);
    const int inHeader = layout.headerSize >= 56 ? 4 : layout.headerSize >= 52 ? 3 : 0;
    for (int i = 0; i < inHeader; ++i) w.u32(layout.masks[i]);
    if (layout.headerSize >= 108) w.u32(0x73524742); // 'sRGB'; the rest (end points, gamma, intent) stays 0
    w.seek(14 + layout.headerSize);
    for (std::size_t i = 0; i < trailingMasks; ++i) w.u32(layout.masks[i]);
  }
  w.seek(paletteAt);
  for (const auto& c : layout.palette) {
    w.u8(c[2]);
    w.u8(c[1]);
    w.u8(c[0]);
    if (!core) w.u8(0);
  }
  w.seek(pixelsAt);
  w.bytes(pixelData.data(), pixelData.size());
  return out;
}

std::vector<std::uint8_t> bmpRows(int width, int height, int bits, bool topDown,
                                  const std::function<std::uint32_t(int, int)>& value) {
  const std::size_t stride = (std::size_t(width) * bits + 31) / 32 * 4;
  std::vector<std::uint8_t> out(stride * height);
  for (int i = 0; i < height; ++i) {
    const int y = topDown ? i : height - 1 - i;
    std::uint8_t* row = out.data() + stride * i;
    for (int x = 0; x < width; ++x) {
      const std::uint32_t v = value(x, y);
      if (bits <= 8) {
        const std::size_t bit = std::size_t(x) * bits;
        row[bit / 8] |= std::uint8_t(v << (8 - bits - bit % 8));
      } else {
        for (int b = 0; b < bits / 8; ++b) row[std::size_t(x) * (bits / 8) + b] = std::uint8_t(v >> (8 * b));
      }
    }
  }
  return out;
}

std::vector<std::uint8_t> bmpRle(int width, int height, bool fourBits,
                                 const std::function<int(int, int)>& index) {
  std::vector<std::uint8_t> out;
  auto skippedFrom = [&](int x, int row) { // every pixel from (x, row) on, rows bottom-up, is skipped
    for (int r = row; r < height; ++r)
      for (int i = r == row ? x : 0; i < width; ++i)
        if (index(i, height - 1 - r) >= 0) return false;
    return true;
  };
  auto rowSkipped = [&](int row) {
    for (int i = 0; i < width; ++i)
      if (index(i, height - 1 - row) >= 0) return false;
    return true;
  };
  for (int row = 0; row < height; ++row) {
    const int y = height - 1 - row;
    int x = 0;
    if (skippedFrom(0, row)) break;
    if (row + 1 < height && rowSkipped(row)) { // whole rows skipped: one delta down
      int down = 1;
      while (row + down < height && rowSkipped(row + down)) ++down;
      out.insert(out.end(), {0, 2, 0, std::uint8_t(down)});
      row += down - 1;
      continue; // the delta keeps x at 0 and moves to the first row with pixels
    }
    while (x < width) {
      if (index(x, y) < 0) {
        int end = x;
        while (end < width && index(end, y) < 0) ++end;
        if (end == width) break; // the end of line skips the rest
        out.insert(out.end(), {0, 2, std::uint8_t(end - x), 0});
        x = end;
        continue;
      }
      const int v = index(x, y);
      int run = 1;
      while (x + run < width && run < 255 && index(x + run, y) == v) ++run;
      if (run >= 2) {
        out.insert(out.end(), {std::uint8_t(run), std::uint8_t(fourBits ? v * 17 : v)});
        x += run;
        continue;
      }
      int count = 1; // a literal stretch up to the next run of two or skipped pixel
      while (x + count < width && count < 255 && index(x + count, y) >= 0 &&
             !(x + count + 1 < width && index(x + count, y) == index(x + count + 1, y)))
        ++count;
      if (count < 3) {
        for (int i = 0; i < count; ++i)
          out.insert(out.end(), {1, std::uint8_t(fourBits ? index(x + i, y) << 4 : index(x + i, y))});
      } else {
        out.insert(out.end(), {0, std::uint8_t(count)});
        std::vector<std::uint8_t> data(fourBits ? (count + 1) / 2 : count);
        for (int i = 0; i < count; ++i) {
          const int p = index(x + i, y);
          if (fourBits)
            data[i / 2] |= std::uint8_t(i % 2 ? p : p << 4);
          else
            data[i] = std::uint8_t(p);
        }
        if (data.size() % 2) data.push_back(0);
        out.insert(out.end(), data.begin(), data.end());
      }
      x += count;
    }
    if (row + 1 < height && !skippedFrom(0, row + 1)) out.insert(out.end(), {0, 0});
  }
  out.insert(out.end(), {0, 1});
  return out;
}

} // namespace zelvo::test
