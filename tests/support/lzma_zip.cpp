#include "support/lzma_zip.h"

#include <lzma.h>

namespace zelvo::test {

std::vector<std::uint8_t> lzmaZipEncode(const void* data, std::size_t size) {
  lzma_options_lzma options{};
  if (lzma_lzma_preset(&options, 6)) return {};
  lzma_filter filters[2] = {{LZMA_FILTER_LZMA1, &options}, {LZMA_VLI_UNKNOWN, nullptr}};

  std::uint32_t propsSize = 0;
  if (lzma_properties_size(&propsSize, &filters[0]) != LZMA_OK || propsSize != 5) return {};
  std::vector<std::uint8_t> out = {9, 20, 5, 0};
  out.resize(4 + propsSize);
  if (lzma_properties_encode(&filters[0], out.data() + 4) != LZMA_OK) return {};

  lzma_stream strm = LZMA_STREAM_INIT;
  if (lzma_raw_encoder(&strm, filters) != LZMA_OK) return {};
  std::size_t start = out.size();
  out.resize(start + size + size / 2 + 4096);
  strm.next_in = static_cast<const std::uint8_t*>(data);
  strm.avail_in = size;
  strm.next_out = out.data() + start;
  strm.avail_out = out.size() - start;
  lzma_ret ret = lzma_code(&strm, LZMA_FINISH);
  std::size_t produced = out.size() - start - strm.avail_out;
  lzma_end(&strm);
  if (ret != LZMA_STREAM_END) return {};
  out.resize(start + produced);
  return out;
}

} // namespace zelvo::test
