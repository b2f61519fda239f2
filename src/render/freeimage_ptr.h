// Ownership of FreeImage bitmaps, and the library's set-up for untrusted images.
#pragma once

#include <FreeImage.h>
#include <memory>

namespace zelvo {

struct FreeImageUnloader {
  void operator()(FIBITMAP* bitmap) const {
    if (bitmap) FreeImage_Unload(bitmap);
  }
};
// Every bitmap the system makes is held by one of these, so no path leaks one.
using FiBitmap = std::unique_ptr<FIBITMAP, FreeImageUnloader>;

// Initialises FreeImage and leaves only the PNG and BMP plugins enabled. FreeImage serves images
// the program makes itself (export, scaling, the viewer); artists' files are read by
// render/image_read.h. Pair with shutdownFreeImage().
void initFreeImage();
void shutdownFreeImage();

// Initialises FreeImage for the lifetime of the object (the command line and the tests).
class FreeImageSession {
public:
  FreeImageSession() { initFreeImage(); }
  ~FreeImageSession() { shutdownFreeImage(); }
  FreeImageSession(const FreeImageSession&) = delete;
  FreeImageSession& operator=(const FreeImageSession&) = delete;
};

} // namespace zelvo
