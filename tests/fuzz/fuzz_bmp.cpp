// Fuzz target: the BMP reader.
#include "image_target.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return zelvo::fuzz::readImageInput(data, size, "fuzz.bmp");
}
