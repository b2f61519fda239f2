// LZMA sections in the ZIP framing, decoded through LzmaDecoder.
#include "compress/codec_error.h"
#include "compress/lzma_decoder.h"
#include "compress/streams.h"

#include <new>
#include <string>

namespace zelvo {

namespace {

constexpr std::size_t kHeaderSize = 4;        // version major, minor, 16-bit properties size
constexpr std::size_t kMaxPropertiesSize = 5; // lc/lp/pb byte and dictionary size
constexpr int kStalled = -1;                  // kept when the decoder can make no progress

} // namespace

CLZMADecompressor::CLZMADecompressor() = default;
CLZMADecompressor::~CLZMADecompressor() = default;

// Reads the header and the properties and opens the decoder. The header is gone from the file
// afterwards, so a failure here is kept: a later call must not take coded data for a header.
Status CLZMADecompressor::start(File& file) {
  lastResult_ = kStalled;
  std::uint8_t header[kHeaderSize];
  if (Status s = file.readExact(header, kHeaderSize); !s) return streamReadError(s.error());
  const std::size_t propertiesSize = std::size_t(header[2]) | std::size_t(header[3]) << 8;
  if (propertiesSize > kMaxPropertiesSize)
    return makeError(ErrorCause::BadFormat, {},
                     "the LZMA properties take " + std::to_string(propertiesSize) + " bytes; at most " +
                         std::to_string(kMaxPropertiesSize) + " are read");
  std::uint8_t properties[kMaxPropertiesSize];
  if (Status s = file.readExact(properties, propertiesSize); !s) return streamReadError(s.error());
  const Result<std::uint64_t> position = file.position();
  if (!position) return position.error();
  savedPosition_ = *position;

  std::unique_ptr<std::uint8_t[]> input(new (std::nothrow) std::uint8_t[kStagingBufferSize]);
  if (!input) return streamNoMemory("LZMA");
  decoder_ = LzmaDecoder::open(properties, propertiesSize);
  if (!decoder_)
    return makeError(ErrorCause::BadFormat, {},
                     "the LZMA properties are invalid, or the decoder could not be had for them");
  input_ = std::move(input);
  next_ = input_.get();
  unconsumed_ = 0;
  lastResult_ = 0;
  return {};
}

Status CLZMADecompressor::Read(File& file, void* buffer, std::size_t size) {
  if (!input_) {
    if (lastResult_ != 0) return stopped();
    if (Status started = start(file); !started) return started;
  }
  if (lastResult_ != 0) return stopped();

  auto* out = static_cast<std::uint8_t*>(buffer);
  std::size_t remaining = size;
  bool refilled = false;
  while (remaining > 0) {
    if (unconsumed_ == 0) {
      if (decoder_->ended()) { // the data ended before the request was filled
        lastResult_ = kStalled;
        return streamEnded();
      }
      // The caller may have moved the file since the last call: continue where reading stopped.
      if (!refilled)
        if (Status s = file.seek(savedPosition_); !s) return s;
      refilled = true;
      const Result<std::size_t> got = readStreamInput(file, input_.get(), kStagingBufferSize);
      if (!got) return got.error();
      savedPosition_ += *got;
      next_ = input_.get();
      unconsumed_ = *got;
    }
    std::size_t produced = remaining;
    std::size_t consumed = unconsumed_;
    lastResult_ = decoder_->decode(out, produced, next_, consumed);
    if (lastResult_ != 0) return lzmaError(lastResult_, CodecSide::Decompressing);
    if (produced == 0 && consumed == 0) {
      lastResult_ = kStalled;
      return stopped();
    }
    next_ += consumed;
    unconsumed_ -= consumed;
    out += produced;
    remaining -= produced;
  }

  // Leave the file right after the last byte the decoder consumed.
  return file.seek(savedPosition_ - unconsumed_);
}

Error CLZMADecompressor::stopped() const {
  if (lastResult_ == kStalled)
    return makeError(ErrorCause::BadFormat, {}, "the LZMA data cannot be decoded any further");
  return lzmaError(lastResult_, CodecSide::Decompressing);
}

} // namespace zelvo
