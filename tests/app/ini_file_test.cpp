#include "app/ini_file.h"
#include "platform/fs.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

namespace zelvo {
namespace {

using test::TempDir;

TEST(IniFile, ReadsCrLfAndLfFilesAlikeAndMatchesNamesWithoutCase) {
  const std::string lf = "[General]\nLastFile=C:\\a b\\x.msscreen\n  Spaced  =  value  \n[Other]\nk=2\n";
  std::string crlf;
  for (char c : lf) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  for (const std::string& text : {lf, crlf, lf.substr(0, lf.size() - 1)}) {
    IniFile ini;
    ini.parse(text);
    EXPECT_EQ(ini.get("general", "lastfile").value_or("?"), "C:\\a b\\x.msscreen");
    EXPECT_EQ(ini.get("GENERAL", "spaced").value_or("?"), "value");
    EXPECT_EQ(ini.getInt("Other", "K", -1), 2);
    EXPECT_FALSE(ini.get("Other", "LastFile").has_value()) << "keys belong to their section";
    EXPECT_FALSE(ini.get("Missing", "k").has_value());
  }
}

TEST(IniFile, IntegersReadLikeTheProfileReader) {
  IniFile ini;
  ini.parse("[s]\nneg=-120\nhex=0x1F\nlead=42px\nnone=abc\nempty=\nplus=+7\nbig=4294967295\n");
  EXPECT_EQ(ini.getInt("s", "neg", 0), -120);
  EXPECT_EQ(ini.getInt("s", "hex", 0), 31);
  EXPECT_EQ(ini.getInt("s", "lead", 0), 42);
  EXPECT_EQ(ini.getInt("s", "none", 9), 0) << "a value without digits reads as 0, not the default";
  EXPECT_EQ(ini.getInt("s", "empty", 9), 9);
  EXPECT_EQ(ini.getInt("s", "absent", 9), 9);
  EXPECT_EQ(ini.getInt("s", "plus", 0), 7);
  EXPECT_EQ(ini.getInt("s", "big", 0), -1) << "an unsigned show command written with %u reads back";
}

TEST(IniFile, SetKeepsEveryLineItDoesNotTouch) {
  IniFile ini;
  ini.parse("; top comment\n[General]\nlastfile=old\nKeep=1\n\n[Tools]\n; note\nx = y\nbare line\n");
  ASSERT_TRUE(ini.set("General", "LastFile", "new"));   // replaced in place, name as given
  ASSERT_TRUE(ini.set("General", "LastTilesRes", "2")); // added before the blank line
  ASSERT_TRUE(ini.set("MainWindow", "left", "-5"));     // new section at the end
  EXPECT_EQ(ini.text(), "; top comment\r\n[General]\r\nLastFile=new\r\nKeep=1\r\nLastTilesRes=2\r\n\r\n"
                        "[Tools]\r\n; note\r\nx = y\r\nbare line\r\n\r\n[MainWindow]\r\nleft=-5\r\n");
}

TEST(IniFile, ValuesReadBackAsWrittenAndLineBreaksAreRefused) {
  IniFile ini;
  for (const std::string v : {"  padded  ", "\"quoted\"", "'q'", "a=b;c", "", "\"half"}) {
    ASSERT_TRUE(ini.set("s", "k", v));
    IniFile again;
    again.parse(ini.text());
    EXPECT_EQ(again.get("s", "k").value_or("?"), v);
  }
  ASSERT_TRUE(ini.set("s", "k", "kept"));
  EXPECT_FALSE(ini.set("s", "k", "a\nInjected=1"));
  EXPECT_FALSE(ini.set("s", "k\r", "v"));
  EXPECT_FALSE(ini.set("s", "a=b", "v"));
  EXPECT_FALSE(ini.set("s]", "k", "v"));
  EXPECT_EQ(ini.get("s", "k").value_or("?"), "kept");
  EXPECT_FALSE(ini.get("s", "Injected").has_value());
}

TEST(IniFile, ByteOrderMarkIsKeptAndSkipped) {
  IniFile ini;
  ini.parse("\xEF\xBB\xBF[General]\r\nLastFile=x\r\n");
  EXPECT_EQ(ini.get("General", "LastFile").value_or("?"), "x");
  EXPECT_EQ(ini.text(), "\xEF\xBB\xBF[General]\r\nLastFile=x\r\n");
}

TEST(IniFile, SaveReplacesTheFileWholeAndLeavesNoTemporaryFiles) {
  TempDir dir;
  const std::string path = dir.file("ZelvoTool.ini");
  IniFile ini;
  EXPECT_TRUE(ini.load(path)) << "a missing file is an empty one";
  ASSERT_TRUE(ini.set("General", "LastFile", "a"));
  ASSERT_TRUE(ini.save(path)); // creates the file and the section
  EXPECT_EQ(test::readFileBytes(path), "[General]\r\nLastFile=a\r\n");
  EXPECT_EQ(test::countTmpFiles(dir.path()), 0u);

  IniFile loaded;
  ASSERT_TRUE(loaded.load(path));
  EXPECT_EQ(loaded.get("General", "LastFile").value_or("?"), "a");

  // A target that cannot be replaced (a folder with a file in it): the write fails cleanly.
  const std::string blocked = dir.file("blocked.ini");
  ASSERT_TRUE(createDirectory(blocked));
  ASSERT_TRUE(test::writeFileBytes(blocked + "/inside", "x", 1));
  EXPECT_FALSE(ini.save(blocked));
  EXPECT_TRUE(isDirectory(blocked));
  EXPECT_EQ(test::countTmpFiles(dir.path()), 0u);
  const Status unreadable = IniFile().load(blocked);
  ASSERT_FALSE(unreadable);
  EXPECT_EQ(unreadable.error().path, blocked);
}

} // namespace
} // namespace zelvo
