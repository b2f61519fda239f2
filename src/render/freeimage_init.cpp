#include "render/freeimage_ptr.h"

namespace zelvo {

void initFreeImage() {
  FreeImage_Initialise(FALSE);
  const int count = FreeImage_GetFIFCount();
  for (int i = 0; i < count; ++i) {
    auto fif = static_cast<FREE_IMAGE_FORMAT>(i);
    FreeImage_SetPluginEnabled(fif, fif == FIF_PNG || fif == FIF_BMP);
  }
}

void shutdownFreeImage() { FreeImage_DeInitialise(); }

} // namespace zelvo
