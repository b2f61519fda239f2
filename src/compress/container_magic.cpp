#include "compress/container_magic.h"

#include <cstring>

namespace zelvo {

namespace {

constexpr std::uint8_t kZipMagic[4] = {0x50, 0x4B, 0x03, 0x04};
constexpr std::uint8_t kGzipMagic[2] = {0x1F, 0x8B};
constexpr std::uint8_t kBzip2Magic[3] = {'B', 'Z', 'h'};
constexpr std::uint8_t kBzip2BlockMagic[6] = {0x31, 0x41, 0x59, 0x26, 0x53, 0x59};
constexpr std::size_t kBzip2HeadLength = sizeof kBzip2Magic + 1 + sizeof kBzip2BlockMagic;

template <std::size_t N>
bool startsWith(const std::uint8_t* head, std::size_t length, const std::uint8_t (&m)[N]) {
  return length >= N && std::memcmp(head, m, N) == 0;
}

} // namespace

bool hasZipMagic(const std::uint8_t* head, std::size_t length) { return startsWith(head, length, kZipMagic); }

bool hasGzipMagic(const std::uint8_t* head, std::size_t length) {
  return startsWith(head, length, kGzipMagic);
}

bool hasBzip2Magic(const std::uint8_t* head, std::size_t length) {
  return length >= kBzip2HeadLength && startsWith(head, length, kBzip2Magic) && head[3] >= '1' &&
         head[3] <= '9' && std::memcmp(head + 4, kBzip2BlockMagic, sizeof kBzip2BlockMagic) == 0;
}

bool hasContainerMagic(const std::uint8_t* head, std::size_t length) {
  return hasZipMagic(head, length) || hasBzip2Magic(head, length) || hasGzipMagic(head, length);
}

} // namespace zelvo
