// Stored sections and the choice of a decompressor by method number.
#include "compress/streams.h"

#include "compress/codec_error.h"

#include <new>

namespace zelvo {

Status CDefaultDecompressor::Read(File& file, void* buffer, std::size_t size) {
  if (Status s = file.readExact(buffer, size); !s) return streamReadError(s.error());
  return {};
}

std::unique_ptr<IDecompressor> CreateDecompressor(std::uint32_t method) {
  switch (method) {
  case kMethodStored:
    return std::unique_ptr<IDecompressor>(new (std::nothrow) CDefaultDecompressor);
  case kMethodDeflate:
    return std::unique_ptr<IDecompressor>(new (std::nothrow) CDeflateDecompressor);
  case kMethodBZip2:
    return std::unique_ptr<IDecompressor>(new (std::nothrow) CBZip2Decompressor);
  case kMethodLZMA:
    return std::unique_ptr<IDecompressor>(new (std::nothrow) CLZMADecompressor);
  default:
    return nullptr;
  }
}

} // namespace zelvo
