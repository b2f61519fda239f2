// Stored sections and the choice of a decompressor by method number.
#include "compress/streams.h"

#include "compress/codec_error.h"

#include <new>

namespace zelvo {

Status CDefaultDecompressor::Read(File& file, void* buffer, std::size_t size) {
  if (Status s = file.readExact(buffer, size); !s) return streamReadError(s.error());
  return {};
}

Result<std::unique_ptr<IDecompressor>> CreateDecompressor(std::uint32_t method) {
  // The objects are small: each stream takes its buffers on the first Read.
  switch (method) {
  case kMethodStored:
    return std::unique_ptr<IDecompressor>(std::make_unique<CDefaultDecompressor>());
  case kMethodDeflate:
    return std::unique_ptr<IDecompressor>(std::make_unique<CDeflateDecompressor>());
  case kMethodBZip2:
    return std::unique_ptr<IDecompressor>(std::make_unique<CBZip2Decompressor>());
  case kMethodLZMA:
    return std::unique_ptr<IDecompressor>(std::make_unique<CLZMADecompressor>());
  default:
    return makeError(ErrorCause::Unsupported, {}, "unknown compression method " + std::to_string(method));
  }
}

} // namespace zelvo
