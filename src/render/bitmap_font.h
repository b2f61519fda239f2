// Words drawn on pictures (legends, captions, labels) with a small bitmap font of our own: the
// printable ASCII characters, each glyph 5 pixels wide and 8 tall (7 above the baseline, one
// beneath it for descenders), drawn at a whole scale. Also the filled and tinted rectangles the
// legends are made of.
#pragma once

#include "render/rgba_image.h"

#include <cstdint>
#include <string_view>

namespace zelvo {

inline constexpr int kGlyphWidth = 5;
inline constexpr int kGlyphHeight = 8;
inline constexpr int kGlyphAdvance = 6; // the glyph and one column of space

struct Colour {
  std::uint8_t red = 0, green = 0, blue = 0, alpha = 255;
};

// The 8 rows of the glyph of `c`, top first, bit 4 the leftmost pixel. A character outside ' ' to
// '~' has the glyph of '?'.
const std::uint8_t* glyphRows(char c);

// The characters `text` draws as: one per byte, except that the continuation bytes of a UTF-8
// sequence draw nothing (a letter outside ASCII is one '?').
std::size_t drawnLength(std::string_view text);
// The width in pixels of `text` at `scale`: kGlyphAdvance per character drawn, less the space
// after the last one; 0 for no character.
int textWidth(std::string_view text, int scale);

// Draws `text` in `colour`, the top-left corner of its first glyph at (left, top), each pixel of a
// glyph a `scale` x `scale` square; what falls outside the image is left out. Returns the x just
// past the last glyph.
int drawText(RgbaImage& image, int left, int top, std::string_view text, int scale, Colour colour);

// Sets every pixel of the rectangle that lies inside the image to `colour`.
void fillRect(RgbaImage& image, int left, int top, int width, int height, Colour colour);
// Moves the colour of every pixel of the rectangle that lies inside the image `weight` 256ths of
// the way to `colour` (its alpha is left as it is).
void tintRect(RgbaImage& image, int left, int top, int width, int height, Colour colour, int weight);

} // namespace zelvo
