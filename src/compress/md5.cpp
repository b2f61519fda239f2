#include "compress/md5.h"

#include <cstring>
#include <md5.h>
#include <new>

namespace zelvo {

static_assert(sizeof(MD5_CTX) <= 128, "MD5 state does not fit its storage");

namespace {
MD5_CTX* ctx(unsigned char* state) { return std::launder(reinterpret_cast<MD5_CTX*>(state)); }
} // namespace

Md5::Md5() {
  new (state_) MD5_CTX;
  MD5Init(ctx(state_));
}

void Md5::update(const void* data, std::size_t size) {
  if (size) MD5Update(ctx(state_), static_cast<const std::uint8_t*>(data), size);
}

Md5Digest Md5::final() {
  Md5Digest out{};
  MD5Final(out.data(), ctx(state_));
  return out;
}

Md5Digest md5Of(const void* data, std::size_t size) {
  Md5 md5;
  md5.update(data, size);
  return md5.final();
}

std::string toHex(const Md5Digest& digest) {
  static const char* hex = "0123456789abcdef";
  std::string s;
  for (std::uint8_t b : digest) {
    s += hex[b >> 4];
    s += hex[b & 15];
  }
  return s;
}

} // namespace zelvo
