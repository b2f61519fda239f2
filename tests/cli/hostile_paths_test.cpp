// Paths a hostile or careless user gives the commands: outputs that name what the command reads or
// what is no regular file, inputs that are FIFOs or devices, a stdout that takes nothing. Every
// run ends at once with its reason and changes nothing.
#include "platform/fs.h"
#include "platform/path.h"
#include "support/cli_run.h"
#include "support/example_pack.h"
#include "support/temp_dir.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <sys/stat.h>
#include <unistd.h>

namespace zelvo {
namespace {

namespace fs = std::filesystem;
using test::TempDir;
using Outcome = test::CliOutcome;

constexpr int kLimitSeconds = 60; // far beyond any run here: reached only by a run that hangs

// Every name below `folder` with its type, and the size and a hash of each regular file.
std::map<std::string, std::string> snapshot(const std::string& folder) {
  std::map<std::string, std::string> seen;
  for (const auto& e : fs::recursive_directory_iterator(folder)) {
    const std::string name = fs::relative(e.path(), folder).string();
    const fs::file_type type = e.symlink_status().type();
    std::string& what = seen[name] = "type " + std::to_string(int(type));
    if (type != fs::file_type::regular) continue;
    const std::string bytes = test::readFileBytes(e.path().string());
    what += ", " + std::to_string(bytes.size()) + " bytes, hash " +
            std::to_string(std::hash<std::string>{}(bytes));
  }
  return seen;
}

void copyFile(const std::string& from, const std::string& to) {
  const std::string bytes = test::readFileBytes(from);
  ASSERT_TRUE(test::writeFileBytes(to, bytes.data(), bytes.size())) << to;
}

class HostilePathsTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(createDirectory(dir.file("game")));
    for (const auto& e : fs::directory_iterator(test::kExampleFolder))
      copyFile(e.path().string(), dir.file("game/" + e.path().filename().string()));
    copyFile(test::kExampleRom, dir.file("game.sms"));
    const Outcome built = run("build game -r game.sms -o pack.zrm -s 2");
    ASSERT_EQ(built.status, 0) << built.err;
  }
  Outcome run(const std::string& arguments) const {
    return test::runZelvo(dir.path(), arguments, work, {}, kLimitSeconds);
  }

  TempDir dir;  // what the commands see
  TempDir work; // their stdout and stderr
};

