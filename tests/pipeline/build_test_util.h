// Helpers of the build tests: the report's log lines, and images painted over screens (tiles and
// screen files come from support/fixtures.h).
#pragma once

#include "pipeline/build_report.h"
#include "render/image_save.h"
#include "render/rgba_image.h"
#include "support/fixtures.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace zelvo::test {

// A line the build's report adds between its stage, error and "Success!" lines.
inline bool isReportLine(const std::string& line) {
  const LogLineKind kind = logLineKind(line);
  return kind == LogLineKind::Info || kind == LogLineKind::Warning;
}

// An image of every pixel 0 (black, alpha 0).
inline RgbaImage blankImage(int width, int height) {
  return makeRgbaImage(std::uint32_t(width), std::uint32_t(height)).value();
}

// Puts hi-res tile bytes (edge x edge pixels of blue, green, red, alpha, top row first) at
// (left, top) counted from the top.
inline void putTile(RgbaImage& image, int left, int top, int edge, const std::vector<std::uint8_t>& tile) {
  for (int y = 0; y < edge; ++y)
    for (int x = 0; x < edge; ++x) {
      const std::uint8_t* in = &tile[std::size_t(y * edge + x) * 4];
      std::uint8_t* out = image.at(std::uint32_t(left + x), std::uint32_t(top + y));
      const std::uint8_t rgba[4] = {in[2], in[1], in[0], in[3]};
      std::memcpy(out, rgba, 4);
    }
}

inline bool savePng(const RgbaImage& image, const std::string& path) {
  return saveImageAtomically(image, ImageFormat::Png, path).ok();
}
// A 24-bit BMP of the colours (alpha dropped).
inline bool saveBmp(const RgbaImage& image, const std::string& path) {
  return saveImageAtomically(image, ImageFormat::Bmp, path).ok();
}
// A grey image of one value: as BMP, 8 bits with a palette of 256 greys (as the export's alpha
// images are); as PNG, 8-bit RGB.
inline bool saveGrey(int width, int height, std::uint8_t value, const std::string& path, ImageFormat format) {
  RgbaImage image = blankImage(width, height);
  if (format == ImageFormat::Png) {
    fillImage(image, value, value, value, 255);
    return savePng(image, path);
  }
  fillImage(image, 0, 0, 0, value);
  Result<AtomicSave> save = writeAlphaBmpSave(image, path);
  return save && save->commit().ok();
}

} // namespace zelvo::test
