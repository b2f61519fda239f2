// A fast 128-bit digest (XXH3) of content, for recognising data seen before: the keys of the build
// cache and the digests its entries carry. The pack's own digests stay MD5, as its format says.
#pragma once

#include "platform/error.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace zelvo {

using ContentDigest = std::array<std::uint8_t, 16>;

class ContentHasher {
public:
  ContentHasher();
  ~ContentHasher();
  ContentHasher(ContentHasher&&) noexcept;
  ContentHasher& operator=(ContentHasher&&) noexcept;
  ContentHasher(const ContentHasher&) = delete;
  ContentHasher& operator=(const ContentHasher&) = delete;

  ContentHasher& update(const void* data, std::size_t size);
  // A string with its length, so that consecutive strings cannot run into one another.
  ContentHasher& update(const std::string& text);
  ContentHasher& update(std::uint64_t value);
  ContentHasher& update(const ContentDigest& digest) { return update(digest.data(), digest.size()); }
  ContentDigest final() const;

private:
  struct State;
  std::unique_ptr<State> state_;
};

ContentDigest contentDigestOf(const void* data, std::size_t size);
// The digest of a file's whole content, read in pieces.
Result<ContentDigest> contentDigestOfFile(const std::string& path);

} // namespace zelvo