// Each command's outputs against every kind of path it must not write: the run is refused before
// any work with the reason, and nothing in the folder changes.
TEST_F(HostilePathsTest, NoCommandWritesWhereItMustNot) {
  struct Command {
    const char* name;
    std::string arguments; // "{}" stands for the output
    const char* extension;
    const char* alphaOf;   // for a BMP export: the file checked is the alpha image of "{}"
    const char* input;     // a file the command reads
    const char* inputWhat; // how the refusal names it
  };
  const Command commands[] = {
      {"build -o", "build game -r game.sms -s 1 -o '{}'", ".zrm", nullptr, "game.sms", "the original ROM"},
      {"build --report", "build game -r game.sms -s 1 -o new.zrm --report '{}'", ".json", nullptr, "game.sms",
       "the original ROM"},
      {"export", "export game/title.msscreen '{}'", ".png", nullptr, "game/title.msscreen",
       "the screen file"},
      {"export BMP", "export game/level.msscreen '{}'", ".bmp", "_alpha", "game/level.msscreen",
       "the screen file"},
      {"preview", "preview game/title.msscreen pack.zrm '{}'", ".png", nullptr, "pack.zrm", "the pack read"},
      {"sheet", "sheet pack.zrm '{}'", ".png", nullptr, "pack.zrm", "the pack read"},
  };
  enum class Make { SymbolicLink, HardLink, Device, Fifo, Folder, File, Nothing };
  struct Kind {
    const char* name;
    Make make;
    std::string base; // the output's name without its extension
    int status;
    const char* said;                // "=input" for the input's name; "" checks the status alone
    const char* extension = nullptr; // the output's own, when not the command's
  };
  const Kind kinds[] = {
      {"a symbolic link to an input", Make::SymbolicLink, "link", 1, "=input"},
      {"a hard link to an input", Make::HardLink, "hard", 1, "=input"},
      {"a device", Make::Device, "null", 1, "a character device, not a regular file"},
      {"a FIFO", Make::Fifo, "fifo", 1, "a FIFO, not a regular file"},
      {"a folder", Make::Folder, "folder", 1, "is a folder"},
      {"an existing file", Make::File, "notes", 1, "use --force to replace it"},
      {"a missing folder", Make::Nothing, "none/out", 1, "folder not found: none"},
      {"a new image of the input folder", Make::Nothing, "game/new", 1, "a file the build reads", ".png"},
      {"an overlong name", Make::Nothing, std::string(300, 'a'), 2, "too long"},
      {"an empty name", Make::Nothing, "", 2, ""},
  };
  for (const Command& c : commands) {
    for (const Kind& k : kinds) {
      if (k.extension && std::string(c.name).rfind("build", 0) != 0) continue; // the build's input folder
      SCOPED_TRACE(std::string(c.name) + " to " + k.name);
      const std::string argument = k.base.empty() ? "" : k.base + (k.extension ? k.extension : c.extension);
      const std::string written = c.alphaOf && !k.base.empty() ? k.base + c.alphaOf + c.extension : argument;
      const std::string at = dir.file(written);
      const std::string input = dir.file(c.input);
      switch (k.make) {
      case Make::SymbolicLink:
        ASSERT_EQ(::symlink(input.c_str(), at.c_str()), 0);
        break;
      case Make::HardLink:
        ASSERT_EQ(::link(input.c_str(), at.c_str()), 0);
        break;
      case Make::Device:
        ASSERT_EQ(::symlink("/dev/null", at.c_str()), 0);
        break;
      case Make::Fifo:
        ASSERT_EQ(::mkfifo(at.c_str(), 0644), 0);
        break;
      case Make::Folder:
        ASSERT_TRUE(createDirectory(at));
        break;
      case Make::File:
        ASSERT_TRUE(test::writeFileBytes(at, "kept", 4));
        break;
      case Make::Nothing:
        break;
      }
      const auto before = snapshot(dir.path());
      std::string arguments = c.arguments;
      arguments.replace(arguments.find("{}"), 2, argument);
      const Outcome o = run(arguments);
      EXPECT_EQ(o.status, k.status) << o.err;
      const std::string said = std::string(k.said) == "=input" ? std::string("is ") + c.inputWhat : k.said;
      EXPECT_NE(o.err.find(said), std::string::npos) << o.err;
      EXPECT_EQ(o.out, "");
      EXPECT_EQ(snapshot(dir.path()), before);
      if (k.make == Make::Folder)
        fs::remove(at);
      else if (k.make != Make::Nothing)
        (void)deleteFile(at);
    }
  }
}

