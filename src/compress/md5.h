// MD5 digest (RFC 1321) of the payloads of tiles files, screen files and packs.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace zelvo {

using Md5Digest = std::array<std::uint8_t, 16>;

class Md5 {
public:
  Md5();
  void update(const void* data, std::size_t size);
  Md5Digest final();

private:
  alignas(8) unsigned char state_[128];
};

Md5Digest md5Of(const void* data, std::size_t size);
std::string toHex(const Md5Digest& digest);

} // namespace zelvo
