// Incremental raw LZMA decoder (liblzma's LZMA1 decoder), opened from the property bytes of an LZMA
// section. The data may or may not carry an end marker: the decoder only ever produces what it is
// asked for, and after an end marker it produces nothing more.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace zelvo {

// The largest dictionary a decoder is opened with. The decoder takes memory for the whole
// dictionary when it opens, so a header's claim is checked first; this program's payloads are far
// smaller, and a 64 MiB dictionary is the largest the usual packing tools use.
inline constexpr std::uint32_t kMaxLzmaDictionary = 64u << 20;

class LzmaDecoder {
public:
  // Whether the properties (lc/lp/pb byte and 32-bit dictionary size, 5 bytes) are valid and the
  // dictionary at most kMaxLzmaDictionary.
  static bool propertiesUsable(const std::uint8_t* properties, std::size_t size);
  // A decoder for the properties; null when they are not usable or memory runs out.
  static std::unique_ptr<LzmaDecoder> open(const std::uint8_t* properties, std::size_t size);

  ~LzmaDecoder(); // releases the library stream
  LzmaDecoder(const LzmaDecoder&) = delete;
  LzmaDecoder& operator=(const LzmaDecoder&) = delete;

  // Decodes from `in` (`inCount` bytes) into `out` (`outRoom` bytes). On return `outRoom` holds the
  // count produced and `inCount` the count consumed. Returns 0 for success; nonzero for corrupt
  // data, a request for bytes after the end marker, or any other library failure.
  int decode(void* out, std::size_t& outRoom, const void* in, std::size_t& inCount);

  bool ended() const { return ended_; }

private:
  struct Stream;
  explicit LzmaDecoder(std::unique_ptr<Stream> stream);

  std::unique_ptr<Stream> stream_;
  bool ended_ = false;
};

} // namespace zelvo
