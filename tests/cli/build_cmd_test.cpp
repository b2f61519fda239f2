// `zelvo build` and `zelvo inspect` of a pack, run as a user runs them.
#include "pipeline/build_test_util.h"
#include "platform/fs.h"
#include "render/image_read.h"
#include "support/cli_run.h"
#include "support/image_files.h"
#include "support/temp_dir.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <nlohmann/json.hpp>
#include <poll.h>
#include <set>
#include <sys/wait.h>
#include <unistd.h>

namespace zelvo {
namespace {

using test::TempDir;

using Outcome = test::CliOutcome;

// An existing output the build may replace: it starts as a pack does.
constexpr char kOldPack[] = "MSHIROM\0an older pack";

// Runs the program with `arguments` from the folder `cwd`.
Outcome zelvo(const std::string& cwd, const std::string& arguments, const TempDir& dir) {
  return test::runZelvo(cwd, arguments, dir);
}

// Runs `zelvo ARGUMENTS` in `cwd` as if Ctrl+C had been pressed as it started: a SIGINT is
// already waiting (blocked) when the program begins.
Outcome runWithCtrlC(const std::string& cwd, std::vector<std::string> arguments, const TempDir& dir) {
  const std::string out = dir.file("stdout.txt"), err = dir.file("stderr.txt");
  std::vector<char*> argv{const_cast<char*>(ZELVO_CLI_PATH)};
  for (std::string& a : arguments) argv.push_back(a.data());
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (o < 0 || e < 0 || dup2(o, 1) < 0 || dup2(e, 2) < 0 || chdir(cwd.c_str()) != 0) _exit(127);
    signal(SIGINT, SIG_DFL); // as a program started from a terminal has it, whatever runs the tests
    sigset_t interrupt;
    sigemptyset(&interrupt);
    sigaddset(&interrupt, SIGINT);
    sigprocmask(SIG_BLOCK, &interrupt, nullptr);
    kill(getpid(), SIGINT);
    execv(ZELVO_CLI_PATH, argv.data());
    _exit(127);
  }
  Outcome o;
  int raw = 0;
  if (pid > 0 && waitpid(pid, &raw, 0) == pid && WIFEXITED(raw)) o.status = WEXITSTATUS(raw);
  o.out = test::readFileBytes(out);
  o.err = test::readFileBytes(err);
  return o;
}

class BuildCommandTest : public ::testing::Test {
protected:
  void SetUp() override {
    input = dir.file("in");
    ASSERT_TRUE(createDirectory(input));
    for (int i = 0; i < 3; ++i) recipe.addPalette(std::uint8_t(1 + 9 * i), std::uint64_t(i));
    for (int i = 0; i < 5; ++i) recipe.addPattern(std::uint8_t(1 + i), std::uint64_t(5 - i));
    for (int i = 0; i < 12; ++i)
      recipe.addEntry(i % kGroupCount, std::uint32_t(i % 3), std::uint32_t(i % 5), std::uint64_t(i));
    ASSERT_TRUE(test::writeTilesFixture(joinPath(input, "game.mstiles"), recipe));
    std::vector<std::uint8_t> rom(32768, 0x11);
    std::memcpy(rom.data() + 0x7FF0, "TMR SEGA", 8);
    ASSERT_TRUE(test::writeFileBytes(dir.file("game.sms"), rom.data(), rom.size()));
  }
  test::TilesContent recipe;
  TempDir dir;
  TempDir cacheDir; // the build cache's home, beside the folder the tests look at
  const test::ScopedCacheHome cacheHome{cacheDir.path()};
  std::string input;
};

// `zelvo build ARGUMENTS` started in `cwd` as a child whose output (stdout and stderr) is read as it
// comes; killed when the test ends, however it ends.
class ChildBuild {
public:
  ChildBuild(const std::string& cwd, std::vector<std::string> arguments) {
    int fds[2];
    if (pipe(fds) != 0) return;
    std::vector<char*> argv{const_cast<char*>(ZELVO_CLI_PATH)};
    for (std::string& a : arguments) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
      if (dup2(fds[1], 1) < 0 || dup2(fds[1], 2) < 0 || chdir(cwd.c_str()) != 0) _exit(127);
      close(fds[0]);
      signal(SIGINT, SIG_DFL);
      execv(ZELVO_CLI_PATH, argv.data());
      _exit(127);
    }
    close(fds[1]);
    fd_ = fds[0];
  }
  ~ChildBuild() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (fd_ >= 0) close(fd_);
  }
  ChildBuild(const ChildBuild&) = delete;
  ChildBuild& operator=(const ChildBuild&) = delete;

  // Reads until a line that starts with `prefix` has come, for at most `seconds`; what was read
  // since the last call is in `output`.
  bool waitFor(const std::string& prefix, int seconds) {
    output.clear();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    for (std::size_t line = 0;;) {
      for (std::size_t end; (end = output.find('\n', line)) != std::string::npos; line = end + 1)
        if (output.compare(line, prefix.size(), prefix) == 0) return true;
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      pollfd p{fd_, POLLIN, 0};
      char buffer[4096];
      if (left.count() <= 0 || poll(&p, 1, int(left.count())) <= 0) return false;
      const ssize_t n = read(fd_, buffer, sizeof buffer);
      if (n <= 0) return false;
      output.append(buffer, std::size_t(n));
    }
  }
  // Sends Ctrl+C; the exit status, or -1 when it does not end within `seconds`.
  int interrupt(int seconds) {
    kill(pid_, SIGINT);
    for (int waited = 0; waited < seconds * 10; ++waited) {
      int raw = 0;
      if (waitpid(pid_, &raw, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
      }
      usleep(100000);
    }
    return -1;
  }

  std::string output;

private:
  pid_t pid_ = -1;
  int fd_ = -1;
};

