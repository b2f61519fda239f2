// The console's rules that the tests' expectations are built from, written out here apart from the
// program's own helpers, so that a test does not take its expectation from the code it checks.
#pragma once

#include <cstdint>

namespace zelvo::test {

// Name-word bits of a background cell.
inline constexpr std::uint16_t kFlipH = 0x200, kFlipV = 0x400, kPriority = 0x1000;

// The background group a name word's flip and priority bits give: horizontal flip 1, vertical
// flip 2, priority 4.
inline int groupOfNameWord(std::uint16_t nameWord) {
  return (nameWord & kFlipH ? 1 : 0) | (nameWord & kFlipV ? 2 : 0) | (nameWord & kPriority ? 4 : 0);
}

// Where a sprite's squares lie in an image at `factor`, by the console's clamps: x beyond 248 is 248; the
// upper tile's y from 215 and the lower tile's from 207 on is 216; each square starts one line below its y,
// the lower one a tile further down.
struct SpriteCorners {
  int left, upperTop, lowerTop;
};
inline SpriteCorners spriteCorners(std::uint8_t x, std::uint8_t y, int factor) {
  const int edge = 8 * factor;
  return {(x >= 248 ? 248 : x) * factor, (y >= 215 ? 216 : y) * factor + 1,
          (y >= 207 ? 216 : y) * factor + 1 + edge};
}

} // namespace zelvo::test
