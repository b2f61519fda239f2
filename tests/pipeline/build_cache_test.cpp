// The build cache's own check: an entry damaged in any way is never used, and is made again.
#include "pipeline/build_cache.h"

#include "support/temp_dir.h"

#include <functional>
#include <gtest/gtest.h>
#include <string>

namespace zelvo {
namespace {

TEST(BuildCache, ADamagedEntryIsIgnoredRemovedAndMadeAgain) {
  const std::string payload(5000, 'p');
  const ContentDigest key = BuildCache::keyHasher(BuildCache::Kind::Screen).update(payload).final();
  const struct {
    const char* name;
    std::function<void(std::string&)> damage;
  } cases[] = {
      {"a byte of the content changed", [](std::string& f) { f[f.size() / 2] ^= 1; }},
      {"cut short", [](std::string& f) { f.resize(f.size() - 1); }},
      {"a byte added", [](std::string& f) { f += 'x'; }},
      {"only its head", [](std::string& f) { f.resize(48); }},
      {"empty", [](std::string& f) { f.clear(); }},
      {"the digest changed", [](std::string& f) { f[40] ^= 1; }},
      {"another key inside", [](std::string& f) { f[8] ^= 1; }},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.name);
    test::TempDir dir;
    auto cache = BuildCache::open(dir.path());
    ASSERT_TRUE(cache);
    BuildCache& c = **cache;
    c.put(BuildCache::Kind::Screen, key, payload.data(), payload.size());
    const auto whole = c.get(BuildCache::Kind::Screen, key);
    ASSERT_TRUE(whole);
    EXPECT_EQ(std::string(whole->begin(), whole->end()), payload);
    EXPECT_FALSE(c.get(BuildCache::Kind::HiResRun, key)) << "a key of another kind";

    const std::string path = dir.file("s-" + [&] {
      std::string hex;
      for (std::uint8_t b : key) hex += "0123456789abcdef"[b >> 4], hex += "0123456789abcdef"[b & 15];
      return hex;
    }());
    std::string file = test::readFileBytes(path);
    ASSERT_EQ(file.size(), 48 + payload.size());
    k.damage(file);
    ASSERT_TRUE(test::writeFileBytes(path, file.data(), file.size()));
    EXPECT_FALSE(c.get(BuildCache::Kind::Screen, key));
    EXPECT_EQ(c.counts(BuildCache::Kind::Screen).damaged, 1u);
    // Removed, so that the entry made again takes its place.
    c.put(BuildCache::Kind::Screen, key, payload.data(), payload.size());
    EXPECT_TRUE(c.get(BuildCache::Kind::Screen, key));
  }
}

} // namespace
} // namespace zelvo
