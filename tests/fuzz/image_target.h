// The image readers' fuzz targets: the input handed to the reader under a name whose extension
// names the format.
#pragma once

#include "render/image_read.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace zelvo::fuzz {

inline int readImageInput(const std::uint8_t* data, std::size_t size, const std::string& name) {
  std::vector<PngText> texts; // a sheet's map travels in one
  const auto image = readImageFromMemory(std::span<const std::uint8_t>(data, size), name, &texts);
  static_cast<void>(image.ok());
  return 0;
}

} // namespace zelvo::fuzz