// --watch builds, then builds again after each change to the inputs, keeps the last good pack
// through a failed build and goes on, and ends with Ctrl+C.
TEST_F(BuildCommandTest, WatchBuildsAgainAfterEveryChangeAndOutlivesAFailedBuild) {
  ChildBuild watch(dir.path(),
                   {"build", "in", "--rom", "game.sms", "--output", "out.zrm", "--scale", "2", "--watch"});
  ASSERT_TRUE(watch.waitFor("Watching ", 120)) << watch.output;
  const std::string first = test::readFileBytes(dir.file("out.zrm"));
  ASSERT_FALSE(first.empty());

  // A new screen with its image, painted: built again with it.
  test::ScreenContent screen;
  screen.height = 8;
  screen.setCell(0, 0, recipe, 0, 0, 0); // the first entry of group 0
  auto image = test::blankImage(256 * 2, 8 * 2);
  test::putTile(image, 0, 0, 16, std::vector<std::uint8_t>(16 * 16 * 4, 0x77));
  // The image first (its save is synced, which may take longer than the watch waits), then the
  // screen that uses it.
  ASSERT_TRUE(test::saveBmp(image, joinPath(input, "new.bmp")));
  ASSERT_TRUE(watch.waitFor("Rebuilt in ", 120)) << watch.output;
  ASSERT_TRUE(test::writeScreenFixture(joinPath(input, "new.msscreen"), screen));
  ASSERT_TRUE(watch.waitFor("Rebuilt in ", 120)) << watch.output;
  EXPECT_NE(watch.output.find("Screens: 1 used, 0 skipped; 1 tile replaced; 1 of 12 tile entries painted"),
            std::string::npos)
      << watch.output;
  const std::string second = test::readFileBytes(dir.file("out.zrm"));
  EXPECT_TRUE(second != first);

  // A tiles file that cannot be read: the build fails, the pack stays, the watch goes on.
  const std::string tiles = test::readFileBytes(joinPath(input, "game.mstiles"));
  ASSERT_TRUE(test::writeFileBytes(joinPath(input, "game.mstiles"), "not tiles", 9));
  ASSERT_TRUE(watch.waitFor("Rebuild failed", 120)) << watch.output;
  EXPECT_NE(watch.output.find("Can't find any valid .mstiles file"), std::string::npos) << watch.output;
  EXPECT_TRUE(test::readFileBytes(dir.file("out.zrm")) == second);

  // Mended: the same pack as before it broke.
  ASSERT_TRUE(test::writeFileBytes(joinPath(input, "game.mstiles"), tiles.data(), tiles.size()));
  ASSERT_TRUE(watch.waitFor("Rebuilt in ", 120)) << watch.output;
  EXPECT_TRUE(test::readFileBytes(dir.file("out.zrm")) == second);
  EXPECT_EQ(watch.interrupt(30), 130);
}

