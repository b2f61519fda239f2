// The folder of cache entries: entries appear whole or not at all, stay once written, and the least
// recently used go first when the folder outgrows its limit.
#include "platform/cache_folder.h"
#include "platform/fault.h"
#include "platform/fs.h"
#include "support/temp_dir.h"

#include <cerrno>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>

namespace zelvo {
namespace {

std::string text(const Result<std::vector<std::uint8_t>>& read) {
  return read ? std::string(read->begin(), read->end()) : std::string("(none)");
}

void setUsedAt(const std::string& path, std::time_t seconds) {
  const struct timespec times[2] = {{seconds, 0}, {seconds, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

TEST(CacheFolder, EntriesAreWholeStayAsWrittenAndTheLeastRecentlyUsedGoFirst) {
  test::TempDir dir;
  const std::string folder = dir.file("a/b/zelvo"); // made with its parents
  auto cache = CacheFolder::open(folder, 30);
  ASSERT_TRUE(cache);
  EXPECT_EQ(text(cache->read("one")), "(none)");
  const std::string first = "0123456789", second = "abcdefghij";
  ASSERT_TRUE(cache->write("one", {{first.data(), 4}, {first.data() + 4, 6}}));
  EXPECT_EQ(text(cache->read("one")), first);
  // The same name again: the entry there stays.
  EXPECT_TRUE(cache->write("one", {{second.data(), second.size()}}));
  EXPECT_EQ(text(cache->read("one")), first);
  // A write that fails leaves no entry and no file behind.
  armFault(unsigned(FaultOp::Write), 1, ENOSPC);
  EXPECT_FALSE(cache->write("two", {{second.data(), second.size()}}));
  disarmFault();
  EXPECT_EQ(pathKind(cache->path() + "/two"), PathKind::Missing);
  EXPECT_EQ(test::countTmpFiles(folder), 0u);

  // Four entries of 10 bytes against a limit of 30: the least recently used goes. Reading one
  // marks it used.
  for (const char* name : {"two", "three", "four"}) ASSERT_TRUE(cache->write(name, {{second.data(), 10}}));
  setUsedAt(folder + "/one", 1000);
  setUsedAt(folder + "/two", 2000);
  setUsedAt(folder + "/three", 3000);
  setUsedAt(folder + "/four", 4000);
  ASSERT_TRUE(cache->read("one"));
  const CacheFolder::Trimmed trimmed = cache->trim();
  EXPECT_EQ(trimmed.entries, 1u);
  EXPECT_EQ(trimmed.kept, 30u);
  EXPECT_TRUE(cache->read("one"));
  EXPECT_FALSE(cache->read("two"));
  EXPECT_TRUE(cache->read("three"));
}

TEST(CacheFolder, TheUsersCacheFolderFollowsXdgCacheHome) {
  const test::ScopedCacheHome home("/some/where");
  EXPECT_EQ(userCacheDirectory("zelvo"), "/some/where/zelvo");
}

} // namespace
} // namespace zelvo
