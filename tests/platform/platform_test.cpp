#include "platform/file.h"
#include "platform/fs.h"
#include "platform/temp_files.h"
#include "platform/text.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

namespace zelvo {
namespace {

using test::TempDir;

TEST(Wildcard, MatchesCaseInsensitivelyWithStarAndQuestionMark) {
  EXPECT_TRUE(wildcardMatch("*.mstiles", "game.mstiles"));
  EXPECT_TRUE(wildcardMatch("*.mstiles", "GAME.MSTILES"));
  EXPECT_TRUE(wildcardMatch("*.mstiles", ".mstiles"));
  EXPECT_FALSE(wildcardMatch("*.mstiles", "game.mstiles.bak"));
  EXPECT_TRUE(wildcardMatch("a?c*", "abcdef"));
  EXPECT_FALSE(wildcardMatch("a?c", "ac"));
  EXPECT_TRUE(wildcardMatch("*a*b", "xxaxxbxab"));
}

TEST(Printable, EscapesControlsAndStrayBytesAndKeepsText) {
  const std::pair<std::string, std::string> cases[] = {
      {"title.msscreen", "title.msscreen"},
      {"caf\xC3\xA9 \xE2\x82\xAC.png", "caf\xC3\xA9 \xE2\x82\xAC.png"}, // UTF-8 stays
      {"a\nb\tc\rd", "a\\nb\\tc\\rd"},
      {"\x1B[31mred", "\\e[31mred"},
      {"x\x7F\x01", "x\\x7f\\x01"},
      {"caf\xE9.png", "caf\\xe9.png"},     // Latin-1, not UTF-8
      {"\xC2\x9B[2J", "\\xc2\\x9b[2J"},    // a C1 control written as UTF-8
      {"\xE2\x82", "\\xe2\\x82"},          // a sequence cut short
      {"\xED\xA0\x80", "\\xed\\xa0\\x80"}, // a surrogate
  };
  for (const auto& [text, shown] : cases) EXPECT_EQ(printable(text), shown) << shown;
}

TEST(ListMatching, SortsCaseInsensitivelyAndMarksDirectories) {
  TempDir dir;
  for (const char* name : {"b.mstiles", "A.mstiles", "c.MSTILES", "skip.txt"}) {
    ASSERT_TRUE(test::writeFileBytes(dir.file(name), "x", 1));
  }
  ASSERT_TRUE(createDirectory(dir.file("aa.mstiles")));
  const Result<std::vector<DirEntry>> listed = listMatching(dir.path(), "*.mstiles");
  ASSERT_TRUE(listed);
  const std::vector<DirEntry>& names = *listed;
  ASSERT_EQ(names.size(), 4u);
  EXPECT_EQ(names[0].name, "A.mstiles");
  EXPECT_EQ(names[1].name, "aa.mstiles");
  EXPECT_TRUE(names[1].directory);
  EXPECT_EQ(names[2].name, "b.mstiles");
  EXPECT_EQ(names[3].name, "c.MSTILES");
  EXPECT_FALSE(names[3].directory);

  const Result<std::vector<DirEntry>> missing = listMatching(dir.file("gone"), "*");
  ASSERT_FALSE(missing) << "a folder that cannot be read is not an empty one";
  EXPECT_EQ(missing.error().cause, ErrorCause::NotFound);
}

TEST(File, ReadWriteSeekAndSize) {
  TempDir dir;
  std::string path = dir.file("f.bin");
  {
    File f = test::opened(File::create(path));
    ASSERT_TRUE(f);
    ASSERT_TRUE(f.writeAll("hello world", 11));
  }
  File f = test::opened(File::openRead(path));
  ASSERT_TRUE(f);
  const Result<std::uint64_t> size = f.size();
  ASSERT_TRUE(size);
  EXPECT_EQ(*size, 11u);
  ASSERT_TRUE(f.seek(6));
  char buf[16] = {};
  const Result<std::size_t> got = f.read(buf, sizeof buf);
  ASSERT_TRUE(got);
  EXPECT_EQ(std::string(buf, *got), "world");
  ASSERT_TRUE(f.seekBy(-3));
  const Result<std::uint64_t> position = f.position();
  ASSERT_TRUE(position);
  EXPECT_EQ(*position, 8u);

  // Every failure names the file and says why.
  ASSERT_TRUE(f.seek(6));
  const Status short_ = f.readExact(buf, 6);
  ASSERT_FALSE(short_);
  EXPECT_EQ(short_.error().cause, ErrorCause::Truncated);
  EXPECT_EQ(short_.error().path, path);
  const Status readOnly = f.writeAll("x", 1);
  ASSERT_FALSE(readOnly);
  EXPECT_EQ(readOnly.error().path, path);
  const struct {
    std::string path;
    ErrorCause cause;
    const char* says;
  } refused[] = {{dir.file("missing"), ErrorCause::NotFound, "No such file"},
                 {dir.path(), ErrorCause::InvalidArgument, "a folder, not a regular file"}};
  for (const auto& r : refused) {
    const Result<File> opened = File::openRead(r.path);
    ASSERT_FALSE(opened) << r.path;
    EXPECT_EQ(opened.error().cause, r.cause) << r.path;
    EXPECT_EQ(opened.error().path, r.path);
    EXPECT_NE(opened.error().detail.find(r.says), std::string::npos) << opened.error().detail;
  }
}

TEST(File, TemporaryIsGoneOnceCreatedAndUsableUntilClosed) {
  TempDir dir;
  std::string path = dir.file("scratch");
  File f = test::opened(File::createTemporary(path));
  ASSERT_TRUE(f);
  EXPECT_EQ(pathKind(path), PathKind::Missing);
  ASSERT_TRUE(f.writeAll("abc", 3));
  ASSERT_TRUE(f.seek(0));
  char buf[3];
  ASSERT_TRUE(f.readExact(buf, 3));
  EXPECT_EQ(std::string(buf, 3), "abc");
}

TEST(TempFiles, BesideUsesTheFolderOfThePathOrTheCurrentDirectory) {
  TempDir dir;
  const Result<std::string> saved = currentDirectory();
  ASSERT_TRUE(saved);
  TempDir cwd;
  ASSERT_TRUE(setCurrentDirectory(cwd.path()));

  const Result<std::string> a = TempFileBeside(dir.file("shot.png")), b = TempFileBeside(dir.path() + "/"),
                            c = TempFileBeside("shot.png"), d = TempFileBeside(dir.file("nowhere/shot.png"));
  ASSERT_TRUE(a && b && c && d);
  EXPECT_EQ(a->substr(0, dir.path().size() + 4), dir.path() + "/TMP");
  EXPECT_EQ(b->substr(0, dir.path().size() + 4), dir.path() + "/TMP");
  EXPECT_NE(*a, *b);
  EXPECT_EQ(test::countTmpFiles(cwd.path()), 2u);
  EXPECT_EQ(test::countTmpFiles(dir.path()), 2u);
  for (const auto* n : {&a, &b, &c, &d}) EXPECT_TRUE(deleteFile(**n));
  ASSERT_TRUE(setCurrentDirectory(*saved));
}

TEST(TempFiles, LongTempFolderFallsBackToCurrentDirectory) {
  TempDir cwd;
  const Result<std::string> saved = currentDirectory();
  ASSERT_TRUE(saved);
  ASSERT_TRUE(setCurrentDirectory(cwd.path()));
  Result<std::string> name = makeError(ErrorCause::NotFound, {});
  {
    test::ScopedTmpDir tooLong(std::string(300, 'x'));
    name = TempFileInTempDir();
    EXPECT_TRUE(name);
  }
  EXPECT_EQ(test::countTmpFiles(cwd.path()), 1u);
  if (name) {
    EXPECT_TRUE(deleteFile(*name));
  }
  ASSERT_TRUE(setCurrentDirectory(*saved));
}

TEST(TempFileGuard, DeletesUnlessReleased) {
  TempDir dir;
  const Result<std::string> madeA = createTempFileIn(dir.path()), madeB = createTempFileIn(dir.path());
  ASSERT_TRUE(madeA && madeB);
  const std::string a = *madeA, b = *madeB;
  { TempFileGuard g(a); }
  EXPECT_EQ(pathKind(a), PathKind::Missing);
  {
    TempFileGuard g(b);
    EXPECT_EQ(g.release(), b);
  }
  EXPECT_EQ(pathKind(b), PathKind::File);
}

} // namespace
} // namespace zelvo