TEST_F(BuildCommandTest, PrintsTheLogAndTakesRelativePathsFromTheShellsFolder) {
  const Outcome o = zelvo(dir.path(), "build in --rom game.sms --output out.zrm --scale 2", dir);
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.out, "Looking for original tiles...\n"
                   "Tiles file: game.mstiles\n"
                   "Creating high-resolution tiles using scale algorithm...\n"
                   "Replacing tiles...\n"
                   "Screens: 0 used, 0 skipped; 0 tiles replaced; 0 of 12 tile entries painted (0 %)\n"
                   "Creating high-resolution ROM...\n"
                   "Compressing and saving original ROM...\n"
                   "Compressing and saving original tiles...\n"
                   "Compressing and saving high-resolution tiles...\n"
                   "Build cache: 0 of 2 hi-res blocks reused\n"
                   "Success!\n");
  EXPECT_EQ(o.err, ""); // no progress line unless stdout is a terminal
  EXPECT_EQ(pathKind(dir.file("out.zrm")), PathKind::File);
  EXPECT_EQ(pathKind(joinPath(input, "out.zrm")), PathKind::Missing);

  // The pack describes itself.
  const Outcome inspect = zelvo(dir.path(), "inspect out.zrm --json", dir);
  ASSERT_EQ(inspect.status, 0) << inspect.err;
  const auto j = nlohmann::json::parse(inspect.out);
  EXPECT_EQ(j["kind"], "pack");
  EXPECT_EQ(j["scale"], 2);
  EXPECT_EQ(j["romSize"], 32768);
  EXPECT_EQ(j["romDigestOk"], true);
  EXPECT_EQ(j["hiResDigestOk"], true);
  EXPECT_EQ(j["entryCount"], 12);
  EXPECT_EQ(j["groups"], nlohmann::json({2, 2, 2, 1, 1, 1, 1, 1, 1}));
  EXPECT_LE(j["tileCount"].get<int>(), 12);
  EXPECT_EQ(j["tilesOk"], true);
  EXPECT_EQ(j["sizeOk"], true);
  const std::uint64_t size = j["romSectionSize"].get<std::uint64_t>() +
                             j["tilesSectionSize"].get<std::uint64_t>() +
                             j["hiResSectionSize"].get<std::uint64_t>() + 48;
  EXPECT_EQ(size, test::readFileBytes(dir.file("out.zrm")).size());

  // A damaged hi-res section is noticed.
  std::string bytes = test::readFileBytes(dir.file("out.zrm"));
  bytes[bytes.size() - 40] = char(bytes[bytes.size() - 40] ^ 0x55);
  ASSERT_TRUE(test::writeFileBytes(dir.file("bad.zrm"), bytes.data(), bytes.size()));
  const Outcome bad = zelvo(dir.path(), "inspect bad.zrm --json", dir);
  EXPECT_EQ(bad.status, 1) << bad.err;
  const auto damaged = nlohmann::json::parse(bad.out);
  EXPECT_EQ(damaged["hiResDigestOk"], false);
  EXPECT_EQ(damaged["romDigestOk"], true);
  EXPECT_EQ(damaged["ok"], false);
  EXPECT_EQ(damaged["size"], bytes.size());
  ASSERT_EQ(damaged["problems"].size(), 1u);
  EXPECT_NE(damaged["problems"][0].get<std::string>().find("hi-res"), std::string::npos);
}

TEST_F(BuildCommandTest, ExitStatusSaysWhetherTheBuildSucceeded) {
  const std::string old = std::string(kOldPack, sizeof kOldPack - 1);
  ASSERT_TRUE(test::writeFileBytes(dir.file("out.zrm"), old.data(), old.size()));
  Outcome o = zelvo(dir.path(), "build in --rom game.sms --output out.zrm --scale 5", dir);
  EXPECT_EQ(o.status, 2);
  EXPECT_EQ(zelvo(dir.path(), "build in --output out.zrm", dir).status, 2);
  EXPECT_EQ(test::readFileBytes(dir.file("out.zrm")), old);
  EXPECT_EQ(zelvo(dir.path(), "build in --rom game.sms --output out.zrm --threads 0", dir).status, 2);
  // More threads than cores: as many as there are cores, said once.
  o = zelvo(dir.path(), "build in --rom game.sms --output many.zrm --scale 1 --threads 1024", dir);
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.err.find("zelvo build: --threads 1024 is more than the "), 0u) << o.err;
  EXPECT_EQ(std::count(o.err.begin(), o.err.end(), '\n'), 1);
  o = zelvo(dir.path(), "build in --rom game.sms --output out.zrm --scale 1", dir);
  EXPECT_EQ(o.status, 0);
  const std::string pack = test::readFileBytes(dir.file("out.zrm"));
  EXPECT_NE(pack, old);
  // One thread or several: the same pack.
  EXPECT_EQ(zelvo(dir.path(), "build in --rom game.sms --output one.zrm --scale 1 --threads 1", dir).status,
            0);
  EXPECT_EQ(test::readFileBytes(dir.file("one.zrm")), pack);
  EXPECT_EQ(test::readFileBytes(dir.file("many.zrm")), pack);
}

