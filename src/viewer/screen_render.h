// Turning a screen file into a picture: its background grid or its sprites drawn into a 32-bit
// FreeImage image at 1x to 4x, either opaque (the viewer) or with transparency (the export).
#pragma once

#include "render/freeimage_ptr.h"
#include "tiles/screen_file.h"

#include <cstdint>

namespace zelvo {

// Olive (red 128, green 128, blue 0): what the viewer shows beneath a screen's sprites.
inline constexpr std::uint32_t kSpriteFillColour = 8421376;

// A 32-bit image as the renderer makes them: every pixel black with alpha 0. Null when memory
// runs out.
FiBitmap allocateScreenImage(int width, int height);

// The visible part of an image of the whole grid at `factor`: the right-hand width x height pixels
// of the grid's top rows (times `factor`). The image itself when the screen fills the grid or the
// cut cannot be made.
FiBitmap cutToVisible(FiBitmap image, const ScreenFile& screen, int factor);

// The image of the background grid, 256 x factor by 224 x factor cut to the screen's visible
// width and height (the right-hand columns and top rows of the grid). Null without a header,
// tiles or grid, for a factor outside 1 to 4, or when memory runs out.
// Opaque: every cell decoded with alpha 0. Transparent: cells without the priority bit fully
// opaque, cells with it transparent at colour index 0. A cell that does not resolve against the
// tiles stays black with alpha 0.
FiBitmap renderBackground(const ScreenFile& screen, bool transparent, int factor);

// The image of the sprites, always 256 x factor by 224 x factor. Opaque: filled with
// `fillColour` and every sprite's colour index 0 showing what lies beneath. Transparent: the
// image stays transparent where no sprite lies, and each sprite tile's whole square replaces
// what lies beneath it. Null without a header, tiles or sprites, for a factor outside 1 to 4, or
// when memory runs out.
FiBitmap renderSprites(const ScreenFile& screen, bool transparent, std::uint32_t fillColour, int factor);

// What the viewer shows at 1x: the background opaque, else the sprites opaque over olive, else
// nothing.
FiBitmap renderForDisplay(const ScreenFile& screen);

} // namespace zelvo
