#include "viewer/legend.h"

#include <algorithm>

namespace zelvo {

int Legend::entryWidth(const LegendEntry& entry) const {
  return kGlyphHeight * scale_ + margin() + textWidth(entry.words, scale_);
}

int Legend::minimumWidth() const {
  int widest = textWidth(title_, scale_);
  for (const LegendEntry& entry : entries_) widest = std::max(widest, entryWidth(entry));
  return widest + 2 * margin();
}

int Legend::layout(int width, RgbaImage* image, int top) const {
  if (image) fillRect(*image, 0, top, width, height(width), kStripGround);
  int y = margin();
  if (!title_.empty()) {
    if (image) drawText(*image, margin(), top + y, title_, scale_, kStripText);
    y += lineHeight();
  }
  int x = margin();
  const int edge = kGlyphHeight * scale_;
  for (const LegendEntry& entry : entries_) {
    const int needed = entryWidth(entry);
    if (x > margin() && x + needed + margin() > width) {
      x = margin();
      y += lineHeight();
    }
    if (image) {
      if (entry.swatch) entry.swatch(*image, x, top + y, edge);
      drawText(*image, x + edge + margin(), top + y, entry.words, scale_, kStripText);
    }
    x += needed + 3 * margin();
  }
  if (x > margin()) y += lineHeight();
  return y;
}

} // namespace zelvo