// --quiet keeps warnings and error lines; --json leaves stdout to the report alone; --report saves
// the same report whatever the build's outcome.
// A name that is not UTF-8 and holds an escape (Latin-1 "é", ESC) is escaped in the log and
// written with U+FFFD in the JSON.
TEST_F(BuildCommandTest, QuietJsonAndReportShapeWhatIsPrinted) {
  const std::string junk = "a\xE9\x1B.mstiles";
  ASSERT_TRUE(test::writeFileBytes(joinPath(input, junk), "not tiles", 9)); // passed over: a warning
  const std::string warning = "Warning: tiles file a\\xe9\\e.mstiles passed over: ";
  // A ROM that passes the checks before the build but is refused by its ROM stage.
  ASSERT_TRUE(test::writeFileBytes(dir.file("bad.sms"), "not a ROM", 9));
  struct Case {
    const char* arguments;
    int status;
    bool json;            // stdout is the report
    const char* lastLine; // of the log, on stdout or (with --json) stderr
    std::size_t logLines;
  };
  const Case cases[] = {
      {"--quiet", 0, false, warning.c_str(), 1},
      {"--quiet --rom bad.sms", 1, false, "Error: invalid original ROM", 2},
      {"--json", 0, true, "Success!", 12},
      {"--json --quiet --rom bad.sms", 1, true, "Error: invalid original ROM", 2},
      {"--report r.json", 0, false, "Success!", 12},
      {"--report r.json", 0, false, "Success!", 12}, // again: an earlier report is replaced
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.arguments);
    const std::string rom =
        std::string(k.arguments).find("--rom") == std::string::npos ? " --rom game.sms" : "";
    const Outcome o = zelvo(dir.path(), std::string("build in --output out.zrm ") + k.arguments + rom, dir);
    EXPECT_EQ(o.status, k.status) << o.err;
    std::string log = k.json ? o.err : o.out;
    // stderr also carries the reason of a failure, after its line.
    if (k.json && k.status != 0) log = log.substr(0, log.find("zelvo build: "));
    std::vector<std::string> lines;
    for (std::size_t at = 0, end; (end = log.find('\n', at)) != std::string::npos; at = end + 1)
      lines.push_back(log.substr(at, end - at));
    ASSERT_EQ(lines.size(), k.logLines) << log;
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [&](const std::string& line) { return line.rfind(warning, 0) == 0; }),
              1)
        << "the warning is kept";
    EXPECT_EQ(lines.back().rfind(k.lastLine, 0), 0u) << lines.back();
    if (!k.json) continue;
    const auto report = nlohmann::json::parse(o.out);
    EXPECT_EQ(report["success"], k.status == 0);
    EXPECT_EQ(report["tilesFile"], "game.mstiles");
    EXPECT_EQ(report["tilesPassedOver"][0]["name"], "a\uFFFD\u001B.mstiles");
    EXPECT_EQ(report["digests"]["romMd5"].is_string(), k.status == 0);
  }
  const auto saved = nlohmann::json::parse(test::readFileBytes(dir.file("r.json")));
  EXPECT_EQ(saved["success"], true);
  EXPECT_EQ(saved["counts"]["warnings"], 1);
  EXPECT_EQ(saved["digests"]["hiResMd5"].get<std::string>().size(), 32u);
}

