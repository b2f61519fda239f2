#include "compress/section_reader.h"

#include "compress/lzma_decoder.h"
#include "compress/streams.h"
#include "platform/byte_io.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

namespace zelvo {

namespace {

// Upper bounds on how much a compressed stream can expand, used to refuse a claim that could not
// possibly come out of the bytes at hand before any memory is taken for it:
// - stored: the payload is the bytes themselves.
// - deflate: the best a stream can do is a 258-byte match in 2 bits (1-bit length and distance
//   codes), 1032 bytes per input byte.
// - bzip2: a block holds at most 900,000 bytes after the first run-length stage, each 5 of which
//   (4 equal bytes and a count up to 251) stand for at most 255 bytes, so under 46,000,000 bytes per
//   block; a block costs at least 17 bytes (48-bit magic, 32-bit CRC, randomised bit, 24-bit origin
//   pointer, 32 bits of symbol map), and the stream a further 4.
// - LZMA: the range coder's probabilities stay within 31/2048 of certainty, so each binary decision
//   costs at least log2(2048/2017) bits and a byte of input pays for at most ~363 decisions; the
//   cheapest output is a 273-byte repeat in 14 decisions, under 7,100 bytes per input byte. 16384
//   leaves more than twice that.
constexpr std::uint64_t kDeflateMaxRatio = 1032;
constexpr std::uint64_t kBZip2MaxPerBlock = 46000000;
constexpr std::uint64_t kBZip2MinBlockBytes = 17;
constexpr std::uint64_t kBZip2StreamBytes = 4;
constexpr std::uint64_t kLzmaMaxRatio = 16384;

// The first grant of a growing block, and the pieces in which a digest-only read goes.
constexpr std::size_t kFirstGrant = 64 * 1024;
constexpr std::size_t kDigestPiece = 1 << 20;

std::uint64_t saturatingProduct(std::uint64_t a, std::uint64_t b) {
  return a != 0 && b > UINT64_MAX / a ? UINT64_MAX : a * b;
}

// The most `available` bytes of `method` can expand to.
std::uint64_t largestPayload(std::uint32_t method, std::uint64_t available) {
  switch (method) {
  case kMethodStored:
    return available;
  case kMethodDeflate:
    return saturatingProduct(available + 1, kDeflateMaxRatio);
  case kMethodBZip2:
    if (available < kBZip2StreamBytes + kBZip2MinBlockBytes) return 0;
    return saturatingProduct((available - kBZip2StreamBytes) / kBZip2MinBlockBytes, kBZip2MaxPerBlock);
  default:
    return saturatingProduct(available + 1, kLzmaMaxRatio);
  }
}

Error unknownMethod(std::uint32_t method, const std::string& path) {
  return makeError(ErrorCause::Unsupported, path, "unknown compression method " + std::to_string(method));
}

// An LZMA stream's properties, looked at before a decoder is made for them: the decoder takes the
// whole dictionary at once. The file stays where it was.
Status checkLzmaHead(File& file, const std::string& path) {
  constexpr std::size_t kFraming = 4, kProperties = 5;
  std::uint8_t head[kFraming + kProperties];
  const Result<std::size_t> read = file.read(head, sizeof head);
  if (!read) return read.error();
  const std::size_t got = *read;
  if (Status back = file.seekBy(-std::int64_t(got)); !back) return back;
  if (got < sizeof head || loadLE16(head + 2) != kProperties) return {}; // the decoder refuses these
  const std::uint32_t dictionary = loadLE32(head + kFraming + 1);
  if (dictionary > kMaxLzmaDictionary)
    return makeError(ErrorCause::LimitExceeded, path,
                     "the LZMA data ask for a dictionary of " + sizeText(dictionary) + "; at most " +
                         std::to_string(kMaxLzmaDictionary >> 20) + " MiB is allowed");
  if (!LzmaDecoder::propertiesUsable(head + kFraming, kProperties))
    return makeError(ErrorCause::BadFormat, path, "the LZMA properties are invalid");
  return {};
}

Result<std::unique_ptr<IDecompressor>> decompressorFor(File& file, std::uint32_t method,
                                                       const std::string& path) {
  if (method > kMethodLZMA) return unknownMethod(method, path);
  if (method == kMethodLZMA) {
    if (Status usable = checkLzmaHead(file, path); !usable) return usable.error();
  }
  Result<std::unique_ptr<IDecompressor>> decompressor = CreateDecompressor(method);
  if (!decompressor) return Error{decompressor.error().cause, path, decompressor.error().detail};
  return decompressor;
}

// The payload stopped early: `why` is the stream's reason (a read that failed, or memory, keeps
// its own cause; a damaged or short stream is BadFormat).
Error streamBroke(std::uint32_t method, std::uint64_t done, std::uint64_t size, const std::string& path,
                  const Error& why) {
  const bool ownCause = why.cause != ErrorCause::BadFormat && why.cause != ErrorCause::Truncated;
  return makeError(ownCause ? why.cause : ErrorCause::BadFormat, path,
                   std::string("the ") + methodName(method) + " payload ends or breaks after " +
                       std::to_string(done) + " of " + std::to_string(size) + " bytes: " + why.detail);
}

} // namespace

std::string sizeText(std::uint64_t bytes) {
  if (bytes < 1000) return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
  const char* units[] = {"KB", "MB", "GB", "TB", "PB", "EB"};
  double value = double(bytes) / 1000.0;
  int unit = 0;
  while (value >= 1000.0 && unit < 5) value /= 1000.0, ++unit;
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
  return text;
}

const char* methodName(std::uint32_t method) {
  switch (method) {
  case kMethodStored:
    return "stored";
  case kMethodDeflate:
    return "deflate";
  case kMethodBZip2:
    return "bzip2";
  case kMethodLZMA:
    return "lzma";
  default:
    return "unknown";
  }
}

Status checkExpansion(std::uint32_t method, std::uint64_t available, std::uint64_t payloadSize,
                      const std::string& path) {
  if (method > kMethodLZMA) return unknownMethod(method, path);
  const std::uint64_t largest = largestPayload(method, available);
  if (payloadSize <= largest) return {};
  return makeError(ErrorCause::Truncated, path,
                   "the payload claims " + sizeText(payloadSize) + " but the " + sizeText(available) +
                       " left can hold at most " + sizeText(largest) + " of " + methodName(method) + " data");
}

Status checkPayloadFitsFile(File& file, std::uint32_t method, std::uint64_t payloadSize,
                            const std::string& path) {
  const Result<std::uint64_t> at = file.position();
  if (!at) return at.error();
  const Result<std::uint64_t> sized = file.size();
  if (!sized) return sized.error();
  const std::uint64_t position = *at, size = *sized;
  return checkExpansion(method, size > position ? size - position : 0, payloadSize, path);
}

Status readExactly(File& file, void* buffer, std::size_t size, const std::string& path, const char* what) {
  const Result<std::size_t> read = file.read(buffer, size);
  if (!read) return read.error();
  const std::size_t got = *read;
  if (got != size)
    return makeError(ErrorCause::Truncated, path,
                     std::string(what) + " ends after " + std::to_string(got) + " of " +
                         std::to_string(size) + " bytes");
  return {};
}

Result<SectionBlock> readSectionBlock(File& file, std::uint32_t method, std::uint64_t payloadSize,
                                      std::size_t headroom, const std::string& path) {
  if (payloadSize > SIZE_MAX - headroom)
    return makeError(ErrorCause::LimitExceeded, path,
                     "a payload of " + sizeText(payloadSize) + " is too large");
  if (Status fits = checkPayloadFitsFile(file, method, payloadSize, path); !fits) return fits.error();
  Result<std::unique_ptr<IDecompressor>> decompressor = decompressorFor(file, method, path);
  if (!decompressor) return decompressor.error();

  const std::size_t full = headroom + std::size_t(payloadSize);
  std::size_t capacity = headroom + std::min<std::size_t>(std::size_t(payloadSize), kFirstGrant);
  SectionBlock block;
  block.data.reset(new (std::nothrow) std::uint8_t[std::max<std::size_t>(capacity, 1)]);
  if (!block.data) return makeError(ErrorCause::OutOfMemory, path, "no memory for the payload");
  Md5 md5;
  if (payloadSize == 0) {
    if (Status read = (*decompressor)->Read(file, block.data.get() + headroom, 0); !read)
      return streamBroke(method, 0, 0, path, read.error());
  }

  std::size_t filled = headroom;
  while (filled < full) {
    if (filled == capacity) {
      // Only data that really arrived earn more room.
      const std::size_t grown = capacity > full / 2 ? full : capacity * 2;
      std::unique_ptr<std::uint8_t[]> larger(new (std::nothrow) std::uint8_t[grown]);
      if (!larger) return makeError(ErrorCause::OutOfMemory, path, "no memory for the payload");
      std::memcpy(larger.get(), block.data.get(), filled);
      block.data = std::move(larger);
      capacity = grown;
    }
    const std::size_t n = capacity - filled;
    if (Status read = (*decompressor)->Read(file, block.data.get() + filled, n); !read)
      return streamBroke(method, filled - headroom, payloadSize, path, read.error());
    md5.update(block.data.get() + filled, n);
    filled += n;
  }
  block.digest = md5.final();
  return block;
}

Result<Md5Digest> digestSection(File& file, std::uint32_t method, std::uint64_t payloadSize,
                                const std::string& path) {
  Md5 md5;
  if (Status fits = checkPayloadFitsFile(file, method, payloadSize, path); !fits) return fits.error();
  if (payloadSize == 0) return md5.final();
  Result<std::unique_ptr<IDecompressor>> decompressor = decompressorFor(file, method, path);
  if (!decompressor) return decompressor.error();
  const std::size_t pieceSize = std::size_t(std::min<std::uint64_t>(kDigestPiece, payloadSize));
  std::unique_ptr<std::uint8_t[]> piece(new (std::nothrow) std::uint8_t[pieceSize]);
  if (!piece) return makeError(ErrorCause::OutOfMemory, path, "no memory for the payload");
  for (std::uint64_t done = 0; done < payloadSize;) {
    const std::size_t n = std::size_t(std::min<std::uint64_t>(pieceSize, payloadSize - done));
    if (Status read = (*decompressor)->Read(file, piece.get(), n); !read)
      return streamBroke(method, done, payloadSize, path, read.error());
    md5.update(piece.get(), n);
    done += n;
  }
  return md5.final();
}

} // namespace zelvo
