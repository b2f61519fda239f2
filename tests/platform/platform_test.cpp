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
  auto names = listMatching(dir.path(), "*.mstiles");
  ASSERT_EQ(names.size(), 4u);
  EXPECT_EQ(names[0].name, "A.mstiles");
  EXPECT_EQ(names[1].name, "aa.mstiles");
  EXPECT_TRUE(names[1].directory);
  EXPECT_EQ(names[2].name, "b.mstiles");
  EXPECT_EQ(names[3].name, "c.MSTILES");
  EXPECT_FALSE(names[3].directory);
}

TEST(File, ReadWriteSeekAndSize) {
  TempDir dir;
  std::string path = dir.file("f.bin");
  {
    File f = File::create(path);
    ASSERT_TRUE(f);
    ASSERT_TRUE(f.writeAll("hello world", 11));
  }
  File f = File::openRead(path);
  ASSERT_TRUE(f);
  std::uint64_t size = 0;
  ASSERT_TRUE(f.size(size));
  EXPECT_EQ(size, 11u);
  ASSERT_TRUE(f.seek(6));
  char buf[16] = {};
  std::size_t got = 0;
  ASSERT_TRUE(f.read(buf, sizeof buf, got));
  EXPECT_EQ(got, 5u);
  EXPECT_EQ(std::string(buf, got), "world");
  ASSERT_TRUE(f.seekBy(-3));
  std::uint64_t pos = 0;
  ASSERT_TRUE(f.position(pos));
  EXPECT_EQ(pos, 8u);
  EXPECT_FALSE(File::openRead(dir.file("missing")).isOpen());
  EXPECT_FALSE(File::openRead(dir.path()).isOpen()) << "a folder is not a file";
}

TEST(File, TemporaryIsGoneOnceCreatedAndUsableUntilClosed) {
  TempDir dir;
  std::string path = dir.file("scratch");
  File f = File::createTemporary(path);
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
  std::string saved;
  ASSERT_TRUE(getCurrentDirectory(saved));
  TempDir cwd;
  ASSERT_TRUE(setCurrentDirectory(cwd.path()));

  std::string a, b, c, d;
  EXPECT_TRUE(TempFileBeside(dir.file("shot.png"), a));
  EXPECT_EQ(a.substr(0, dir.path().size() + 4), dir.path() + "/TMP");
  EXPECT_TRUE(TempFileBeside(dir.path() + "/", b));
  EXPECT_EQ(b.substr(0, dir.path().size() + 4), dir.path() + "/TMP");
  EXPECT_NE(a, b);
  EXPECT_TRUE(TempFileBeside("shot.png", c));
  EXPECT_TRUE(TempFileBeside(dir.file("nowhere/shot.png"), d));
  EXPECT_EQ(test::countTmpFiles(cwd.path()), 2u);
  EXPECT_EQ(test::countTmpFiles(dir.path()), 2u);
  for (auto* n : {&a, &b, &c, &d}) EXPECT_TRUE(deleteFile(*n));
  ASSERT_TRUE(setCurrentDirectory(saved));
}

TEST(TempFiles, LongTempFolderFallsBackToCurrentDirectory) {
  TempDir cwd;
  std::string saved;
  ASSERT_TRUE(getCurrentDirectory(saved));
  ASSERT_TRUE(setCurrentDirectory(cwd.path()));
  std::string name;
  {
    test::ScopedTmpDir tooLong(std::string(300, 'x'));
    EXPECT_TRUE(TempFileInTempDir(name));
  }
  EXPECT_EQ(test::countTmpFiles(cwd.path()), 1u);
  deleteFile(name);
  ASSERT_TRUE(setCurrentDirectory(saved));
}

TEST(TempFileGuard, DeletesUnlessReleased) {
  TempDir dir;
  std::string a, b;
  ASSERT_TRUE(createTempFileIn(dir.path(), a));
  ASSERT_TRUE(createTempFileIn(dir.path(), b));
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
