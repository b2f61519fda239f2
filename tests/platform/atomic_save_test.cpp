#include "platform/atomic_save.h"
#include "platform/fault.h"
#include "platform/fs.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <sys/stat.h>

namespace zelvo {
namespace {

using test::TempDir;

struct FaultReset {
  ~FaultReset() { disarmFault(); }
};

std::string saveText(const std::string& path, const std::string& text) {
  Status s = saveFileAtomically(path, text.data(), text.size());
  return s ? std::string() : s.error().message();
}

TEST(AtomicSave, ReplacesKeepsPermissionsAndSyncsFileAndFolder) {
  TempDir dir;
  const std::string target = dir.file("pack.zrm");
  ASSERT_TRUE(test::writeFileBytes(target, "old", 3));
  ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
  FaultReset reset;
  armFault(unsigned(FaultOp::Sync), ~std::uint64_t(0), EIO); // counts, never fires
  EXPECT_EQ(saveText(target, "new content"), "");
  EXPECT_EQ(faultOperationsSeen(), 2u) << "the file and its folder are synced";
  EXPECT_EQ(test::readFileBytes(target), "new content");
  struct stat st {};
  ASSERT_EQ(::stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_EQ(test::countTmpFiles(dir.path()), 0u);
}

TEST(AtomicSave, AbandonedSaveLeavesNothing) {
  TempDir dir;
  const std::string target = dir.file("new.png");
  {
    auto save = AtomicSave::begin(target);
    ASSERT_TRUE(save);
    ASSERT_TRUE(save->file().writeAll("abc", 3));
  }
  EXPECT_EQ(pathKind(target), PathKind::Missing);
  EXPECT_EQ(test::listed(dir.path(), "*").size(), 0u);
}

TEST(AtomicSave, RefusesAFolderOrAMissingFolder) {
  TempDir dir;
  EXPECT_NE(saveText(dir.path(), "x"), "");
  auto missing = AtomicSave::begin(dir.file("no/such/file.png"));
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error().cause, ErrorCause::NotFound);
}

// Every write, sync, rename and creation of a save failing in turn: each failure is reported,
// leaves the old file byte-identical and no temporary file; the first N past them all succeeds.
TEST(AtomicSave, EveryInjectedFailureKeepsTheOldFile) {
  TempDir dir;
  const std::string target = dir.file("settings.ini");
  const std::string big(300000, 'z');
  FaultReset reset;
  for (int err : {EIO, ENOSPC}) {
    bool succeeded = false;
    for (std::uint64_t n = 1; n < 50 && !succeeded; ++n) {
      ASSERT_TRUE(test::writeFileBytes(target, "old", 3));
      armFault(kAllFaultOps, n, err);
      const std::string message = saveText(target, big);
      const bool fired = faultFired();
      disarmFault();
      if (!fired) {
        EXPECT_EQ(message, "");
        EXPECT_EQ(test::readFileBytes(target), big);
        succeeded = true;
        continue;
      }
      if (message.empty()) {
        // Only the folder's sync comes after the rename: the new content is complete.
        EXPECT_EQ(test::readFileBytes(target), big) << "n=" << n;
        continue;
      }
      EXPECT_EQ(test::readFileBytes(target), "old") << "n=" << n << ": " << message;
      EXPECT_EQ(test::countTmpFiles(dir.path()), 0u) << "n=" << n;
    }
    EXPECT_TRUE(succeeded);
  }
}

// What is at the target when the new file takes its place decides, whatever was there at begin():
// a file that appeared meanwhile, a non-pack put where a pack was, a FIFO. A refused save leaves
// what is there as it is and no temporary file; of two saves that may replace nothing, one wins.
TEST(AtomicSave, TheReplacePolicyHoldsAsTheFileTakesItsPlace) {
  const ReplacePolicy pack = ReplacePolicy::onlyStartingWith("PACK", "a pack");
  struct Case {
    const char* name;
    ReplacePolicy policy;
    const char* putThere; // written after begin(); "fifo" makes a FIFO, null leaves it missing
    bool replaced;
  };
  const Case cases[] = {
      {"nothing, none there", ReplacePolicy::nothing(), nullptr, true},
      {"nothing, one appeared", ReplacePolicy::nothing(), "painted", false},
      {"a pack, a pack there", pack, "PACK old", true},
      {"a pack, another file put there", pack, "notes", false},
      {"any but a pack, a pack there", ReplacePolicy::allButStartingWith("PACK", "a pack"), "PACK old",
       false},
      {"any file, a FIFO there", ReplacePolicy::anyFile(), "fifo", false},
      {"any file, a file there", ReplacePolicy::anyFile(), "old", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string target = dir.file("out.zrm");
    auto save = AtomicSave::begin(target, c.policy);
    ASSERT_TRUE(save);
    ASSERT_TRUE(save->file().writeAll("new", 3));
    const bool fifo = c.putThere && std::string(c.putThere) == "fifo";
    if (fifo) {
      ASSERT_EQ(::mkfifo(target.c_str(), 0644), 0);
    } else if (c.putThere) {
      ASSERT_TRUE(test::writeFileBytes(target, c.putThere, std::strlen(c.putThere)));
    }
    const Status committed = save->commit();
    EXPECT_EQ(committed.ok(), c.replaced);
    struct stat st {};
    ASSERT_EQ(::lstat(target.c_str(), &st), 0);
    if (c.replaced) {
      EXPECT_EQ(test::readFileBytes(target), "new");
    } else if (fifo) {
      EXPECT_TRUE(S_ISFIFO(st.st_mode));
    } else {
      EXPECT_EQ(test::readFileBytes(target), c.putThere);
    }
    EXPECT_EQ(test::countTmpFiles(dir.path()), 0u);
  }

  TempDir dir;
  const std::string target = dir.file("c.png");
  auto first = AtomicSave::begin(target, ReplacePolicy::nothing());
  auto second = AtomicSave::begin(target, ReplacePolicy::nothing());
  ASSERT_TRUE(first && second);
  ASSERT_TRUE(first->file().writeAll("first", 5) && second->file().writeAll("second", 6));
  EXPECT_TRUE(first->commit());
  const Status late = second->commit();
  ASSERT_FALSE(late);
  EXPECT_EQ(late.error().cause, ErrorCause::Exists);
  EXPECT_EQ(test::readFileBytes(target), "first");
  EXPECT_EQ(test::countTmpFiles(dir.path()), 0u);
}

} // namespace
} // namespace zelvo