// FIFOs and devices where files are read: each is refused at once and named, a command ends with
// its reason and a build passes over a tiles file, screen or image with the usual warning. A file
// too large for a ROM is named by its size.
TEST_F(HostilePathsTest, FifosAndDevicesAreRefusedAtOnce) {
  ASSERT_TRUE(createDirectory(dir.file("fifos")));
  for (const auto& e : fs::directory_iterator(dir.file("game")))
    copyFile(e.path().string(), dir.file("fifos/" + e.path().filename().string()));
  copyFile(dir.file("game/title.png"), dir.file("fifos/extra.png")); // a screen is read when it has an image
  for (const char* name : {"fifo.sms", "fifo.zrm", "fifos/a.mstiles", "fifos/extra.msscreen"})
    ASSERT_EQ(::mkfifo(dir.file(name).c_str(), 0644), 0) << name;
  for (const char* name : {"fifos/title.png", "fifos/level_alpha.bmp"})
    ASSERT_TRUE(deleteFile(dir.file(name)) && ::mkfifo(dir.file(name).c_str(), 0644) == 0) << name;
  ASSERT_TRUE(test::writeFileBytes(dir.file("huge.sms"), "", 0));
  ASSERT_EQ(::truncate(dir.file("huge.sms").c_str(), off_t(5) << 30), 0); // sparse: takes no room

  const struct {
    std::string arguments;
    int status;
    std::vector<std::string> said;
  } cases[] = {
      {"build game -r fifo.sms -o a.zrm", 1, {"ROM is a FIFO, not a regular file: fifo.sms"}},
      {"build game -r /dev/zero -o a.zrm", 1, {"ROM is a character device, not a regular file: /dev/zero"}},
      {"build game -r huge.sms -o a.zrm -s 1", 1, {"huge.sms: the file holds 5.4 GB; a ROM"}},
      {"build fifos -r game.sms -o a.zrm -s 2",
       0,
       {"Warning: tiles file a.mstiles passed over: a.mstiles: a FIFO, not a regular file",
        "Warning: screen extra.msscreen skipped: extra.msscreen: a FIFO, not a regular file",
        "Warning: screen level.msscreen skipped: level_alpha.bmp: a FIFO, not a regular file",
        "Warning: screen title.msscreen skipped: title.png: a FIFO, not a regular file"}},
      {"inspect fifo.zrm --json", 1, {"fifo.zrm: a FIFO, not a regular file"}},
      {"inspect /dev/zero", 1, {"/dev/zero: a character device, not a regular file"}},
      {"export fifos/extra.msscreen x.png", 1, {"extra.msscreen: cannot load the screen file", "a FIFO"}},
      {"preview fifos/extra.msscreen pack.zrm x.png", 1, {"extra.msscreen: cannot load", "a FIFO"}},
      {"preview game/title.msscreen fifo.zrm x.png", 1, {"fifo.zrm: a FIFO, not a regular file"}},
      {"sheet fifo.zrm x.png", 1, {"fifo.zrm: a FIFO, not a regular file"}},
      {"sheet /dev/zero x.png", 1, {"/dev/zero: a character device, not a regular file"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments);
    const Outcome o = run(c.arguments);
    EXPECT_EQ(o.status, c.status) << o.err;
    for (const std::string& said : c.said)
      EXPECT_NE((o.out + o.err).find(said), std::string::npos) << said << "\n" << o.out << o.err;
  }
  EXPECT_EQ(pathKind(dir.file("x.png")), PathKind::Missing);
}

// A stdout that takes nothing (a full disk, closed) ends the command with exit 1 and the reason,
// never with the output silently lost.
TEST_F(HostilePathsTest, AStdoutThatTakesNothingFailsTheCommand) {
  for (const char* arguments :
       {"inspect pack.zrm --json", "inspect pack.zrm", "sheet pack.zrm s.png --json --force",
        "preview game/title.msscreen pack.zrm p.png --json --force",
        "build game -r game.sms -o o.zrm -s 1 --json", "build game -r game.sms -o o.zrm -s 1"})
    for (const char* stdoutIs : {">/dev/full", ">&-"}) {
      SCOPED_TRACE(std::string(arguments) + " " + stdoutIs);
      const std::string err = work.file("stderr.txt");
      const int raw =
          std::system(("cd '" + dir.path() + "' && timeout " + std::to_string(kLimitSeconds) + " '" +
                       ZELVO_CLI_PATH "' " + arguments + " " + stdoutIs + " 2>'" + err + "'")
                          .c_str());
      EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 1) << raw;
      EXPECT_NE(test::readFileBytes(err).find("cannot write to standard output"), std::string::npos)
          << test::readFileBytes(err);
    }
}

} // namespace
} // namespace zelvo
