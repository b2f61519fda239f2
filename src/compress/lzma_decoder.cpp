#include "compress/lzma_decoder.h"

#include <cstdlib>
#include <lzma.h>
#include <new>

namespace zelvo {

struct LzmaDecoder::Stream {
  lzma_stream strm = LZMA_STREAM_INIT;
  ~Stream() { lzma_end(&strm); }
};

LzmaDecoder::LzmaDecoder(std::unique_ptr<Stream> stream) : stream_(std::move(stream)) {}

LzmaDecoder::~LzmaDecoder() = default;

namespace {
constexpr std::size_t kPropertiesSize = 5;
constexpr unsigned kLiteralContextStates = 9, kLiteralPositionStates = 5, kPositionStates = 5;
} // namespace

bool LzmaDecoder::propertiesUsable(const std::uint8_t* properties, std::size_t size) {
  if (!properties || size != kPropertiesSize) return false;
  // (pb * 5 + lp) * 9 + lc, with lc, lp and pb each below its bound.
  if (properties[0] >= kLiteralContextStates * kLiteralPositionStates * kPositionStates) return false;
  std::uint32_t dictionary = 0;
  for (int i = 4; i >= 1; --i) dictionary = (dictionary << 8) | properties[i];
  return dictionary <= kMaxLzmaDictionary;
}

std::unique_ptr<LzmaDecoder> LzmaDecoder::open(const std::uint8_t* properties, std::size_t size) {
  if (!propertiesUsable(properties, size)) return nullptr;

  // lzma_properties_decode allocates the options with the allocator it is given (none: malloc).
  lzma_filter filters[2] = {{LZMA_FILTER_LZMA1, nullptr}, {LZMA_VLI_UNKNOWN, nullptr}};
  if (lzma_properties_decode(&filters[0], nullptr, properties, size) != LZMA_OK) return nullptr;

  std::unique_ptr<Stream> stream(new (std::nothrow) Stream);
  lzma_ret ret = stream ? lzma_raw_decoder(&stream->strm, filters) : LZMA_MEM_ERROR;
  std::free(filters[0].options); // the decoder keeps its own copy
  if (ret != LZMA_OK) return nullptr;

  std::unique_ptr<LzmaDecoder> decoder(new (std::nothrow) LzmaDecoder(std::move(stream)));
  return decoder;
}

int LzmaDecoder::decode(void* out, std::size_t& outRoom, const void* in, std::size_t& inCount) {
  const std::size_t room = outRoom;
  const std::size_t available = inCount;
  outRoom = 0;
  inCount = 0;
  if (room == 0) return 0;
  if (ended_) return LZMA_BUF_ERROR; // nothing follows the end marker

  lzma_stream& strm = stream_->strm;
  strm.next_out = static_cast<std::uint8_t*>(out);
  strm.avail_out = room;
  strm.next_in = static_cast<const std::uint8_t*>(in);
  strm.avail_in = available;
  lzma_ret ret = lzma_code(&strm, LZMA_RUN);
  outRoom = room - strm.avail_out;
  inCount = available - strm.avail_in;
  if (ret == LZMA_STREAM_END) {
    ended_ = true;
    return 0;
  }
  return ret == LZMA_OK ? 0 : int(ret);
}

} // namespace zelvo
