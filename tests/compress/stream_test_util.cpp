#include "stream_test_util.h"

#include <bzlib.h>
#include <zlib.h>

namespace zelvo::test {

Bytes zlibRawDeflate(const Bytes& data) {
  z_stream s{};
  if (deflateInit2(&s, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) return {};
  Bytes out(deflateBound(&s, uLong(data.size())));
  s.next_in = const_cast<Bytef*>(data.data());
  s.avail_in = uInt(data.size());
  s.next_out = out.data();
  s.avail_out = uInt(out.size());
  const int ret = deflate(&s, Z_FINISH);
  out.resize(s.total_out);
  deflateEnd(&s);
  return ret == Z_STREAM_END ? out : Bytes{};
}

std::optional<Bytes> zlibInflate(const Bytes& stream, std::size_t size, int windowBits) {
  z_stream s{};
  if (inflateInit2(&s, windowBits) != Z_OK) return std::nullopt;
  Bytes out(size + 1);
  s.next_in = const_cast<Bytef*>(stream.data());
  s.avail_in = uInt(stream.size());
  s.next_out = out.data();
  s.avail_out = uInt(out.size());
  const int ret = inflate(&s, Z_FINISH);
  const std::size_t produced = s.total_out;
  inflateEnd(&s);
  if (ret != Z_STREAM_END || produced != size) return std::nullopt;
  out.resize(size);
  return out;
}

Bytes bzip2Compress(const Bytes& data) {
  Bytes out(data.size() + data.size() / 100 + 600);
  unsigned length = unsigned(out.size());
  char none = 0; // the library refuses a null source, even for 0 bytes
  if (BZ2_bzBuffToBuffCompress(reinterpret_cast<char*>(out.data()), &length,
                               data.empty() ? &none
                                            : const_cast<char*>(reinterpret_cast<const char*>(data.data())),
                               unsigned(data.size()), 6, 0, 30) != BZ_OK)
    return {};
  out.resize(length);
  return out;
}

std::optional<Bytes> bzip2Decompress(const Bytes& stream, std::size_t size) {
  Bytes out(size + 1);
  unsigned length = unsigned(out.size());
  if (BZ2_bzBuffToBuffDecompress(reinterpret_cast<char*>(out.data()), &length,
                                 const_cast<char*>(reinterpret_cast<const char*>(stream.data())),
                                 unsigned(stream.size()), 0, 0) != BZ_OK ||
      length != size)
    return std::nullopt;
  out.resize(size);
  return out;
}

Bytes bzip2RunThenFinish(const Bytes& data, int blockSize100k) {
  bz_stream s{};
  if (BZ2_bzCompressInit(&s, blockSize100k, 0, 30) != BZ_OK) return {};
  Bytes out(data.size() + data.size() / 50 + 1024);
  s.next_in = const_cast<char*>(reinterpret_cast<const char*>(data.data()));
  s.avail_in = unsigned(data.size());
  s.next_out = reinterpret_cast<char*>(out.data());
  s.avail_out = unsigned(out.size());
  bool ok = true;
  while (ok && s.avail_in > 0) ok = BZ2_bzCompress(&s, BZ_RUN) == BZ_RUN_OK && s.avail_out > 0;
  const int end = ok ? BZ2_bzCompress(&s, BZ_FINISH) : BZ_SEQUENCE_ERROR;
  out.resize(out.size() - s.avail_out);
  BZ2_bzCompressEnd(&s);
  return end == BZ_STREAM_END ? out : Bytes{};
}

} // namespace zelvo::test
