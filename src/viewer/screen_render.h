// Turning a screen file into a picture: its background grid or its sprites drawn at 1x to 4x,
// either opaque (the viewer) or with transparency (the export). Every tile is drawn into an 8x8
// block and enlarged on its own by enlargeTileBlock (render/scale.h), as the build enlarges it.
#pragma once

#include "platform/error.h"
#include "render/rgba_image.h"
#include "tiles/screen_file.h"

#include <cstdint>

namespace zelvo {

// Olive (0xRRGGBB: red 128, green 128, blue 0): what the viewer shows beneath a screen's sprites.
inline constexpr std::uint32_t kSpriteFillColour = 8421376;

// The visible part of an image of the whole grid at `factor`: the right-hand width x height pixels
// of the grid's top rows (times `factor`); the image itself when the screen fills the grid or claims
// more than it.
Result<RgbaImage> cutToVisible(RgbaImage image, const ScreenFile& screen, int factor);

// The image of the background grid, 256 x factor by 224 x factor cut to the screen's visible
// width and height (the right-hand columns and top rows of the grid). Fails without a header,
// tiles or grid, for a factor outside 1 to 4, or when memory runs out.
// Opaque: every pixel alpha 255, a cell that does not resolve against the tiles black.
// Transparent: cells without the priority bit fully opaque, cells with it transparent at colour
// index 0, a cell that does not resolve black with alpha 0.
Result<RgbaImage> renderBackground(const ScreenFile& screen, bool transparent, int factor);

// The image of the sprites, always 256 x factor by 224 x factor. Opaque: filled with
// `fillColour` (0xRRGGBB), every pixel alpha 255, and every sprite's colour index 0 showing what
// lies beneath. Transparent: the image stays transparent black where no sprite lies, and each
// sprite tile's whole square replaces what lies beneath it. Fails without a header, tiles or
// sprites, for a factor outside 1 to 4, or when memory runs out.
Result<RgbaImage> renderSprites(const ScreenFile& screen, bool transparent, std::uint32_t fillColour,
                                int factor);

// What the viewer shows at 1x: the background opaque, else the sprites opaque over olive. Fails
// for a screen with neither.
Result<RgbaImage> renderForDisplay(const ScreenFile& screen);

} // namespace zelvo
