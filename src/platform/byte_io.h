// Little-endian byte access: the one bounds-checked reader for binary data and its writer twin.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

namespace zelvo {

static_assert(std::endian::native == std::endian::little,
              "records are held in memory exactly as in the files: a little-endian host is required");

inline std::uint16_t loadLE16(const std::uint8_t* p) { return std::uint16_t(p[0] | (p[1] << 8)); }
inline std::uint32_t loadLE32(const std::uint8_t* p) {
  return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) |
         (std::uint32_t(p[3]) << 24);
}
inline std::uint64_t loadLE64(const std::uint8_t* p) {
  return std::uint64_t(loadLE32(p)) | (std::uint64_t(loadLE32(p + 4)) << 32);
}
inline void storeLE16(std::uint8_t* p, std::uint16_t v) {
  p[0] = std::uint8_t(v);
  p[1] = std::uint8_t(v >> 8);
}
inline void storeLE32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = std::uint8_t(v >> (8 * i));
}
inline void storeLE64(std::uint8_t* p, std::uint64_t v) {
  storeLE32(p, std::uint32_t(v));
  storeLE32(p + 4, std::uint32_t(v >> 32));
}

// Reads little-endian values from a byte span; every read checks the bounds and a failed read
// leaves the cursor where it was and the target unchanged.
class ByteReader {
public:
  explicit ByteReader(std::span<const std::uint8_t> data) : data_(data) {}
  ByteReader(const void* data, std::size_t size) : data_(static_cast<const std::uint8_t*>(data), size) {}

  std::size_t position() const { return pos_; }
  std::size_t remaining() const { return data_.size() - pos_; }
  bool seek(std::size_t pos) {
    if (pos > data_.size()) return false;
    pos_ = pos;
    return true;
  }
  bool skip(std::size_t n) {
    if (n > remaining()) return false;
    pos_ += n;
    return true;
  }
  bool u8(std::uint8_t& v) {
    return take(1, [&](const std::uint8_t* p) { v = p[0]; });
  }
  bool u16(std::uint16_t& v) {
    return take(2, [&](const std::uint8_t* p) { v = loadLE16(p); });
  }
  bool u32(std::uint32_t& v) {
    return take(4, [&](const std::uint8_t* p) { v = loadLE32(p); });
  }
  bool u64(std::uint64_t& v) {
    return take(8, [&](const std::uint8_t* p) { v = loadLE64(p); });
  }
  bool bytes(void* out, std::size_t n) {
    return take(n, [&](const std::uint8_t* p) { std::memcpy(out, p, n); });
  }

private:
  template <class F> bool take(std::size_t n, F&& f) {
    if (n > remaining()) return false;
    f(data_.data() + pos_);
    pos_ += n;
    return true;
  }
  std::span<const std::uint8_t> data_;
  std::size_t pos_ = 0;
};

// Appends or patches little-endian values in a byte buffer of fixed size.
class ByteWriter {
public:
  ByteWriter(void* data, std::size_t size) : data_(static_cast<std::uint8_t*>(data)), size_(size) {}
  bool u8(std::uint8_t v) {
    return put(1, [&](std::uint8_t* p) { p[0] = v; });
  }
  bool u16(std::uint16_t v) {
    return put(2, [&](std::uint8_t* p) { storeLE16(p, v); });
  }
  bool u32(std::uint32_t v) {
    return put(4, [&](std::uint8_t* p) { storeLE32(p, v); });
  }
  bool u64(std::uint64_t v) {
    return put(8, [&](std::uint8_t* p) { storeLE64(p, v); });
  }
  bool bytes(const void* in, std::size_t n) {
    return put(n, [&](std::uint8_t* p) { std::memcpy(p, in, n); });
  }
  std::size_t position() const { return pos_; }
  bool seek(std::size_t pos) {
    if (pos > size_) return false;
    pos_ = pos;
    return true;
  }

private:
  template <class F> bool put(std::size_t n, F&& f) {
    if (n > size_ - pos_) return false;
    f(data_ + pos_);
    pos_ += n;
    return true;
  }
  std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

} // namespace zelvo