// Usage errors exit 2 and failures found before the build starts exit 1, both with the reason on
// stderr and no log line: no stage has run.
TEST_F(BuildCommandTest, UsageErrorsAndChecksBeforeTheBuildHaveTheirExitStatus) {
  struct Case {
    const char* arguments;
    int status;
    const char* said; // on stderr, or on stdout for a status of 0
  };
  const Case cases[] = {
      {"bulid in -r game.sms -o out.zrm", 2, "unknown command 'bulid'; did you mean 'build'?"},
      {"inspcet out.zrm", 2, "did you mean 'inspect'?"},
      {"frobnicate", 2, "unknown command 'frobnicate'\n"},
      {"", 2, "required"},
      {"build in -r game.sms", 2, "--output"},
      {"build in -r game.sms -o out.zrm -s 5", 2, "scale"},
      {"export a.msscreen a.png --display --factor 2", 2, "excludes"},
      {"export a.msscreen a.bmp --display", 2, "must end in .png"},
      {"export a.msscreen a.png --format gif", 2, "format"},
      {"build missing -r game.sms -o out.zrm", 1, "zelvo build: input folder not found: missing\n"},
      {"build in -r nothing.sms -o out.zrm", 1, "zelvo build: ROM not found: nothing.sms\n"},
      {"build in -r in -o out.zrm", 1, "ROM is a folder"},
      {"build in -r game.sms -o none/out.zrm", 1, "output folder not found: none"},
      {"build in -r game.sms -o in", 1, "output is a folder"},
      {"--version", 0, "zelvo " ZELVO_VERSION "\n"},
      {"--help", 0, "130 interrupted"},
      {"build --help", 0, "=4"},
      {"export --help", 0, "=1"},
  };
  for (const Case& c : cases) {
    const Outcome o = zelvo(dir.path(), c.arguments, dir);
    EXPECT_EQ(o.status, c.status) << c.arguments;
    EXPECT_NE((c.status == 0 ? o.out : o.err).find(c.said), std::string::npos) << c.arguments << "\n"
                                                                               << o.out << o.err;
    if (c.status != 0) {
      EXPECT_EQ(o.out, "") << c.arguments;
    }
  }
  EXPECT_EQ(pathKind(dir.file("out.zrm")), PathKind::Missing);
  EXPECT_EQ(zelvo(dir.path(), "build in -r game.sms -o out.zrm -s 1", dir).status, 0);
}

// The pack never replaces what the build reads, however the path is spelled; another file that is
// not a pack goes only with --force.
TEST_F(BuildCommandTest, TheOutputNeverOverwritesAnInput) {
  for (const char* name : {"title.msscreen", "title.png", "title_alpha.BMP"})
    ASSERT_TRUE(test::writeFileBytes(joinPath(input, name), name, std::strlen(name)));
  ASSERT_TRUE(test::writeFileBytes(dir.file("notes.txt"), "notes", 5));
  const std::pair<const char*, const char*> cases[] = {
      {"game.sms", "the original ROM"},
      {"in/../game.sms", "the original ROM"},
      {"in/game.mstiles", "a file the build reads"},
      {"./in/title.msscreen", "a file the build reads"},
      {"in/title.png", "a file the build reads"},
      {"in/title_alpha.BMP", "a file the build reads"},
      {"in/new.PNG", "a file the build reads"},
      {"notes.txt", "--force"},
  };
  std::map<std::string, std::string> before;
  for (const char* name : {"game.sms", "in/game.mstiles", "in/title.msscreen", "in/title.png",
                           "in/title_alpha.BMP", "notes.txt"})
    before[name] = test::readFileBytes(dir.file(name));
  for (const auto& [output, reason] : cases) {
    const Outcome o = zelvo(dir.path(), std::string("build in -r game.sms -o ") + output, dir);
    EXPECT_EQ(o.status, 1) << output;
    EXPECT_EQ(o.out, "") << output;
    EXPECT_NE(o.err.find(reason), std::string::npos) << output << ": " << o.err;
  }
  for (const auto& [name, bytes] : before) EXPECT_EQ(test::readFileBytes(dir.file(name)), bytes) << name;
  EXPECT_EQ(pathKind(joinPath(input, "new.PNG")), PathKind::Missing);

  EXPECT_EQ(zelvo(dir.path(), "build in -r game.sms -o notes.txt --force", dir).status, 0);
  EXPECT_EQ(zelvo(dir.path(), "build in -r game.sms -o notes.txt", dir).status, 0) << "now a pack";
}

