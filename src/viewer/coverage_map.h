// Pictures of the coverage: a screen with each of its squares (cells, sprite tiles) tinted by what
// it shows, painted here, painted elsewhere or unpainted, and a legend in words.
#pragma once

#include "pipeline/coverage.h"
#include "platform/error.h"
#include "render/bitmap_font.h"
#include "render/rgba_image.h"
#include "tiles/screen_file.h"

#include <string>

namespace zelvo {

// The colour each kind of square is tinted with, and its words in a legend.
Colour squareTint(SquareKind kind);
const char* squareWords(SquareKind kind);

// Tints the squares of one screen on `image`, a picture of that screen at `imageScale` (1 to 4)
// whose squares were counted at `coverageScale`: each square's pixels moved part of the way to its
// kind's colour and its edge drawn in that colour. Where squares overlap (sprites), the later one
// is seen, as in the export. The image's alpha is left as it is.
void tintSquares(RgbaImage& image, const ScreenCoverage& coverage, int coverageScale, int imageScale);

// The map of one screen: the screen as the export draws it at `scale` (its background, or its
// sprites when it has none), made opaque over grey, its squares tinted, and a strip beneath that
// names the screen and the scale and gives each kind's colour, words and count. `coverage` was
// counted at `scale`. Fails when the screen cannot be drawn or memory runs out.
Result<RgbaImage> renderCoverageMap(const ScreenFile& screen, const ScreenCoverage& coverage, int scale);

} // namespace zelvo
