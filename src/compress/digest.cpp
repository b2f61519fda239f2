#include "compress/digest.h"

#include "platform/file.h"

#include <vector>
#include <xxhash.h>

namespace zelvo {

namespace {
constexpr std::size_t kFilePiece = std::size_t(1) << 18;
} // namespace

struct ContentHasher::State {
  State() : xxh(XXH3_createState()) {
    if (xxh) XXH3_128bits_reset(xxh);
  }
  ~State() { XXH3_freeState(xxh); }
  XXH3_state_t* xxh;
};

ContentHasher::ContentHasher() : state_(std::make_unique<State>()) {}

ContentHasher::~ContentHasher() = default;
ContentHasher::ContentHasher(ContentHasher&&) noexcept = default;
ContentHasher& ContentHasher::operator=(ContentHasher&&) noexcept = default;

ContentHasher& ContentHasher::update(const void* data, std::size_t size) {
  if (state_->xxh && size) XXH3_128bits_update(state_->xxh, data, size);
  return *this;
}

ContentHasher& ContentHasher::update(const std::string& text) {
  update(std::uint64_t(text.size()));
  return update(text.data(), text.size());
}

ContentHasher& ContentHasher::update(std::uint64_t value) {
  std::uint8_t bytes[8];
  for (int i = 0; i < 8; ++i) bytes[i] = std::uint8_t(value >> (8 * i));
  return update(bytes, sizeof bytes);
}

ContentDigest ContentHasher::final() const {
  ContentDigest out{};
  // Without its state (no memory) the hasher gives all zeros, which no caller takes for a key:
  // every key is a digest of its own and the cache ignores zero keys.
  if (!state_->xxh) return out;
  XXH128_canonicalFromHash(reinterpret_cast<XXH128_canonical_t*>(out.data()),
                           XXH3_128bits_digest(state_->xxh));
  return out;
}

ContentDigest contentDigestOf(const void* data, std::size_t size) {
  ContentDigest out{};
  XXH128_canonicalFromHash(reinterpret_cast<XXH128_canonical_t*>(out.data()), XXH3_128bits(data, size));
  return out;
}

Result<ContentDigest> contentDigestOfFile(const std::string& path) {
  Result<File> file = File::openRead(path);
  if (!file) return file.error();
  ContentHasher hasher;
  std::vector<std::uint8_t> piece(kFilePiece);
  for (;;) {
    const Result<std::size_t> got = file->read(piece.data(), piece.size());
    if (!got) return got.error();
    if (*got == 0) break;
    hasher.update(piece.data(), *got);
  }
  return hasher.final();
}

} // namespace zelvo
