#include "compress/rom_rules.h"

#include <cstring>

namespace zelvo {

Status checkRomSize(std::uint64_t size, const std::string& path) {
  if (romSizeAllowed(size)) return {};
  return makeError(ErrorCause::BadFormat, path,
                   "the ROM holds " + std::to_string(size) + " bytes; a ROM holds " +
                       std::to_string(kRomMinSize) + " to " + std::to_string(kRomMaxSize));
}

bool hasRomSignature(const std::uint8_t* image, std::size_t length) {
  return length >= kRomSignatureOffset + sizeof kRomSignature &&
         std::memcmp(image + kRomSignatureOffset, kRomSignature, sizeof kRomSignature) == 0;
}

} // namespace zelvo
