// A strip of words beneath or above a picture: a title line, then entries (a small square of
// colour and its words) laid out left to right, wrapping to the strip's width.
#pragma once

#include "render/bitmap_font.h"
#include "render/rgba_image.h"

#include <functional>
#include <string>
#include <vector>

namespace zelvo {

inline constexpr Colour kStripGround{40, 40, 40, 255};
inline constexpr Colour kStripText{240, 240, 240, 255};

struct LegendEntry {
  std::string words;
  // Draws the entry's square, `edge` pixels wide, with its top-left corner at (left, top).
  std::function<void(RgbaImage& image, int left, int top, int edge)> swatch;
};

class Legend {
public:
  Legend(std::string title, std::vector<LegendEntry> entries, int textScale)
      : title_(std::move(title)), entries_(std::move(entries)), scale_(textScale) {}

  // The narrowest strip that holds the title and each entry on a line.
  int minimumWidth() const;
  // The height of the strip at `width` pixels.
  int height(int width) const { return layout(width, nullptr, 0); }
  // Fills the strip of `width` pixels whose top is at `top` and draws the title and entries.
  void draw(RgbaImage& image, int top, int width) const { layout(width, &image, top); }

private:
  int margin() const { return 4 * scale_; }
  int lineHeight() const { return kGlyphHeight * scale_ + margin(); }
  int entryWidth(const LegendEntry& entry) const;
  // Places the title and entries on lines; draws them when `image` is given. Returns the height.
  int layout(int width, RgbaImage* image, int top) const;

  std::string title_;
  std::vector<LegendEntry> entries_;
  int scale_;
};

// The whole scale of the words on a picture drawn at `scale` (1 to 4): 1 at 1x, 2 at 2x and 3x,
// 3 at 4x.
inline int textScaleFor(int scale) { return scale / 2 + 1; }

} // namespace zelvo
