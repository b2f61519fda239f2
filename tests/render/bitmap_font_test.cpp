// The bitmap font: known glyphs drawn where and as large as asked, text clipped at the image's
// edges, and a table of glyphs in which no two characters look alike.
#include "render/bitmap_font.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace zelvo {
namespace {

// The image as rows of '#' (the text's colour) and '.' (anything else).
std::vector<std::string> artOf(const RgbaImage& image) {
  std::vector<std::string> rows;
  for (std::uint32_t y = 0; y < image.height; ++y) {
    std::string row;
    for (std::uint32_t x = 0; x < image.width; ++x) row += image.at(x, y)[0] == 255 ? '#' : '.';
    rows.push_back(row);
  }
  return rows;
}

TEST(BitmapFont, DrawsKnownGlyphsAtTheirPlaceAndScale) {
  const Colour red{255, 0, 0, 255};
  const struct {
    const char* text;
    int left, top, scale;
    std::uint32_t width, height;
    std::vector<std::string> art;
  } cases[] = {
      {"A",
       1,
       0,
       1,
       7,
       8,
       {"..###..", ".#...#.", ".#...#.", ".#####.", ".#...#.", ".#...#.", ".#...#.", "......."}},
      // A descender reaches the eighth row; the space between glyphs is one column.
      {"gj",
       0,
       0,
       1,
       11,
       8,
       {".........#.", "...........", ".####...##.", "#...#....#.", "#...#....#.", ".####....#.",
        "....#.#..#.", ".###...##.."}},
      // Outside ASCII: one '?' for a control character, one for a whole UTF-8 sequence.
      {"\x01", 0, 0, 1, 5, 7, {".###.", "#...#", "....#", "...#.", "..#..", ".....", "..#.."}},
      {"\xC3\xA9:",
       0,
       1,
       1,
       11,
       5,
       {"...........", ".###.......", "#...#..##..", "....#..##..", "...#......."}},
      // Each pixel a square of the scale; what lies outside the image is left out.
      {"1",
       -2,
       -2,
       2,
       8,
       8,
       {"####....", "####....", "..##....", "..##....", "..##....", "..##....", "..##....", "..##...."}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    RgbaImage image = makeRgbaImage(c.width, c.height).value();
    const int end = drawText(image, c.left, c.top, c.text, c.scale, red);
    EXPECT_EQ(artOf(image), c.art);
    EXPECT_EQ(end, c.left + textWidth(c.text, c.scale));
    EXPECT_EQ(image.at(0, 0)[3], c.art[0][0] == '#' ? 255 : 0) << "alpha as the colour's, else untouched";
  }
  EXPECT_EQ(textWidth("", 3), 0);
  EXPECT_EQ(textWidth("ab", 3), 33);
}

// A slip in the table (a glyph copied over another, a row lost) shows as two characters drawn
// alike, or as a printable character drawn as nothing.
TEST(BitmapFont, EveryPrintableCharacterHasAGlyphOfItsOwn) {
  std::set<std::string> seen;
  for (char c = ' '; c <= '~'; ++c) {
    const std::string rows(reinterpret_cast<const char*>(glyphRows(c)), kGlyphHeight);
    EXPECT_TRUE(seen.insert(rows).second) << "'" << c << "' looks like another character";
    EXPECT_EQ(rows == std::string(kGlyphHeight, '\0'), c == ' ') << "'" << c << "'";
    for (char row : rows) EXPECT_EQ(row & ~0x1F, 0) << "'" << c << "' is wider than 5 pixels";
  }
}

} // namespace
} // namespace zelvo