// A full disk (here a file-size limit of 512 bytes) and Ctrl+C end a build as any failure does:
// the old pack stays, nothing is left behind, the log's last line says what ended it and stderr
// says why. Ctrl+C exits with 130, as shells report a program that SIGINT ended.
TEST_F(BuildCommandTest, AFullDiskOrCtrlCEndsTheBuildAndKeepsTheOldPack) {
  const std::string old = std::string(kOldPack, sizeof kOldPack - 1);
  ASSERT_TRUE(test::writeFileBytes(dir.file("out.zrm"), old.data(), old.size()));
  const test::ScopedTmpDir tmp(dir.path()); // the program's scratch files would be left here

  Outcome o = test::runZelvo(dir.path(), "build in --rom game.sms --output out.zrm", dir, "ulimit -f 1");
  EXPECT_EQ(o.status, 1) << "a failed write, not a signal, ends it";
  EXPECT_NE(o.out.find("\nError: "), std::string::npos) << o.out;
  EXPECT_NE(o.err.find("File too large"), std::string::npos) << o.err;
  EXPECT_EQ(test::readFileBytes(dir.file("out.zrm")), old);
  EXPECT_EQ(test::countTmpFiles(dir.path()) + test::countTmpFiles(input), 0u);

  o = runWithCtrlC(dir.path(), {"build", "in", "--rom", "game.sms", "--output", "out.zrm"}, dir);
  EXPECT_EQ(o.status, 130);
  EXPECT_EQ(o.out, "Looking for original tiles...\nCancelled\n");
  EXPECT_NE(o.err.find("stopped at the user's request"), std::string::npos) << o.err;
  EXPECT_EQ(test::readFileBytes(dir.file("out.zrm")), old);
  EXPECT_EQ(test::countTmpFiles(dir.path()) + test::countTmpFiles(input), 0u);
}

// Names of everything below `folder`, folders included.
std::set<std::string> namesBelow(const std::string& folder) {
  std::set<std::string> names;
  std::error_code ec;
  for (const auto& e : std::filesystem::recursive_directory_iterator(folder, ec))
    names.insert(std::filesystem::relative(e.path(), folder).string());
  return names;
}

// SIGKILL gives the program no chance to clean up: whatever it holds must vanish with it. The
// build is killed as each of its stage lines reaches the pipe (the stage has begun, its files are
// open); afterwards the old pack is intact and no file has appeared in the output's folder, the
// input folder or TMPDIR. The game is large enough that the last stage takes a while, so the
// build is still running when the kill comes; one that got to its end anyway may have replaced
// the pack, but has left nothing else either.
TEST_F(BuildCommandTest, AKilledBuildLeavesNothingBehind) {
  const std::string old = std::string(kOldPack, sizeof kOldPack - 1);
  const std::string pack = dir.file("out.zrm"), tmp = dir.file("tmp"), big = dir.file("big");
  ASSERT_TRUE(test::writeFileBytes(pack, old.data(), old.size()) && createDirectory(tmp) &&
              createDirectory(big));
  test::TilesContent recipe;
  for (std::uint32_t i = 0; i < 16; ++i) recipe.addPalette(1 + i, i);
  for (std::uint32_t i = 0; i < 2000; ++i) recipe.addEntry(0, i % 16, recipe.addPattern(100 + i, i), i);
  ASSERT_TRUE(test::writeTilesFixture(joinPath(big, "game.mstiles"), recipe));
  const test::ScopedTmpDir scoped(tmp);
  const std::set<std::string> before = namesBelow(dir.path());
  for (int stage = 1; stage <= 7; ++stage) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t pid = fork();
    if (pid == 0) {
      if (dup2(fds[1], 1) < 0 || chdir(dir.path().c_str()) != 0) _exit(127);
      close(fds[0]);
      execl(ZELVO_CLI_PATH, ZELVO_CLI_PATH, "build", "big", "--rom", "game.sms", "--output", "out.zrm",
            "--scale", "4", static_cast<char*>(nullptr));
      _exit(127);
    }
    close(fds[1]);
    std::string log;
    int stagesSeen = 0;
    char c = 0;
    while (stagesSeen < stage && read(fds[0], &c, 1) == 1) {
      log += c;
      if (c == '\n' && log.size() >= 4 && log.compare(log.size() - 4, 4, "...\n") == 0) ++stagesSeen;
    }
    kill(pid, SIGKILL);
    int raw = 0;
    waitpid(pid, &raw, 0);
    close(fds[0]);
    EXPECT_EQ(stagesSeen, stage) << log;
    if (WIFSIGNALED(raw)) {
      EXPECT_EQ(test::readFileBytes(pack), old) << "killed at stage " << stage;
    }
    EXPECT_EQ(namesBelow(dir.path()), before) << "killed at stage " << stage;
    EXPECT_EQ(test::countTmpFiles(cacheDir.file("zelvo")), 0u) << "killed at stage " << stage;
  }
}

