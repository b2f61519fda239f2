#include "tiles/header_blocks.h"

#include "compress/section_reader.h"

#include <cstdio>

namespace zelvo {

Error undefinedFlags(std::uint32_t bits, const std::string& path, const char* where) {
  char text[48];
  std::snprintf(text, sizeof text, "undefined flag bits 0x%X", unsigned(bits));
  return makeError(ErrorCause::BadFormat, path, text + std::string(where));
}

Status readHeaderBlocks(File& file, Md5Digest* digest, bool extraBlock, const std::string& path) {
  if (digest) {
    if (Status s = readExactly(file, digest->data(), digest->size(), path, "the digest"); !s) return s;
  }
  if (extraBlock) {
    std::uint8_t unused[16];
    if (Status s = readExactly(file, unused, sizeof unused, path, "the block after the header"); !s) return s;
  }
  return {};
}

} // namespace zelvo
