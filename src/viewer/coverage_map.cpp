#include "viewer/coverage_map.h"

#include "platform/text.h"
#include "viewer/legend.h"
#include "viewer/pack_preview.h"

#include <algorithm>
#include <vector>

namespace zelvo {

namespace {

constexpr Colour kMapGround{64, 64, 64, 255}; // beneath the export's transparent pixels
constexpr int kTintWeight = 100;              // of 256: how far a square's pixels go to its colour
constexpr SquareKind kKinds[] = {SquareKind::PaintedHere, SquareKind::PaintedElsewhere,
                                 SquareKind::Unpainted};

// Every pixel blended by its alpha over `ground`, then opaque.
void flatten(RgbaImage& image, Colour ground) {
  const int under[3] = {ground.red, ground.green, ground.blue};
  std::uint8_t* p = image.pixels.get();
  for (std::size_t i = 0; i < std::size_t(image.width) * image.height; ++i, p += 4) {
    const int alpha = p[3];
    for (int c = 0; c < 3; ++c) p[c] = std::uint8_t((p[c] * alpha + under[c] * (255 - alpha) + 127) / 255);
    p[3] = 255;
  }
}

} // namespace

Colour squareTint(SquareKind kind) {
  switch (kind) {
  case SquareKind::PaintedHere:
    return {40, 210, 90, 255};
  case SquareKind::PaintedElsewhere:
    return {60, 130, 255, 255};
  case SquareKind::Unpainted:
    break;
  }
  return {250, 60, 40, 255};
}

const char* squareWords(SquareKind kind) {
  switch (kind) {
  case SquareKind::PaintedHere:
    return "painted here";
  case SquareKind::PaintedElsewhere:
    return "painted elsewhere";
  case SquareKind::Unpainted:
    break;
  }
  return "unpainted";
}

void tintSquares(RgbaImage& image, const ScreenCoverage& coverage, int coverageScale, int imageScale) {
  if (coverageScale < 1 || imageScale < 1 || !image.pixels) return;
  // What each pixel shows, the later square winning: 0 nothing, else 1 + the kind, plus 8 on an
  // edge. Every pixel is then tinted once.
  const std::size_t width = image.width, height = image.height;
  std::vector<std::uint8_t> shows(width * height, 0);
  const int edge = 8 * imageScale, line = std::max(1, imageScale / 2);
  for (const CoverageSquare& square : coverage.squares) {
    const long long left = (long long)square.left * imageScale / coverageScale;
    const long long top = (long long)square.top * imageScale / coverageScale;
    const std::uint8_t kind = std::uint8_t(1 + int(square.kind));
    for (long long y = std::max(top, 0ll); y < std::min(top + edge, (long long)height); ++y)
      for (long long x = std::max(left, 0ll); x < std::min(left + edge, (long long)width); ++x) {
        const bool onEdge =
            x < left + line || x >= left + edge - line || y < top + line || y >= top + edge - line;
        shows[std::size_t(y) * width + std::size_t(x)] = std::uint8_t(kind | (onEdge ? 8 : 0));
      }
  }
  for (std::size_t y = 0; y < height; ++y)
    for (std::size_t x = 0; x < width; ++x) {
      const std::uint8_t s = shows[y * width + x];
      if (!s) continue;
      const Colour tint = squareTint(SquareKind((s & 7) - 1));
      tintRect(image, int(x), int(y), 1, 1, tint, (s & 8) ? 256 : kTintWeight);
    }
}

Result<RgbaImage> renderCoverageMap(const ScreenFile& screen, const ScreenCoverage& coverage, int scale) {
  Result<RgbaImage> plain = renderPlain(screen, scale);
  if (!plain) return plain;
  flatten(*plain, kMapGround);
  tintSquares(*plain, coverage, scale, scale);

  const std::size_t counts[] = {coverage.paintedHere, coverage.paintedElsewhere, coverage.unpainted};
  std::vector<LegendEntry> entries;
  for (int k = 0; k < 3; ++k) {
    const Colour tint = squareTint(kKinds[k]);
    entries.push_back({std::string(squareWords(kKinds[k])) + ": " + groupedNumber(counts[k]),
                       [tint](RgbaImage& image, int left, int top, int edge) {
                         fillRect(image, left, top, edge, edge, tint);
                       }});
  }
  const Legend legend(printable(coverage.screen) + " at " + std::to_string(scale) + "x", std::move(entries),
                      textScaleFor(scale));
  const int width = std::max(int(plain->width), legend.minimumWidth());
  const int strip = legend.height(width);
  Result<RgbaImage> map =
      makeRgbaImage(std::uint32_t(width), plain->height + std::uint32_t(strip), "the map");
  if (!map) return map;
  fillImage(*map, kMapGround.red, kMapGround.green, kMapGround.blue, 255);
  pasteImage(*map, *plain, 0, 0);
  legend.draw(*map, int(plain->height), width);
  return map;
}

} // namespace zelvo