// Images exported from the screens and left as they are match the generated tiles wherever the
// build cuts them: the pack is the same as one built without any screen.
TEST(BuildCommand, UntouchedExportsOfTheBundledExampleReplaceNothing) {
  TempDir dir;
  const std::string example = std::string(ZELVO_SOURCE_DIR) + "/examples/game";
  const std::string with = dir.file("with"), without = dir.file("without");
  ASSERT_TRUE(createDirectory(with) && createDirectory(without));
  for (const std::string& folder : {with, without}) {
    const std::string tiles = test::readFileBytes(example + "/game.mstiles");
    ASSERT_TRUE(test::writeFileBytes(joinPath(folder, "game.mstiles"), tiles.data(), tiles.size()));
  }
  for (int factor : {2, 4}) {
    const std::string f = std::to_string(factor);
    for (const char* screen : {"title", "level", "sprites"}) {
      const std::string bytes = test::readFileBytes(example + "/" + screen + ".msscreen");
      ASSERT_TRUE(test::writeFileBytes(joinPath(with, std::string(screen) + ".msscreen"), bytes.data(),
                                       bytes.size()));
      // title as a PNG, the others as a BMP with an "_alpha" BMP
      const std::string image = std::string(screen) + (screen[0] == 't' ? ".png" : ".bmp");
      ASSERT_EQ(zelvo(with,
                      std::string("export ") + screen + ".msscreen " + image + " --factor " + f + " --force",
                      dir)
                    .status,
                0);
    }
    const std::string rom = std::string(ZELVO_SOURCE_DIR) + "/examples/game.sms";
    const Outcome built =
        zelvo(with, "build . --json --rom '" + rom + "' --output ../a.zrm --scale " + f, dir);
    ASSERT_EQ(built.status, 0);
    const auto report = nlohmann::json::parse(built.out);
    EXPECT_EQ(report["counts"]["screensUsed"], 3) << "factor " << f;
    EXPECT_EQ(report["counts"]["tilesReplaced"], 0) << "factor " << f;
    EXPECT_EQ(report["counts"]["warnings"], 0) << "factor " << f;
    ASSERT_EQ(zelvo(without, "build . --rom '" + rom + "' --output ../b.zrm --scale " + f, dir).status, 0);
    EXPECT_EQ(test::readFileBytes(dir.file("a.zrm")), test::readFileBytes(dir.file("b.zrm")))
        << "factor " << f;
  }
}

// An artist exports every screen and paints over one: the paint reaches the pack wherever that
// screen stands in the listing, though the untouched exports show the same tiles.
TEST(BuildCommand, PaintOnOneExportSurvivesTheUntouchedOnes) {
  TempDir dir;
  const std::string example = std::string(ZELVO_SOURCE_DIR) + "/examples/game";
  const std::string rom = std::string(ZELVO_SOURCE_DIR) + "/examples/game.sms";
  const std::string work = dir.file("work");
  ASSERT_TRUE(createDirectory(work));
  const std::string tiles = test::readFileBytes(example + "/game.mstiles");
  const std::string title = test::readFileBytes(example + "/title.msscreen");
  ASSERT_TRUE(test::writeFileBytes(joinPath(work, "game.mstiles"), tiles.data(), tiles.size()));
  const char* const names[] = {"a", "b", "c"}; // the same screen three times: every tile shared
  std::string firstPreview;
  for (const char* painted : names) {
    SCOPED_TRACE(painted);
    for (const char* name : names) {
      const std::string screen = std::string(name) + ".msscreen";
      ASSERT_TRUE(test::writeFileBytes(joinPath(work, screen), title.data(), title.size()));
      ASSERT_EQ(zelvo(work, "export " + screen + " " + name + ".png --factor 2 --force", dir).status, 0);
    }
    const Outcome untouched = zelvo(work, "coverage . --scale 2 --json", dir);
    ASSERT_EQ(untouched.status, 0) << untouched.err;
    EXPECT_EQ(nlohmann::json::parse(untouched.out)["tiles"]["painted"], 0);
    EXPECT_EQ(nlohmann::json::parse(untouched.out)["cells"]["painted"], 0);
    // A red rectangle over cells 2 to 5 of rows 1 and 2.
    const std::string path = joinPath(work, std::string(painted) + ".png");
    Result<RgbaImage> image = readImage(path);
    ASSERT_TRUE(image);
    test::Picture picture{
        int(image->width), int(image->height),
        std::vector<std::uint8_t>(image->pixels.get(), image->pixels.get() + image->byteCount())};
    for (int y = 16; y < 48; ++y)
      for (int x = 32; x < 96; ++x) std::memcpy(picture.at(x, y), "\xFF\x00\x00\xFF", 4);
    const std::vector<std::uint8_t> png = test::rgbaPng(picture);
    ASSERT_TRUE(test::writeFileBytes(path, png.data(), png.size()));

    const Outcome built = zelvo(work, "build . --json --scale 2 --rom '" + rom + "' --output ../p.zrm", dir);
    ASSERT_EQ(built.status, 0) << built.err;
    const auto report = nlohmann::json::parse(built.out);
    EXPECT_EQ(report["counts"]["conflicts"], 0);
    for (const auto& screen : report["screens"]) {
      const bool isPainted = screen["screen"] == std::string(painted) + ".msscreen";
      EXPECT_EQ(screen["replaced"].empty(), !isPainted) << screen["screen"];
      if (!isPainted) {
        EXPECT_GT(screen["leftAsExported"], 0);
      }
    }
    // The coverage is the build's own: the rectangle's 8 cells are painted here, and every cell of
    // the other screens showing one of their tiles is painted elsewhere.
    const Outcome coverage = zelvo(work, "coverage . --scale 2 --json", dir);
    ASSERT_EQ(coverage.status, 0) << coverage.err;
    auto counted = nlohmann::json::parse(coverage.out);
    counted.erase("scale");
    EXPECT_EQ(counted, report["coverage"]);
    std::set<std::pair<int, int>> replaced;
    for (const auto& screen : report["screens"])
      for (const auto& entry : screen["replaced"])
        replaced.insert({entry["group"].get<int>(), entry["index"].get<int>()});
    EXPECT_EQ(counted["tiles"]["painted"], replaced.size());
    for (const auto& screen : counted["screens"])
      EXPECT_EQ(screen["paintedHere"], screen["screen"] == std::string(painted) + ".msscreen" ? 8 : 0);
    ASSERT_EQ(zelvo(work, "preview a.msscreen ../p.zrm ../preview.png --force", dir).status, 0);
    Result<RgbaImage> preview = readImage(dir.file("preview.png"));
    ASSERT_TRUE(preview);
    for (int y : {16, 47})
      for (int x : {32, 95})
        EXPECT_EQ(std::memcmp(preview->row(std::uint32_t(y)) + 4 * x, "\xFF\x00\x00", 3), 0) << x << "," << y;
    const std::string bytes = test::readFileBytes(dir.file("preview.png"));
    if (firstPreview.empty()) firstPreview = bytes;
    EXPECT_TRUE(bytes == firstPreview) << "the pack depends on where the painted screen stands";
  }
}

// With --strict a warning fails the build before the pack is begun: images painted at 2x in a 4x
// build say why none was used, and the old pack stays as it was.
TEST(BuildCommand, StrictFailsOnWarningsAndKeepsTheOldPack) {
  TempDir dir;
  const std::string example = std::string(ZELVO_SOURCE_DIR) + "/examples/game";
  const std::string rom = std::string(ZELVO_SOURCE_DIR) + "/examples/game.sms";
  ASSERT_TRUE(test::writeFileBytes(dir.file("old.zrm"), kOldPack, sizeof kOldPack));
  const std::string args = "build '" + example + "' --rom '" + rom + "' --output ";
  const Outcome lenient = zelvo(dir.path(), args + "new.zrm", dir);
  EXPECT_EQ(lenient.status, 0);
  EXPECT_NE(lenient.out.find("Warning: no image was used: every image is painted at 2x; this build is at 4x "
                             "(--scale 2)\nCreating high-resolution ROM..."),
            std::string::npos)
      << lenient.out;
  const Outcome strict = zelvo(dir.path(), args + "old.zrm --strict", dir);
  EXPECT_EQ(strict.status, 1);
  EXPECT_EQ(strict.out.find("Creating high-resolution ROM..."), std::string::npos) << strict.out;
  EXPECT_EQ(test::readFileBytes(dir.file("old.zrm")), std::string(kOldPack, sizeof kOldPack));
  EXPECT_EQ(test::listed(dir.path(), "*").size(), 4u) << "old.zrm, new.zrm and what the runs printed";
}

} // namespace
} // namespace zelvo
