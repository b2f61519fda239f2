// Saves that fail at every point: each file creation, write, sync and rename of a build and of an
// export made to fail in turn, and a build stopped at every point where it asks whether to go on.
// Every run that does not complete says why, leaves the old pack or images byte-identical and
// leaves no file behind, in the output folder or in TMPDIR.
#include "build_test_util.h"
#include "pipeline/build_driver.h"
#include "platform/fault.h"
#include "platform/fs.h"
#include "support/screen_pictures.h"
#include "support/temp_dir.h"
#include "viewer/screen_export.h"

#include <algorithm>
#include <cerrno>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <set>

namespace zelvo {
namespace {

using test::TempDir;
using Files = std::map<std::string, std::string>; // name -> content

class RecordingLog : public BuildLog {
public:
  void ClearLog() override {
    lines.clear();
    reasons.clear();
    questions = 0;
  }
  void AppendLogLine(const std::string& text) override { lines.push_back(text); }
  void FailureReason(const Error& why) override { reasons.push_back(why); }
  // Says no from the `stopAt`-th question of a run on.
  bool shouldContinue() override { return ++questions < stopAt; }

  std::vector<std::string> lines;
  std::vector<Error> reasons;
  std::uint64_t questions = 0;
  std::uint64_t stopAt = ~std::uint64_t(0);
};

struct FaultReset {
  ~FaultReset() { disarmFault(); }
};

class FaultInjectionTest : public ::testing::Test {
public:
  void SetUp() override {
    game = root.file("game");
    out = root.file("out");
    tmp = root.file("tmp");
    ASSERT_TRUE(createDirectory(game) && createDirectory(out) && createDirectory(tmp));
    tmpDir = std::make_unique<test::ScopedTmpDir>(tmp);

    // A small game: a screen of a few cells painted in a PNG, and sprites painted in a BMP with
    // its alpha image, so that the build replaces tiles from both kinds.
    ASSERT_TRUE(test::writeTilesFixture(joinPath(game, "game.mstiles"), tiles));
    test::ScreenContent cells;
    cells.height = 16;
    cells.setCell(0, 0, tiles, 0, 0);
    cells.setCell(0, 1, tiles, 1, 1);
    cells.setCell(1, 5, tiles, 0, 2, test::kFlipH);
    ASSERT_TRUE(test::writeScreenFixture(joinPath(game, "cells.msscreen"), cells));
    test::ScreenContent sprites;
    sprites.addSprite(8, 8, tiles, 2, 5);
    sprites.addSprite(40, 20, tiles, 3, 0);
    ASSERT_TRUE(test::writeScreenFixture(joinPath(game, "sprites.msscreen"), sprites));
    auto painted = [](int width, int height, std::uint8_t value) {
      RgbaImage image = test::blankImage(width, height);
      fillImage(image, value, value, value, value);
      return image;
    };
    ASSERT_TRUE(test::savePng(painted(512, 32, 0x5A), joinPath(game, "cells.png")));
    ASSERT_TRUE(test::saveBmp(painted(512, 448, 0xC3), joinPath(game, "sprites.bmp")));
    ASSERT_TRUE(test::saveGrey(512, 448, 255, joinPath(game, "sprites_alpha.bmp"), ImageFormat::Bmp));

    std::vector<std::uint8_t> rom(40000);
    for (std::size_t i = 0; i < rom.size(); ++i) rom[i] = std::uint8_t(i * 13 + (i >> 8));
    ASSERT_TRUE(test::writeFileBytes(root.file("game.sms"), rom.data(), rom.size()));
    gameFiles = contentsOf(game);
  }

  // Every file of `folder` with its content (a long one by its size and hash, to keep failure
  // messages readable).
  static Files contentsOf(const std::string& folder) {
    Files files;
    for (const DirEntry& e : test::listed(folder, "*")) {
      std::string content = e.directory ? "<folder>" : test::readFileBytes(joinPath(folder, e.name));
      if (content.size() > 64)
        content = std::to_string(content.size()) + " bytes, hash " +
                  std::to_string(std::hash<std::string>{}(content));
      files[e.name] = content;
    }
    return files;
  }
  void putFiles(const Files& files) {
    for (const auto& [name, content] : files)
      ASSERT_TRUE(test::writeFileBytes(joinPath(out, name), content.data(), content.size()));
  }

  // A build of the game into out/game.zrm at scale 2: its reason when it failed.
  Status build() {
    BuildJob job;
    job.log = &log;
    job.inputFolder = game;
    job.scale = 2;
    job.romPath = root.file("game.sms");
    job.outputPath = joinPath(out, "game.zrm");
    if (RunBuild(job)) {
      EXPECT_EQ(log.lines.back(), "Success!");
      EXPECT_TRUE(log.reasons.empty());
      return {};
    }
    EXPECT_EQ(log.reasons.size(), 1u) << "one reason beside the error line";
    if (log.reasons.empty()) return makeError(ErrorCause::InvalidArgument, {}, "");
    return log.reasons.back();
  }

  // The screen exported as `name` in out/ (with its alpha image for BMP).
  Status exportAs(const std::string& name, ExportFormat format) {
    ScreenFile screen;
    EXPECT_TRUE(readScreenFile(screen, screenPath));
    return exportScreenImage(screen, 2, format, false, joinPath(out, name));
  }

  TempDir root;
  std::string game, out, tmp;
  std::unique_ptr<test::ScopedTmpDir> tmpDir;
  test::TilesContent tiles = test::viewerTiles();
  Files gameFiles;
  RecordingLog log;
  std::string screenPath;
};

TEST_F(FaultInjectionTest, EveryFailingWriteSyncRenameOrCreationKeepsTheOldFilesAndSaysWhy) {
  screenPath = root.file("shot.msscreen");
  ASSERT_TRUE(test::writeTilesFixture(root.file("game.mstiles"), tiles));
  ASSERT_TRUE(test::writeScreenFixture(screenPath, test::backgroundScreen(tiles)));

  struct Saving {
    const char* what;
    Files old; // files in out/ before each run; the run replaces all of them
    std::function<Status(FaultInjectionTest&)> run;
    int err;
  };
  const Saving savings[] = {
      {"build", {{"game.zrm", "an older pack"}}, [](FaultInjectionTest& t) { return t.build(); }, ENOSPC},
      {"build", {{"game.zrm", "an older pack"}}, [](FaultInjectionTest& t) { return t.build(); }, EIO},
      {"PNG export",
       {{"shot.png", "old picture"}},
       [](FaultInjectionTest& t) { return t.exportAs("shot.png", ExportFormat::Png); },
       ENOSPC},
      {"BMP export",
       {{"shot.bmp", "old picture"}, {"shot_alpha.bmp", "old alpha"}},
       [](FaultInjectionTest& t) { return t.exportAs("shot.bmp", ExportFormat::Bmp); },
       ENOSPC},
      {"BMP export",
       {{"shot.bmp", "old picture"}, {"shot_alpha.bmp", "old alpha"}},
       [](FaultInjectionTest& t) { return t.exportAs("shot.bmp", ExportFormat::Bmp); },
       EIO},
  };
  FaultReset reset;
  for (const Saving& saving : savings) {
    SCOPED_TRACE(std::string(saving.what) + (saving.err == EIO ? ", EIO" : ", ENOSPC"));
    // What a run without faults writes.
    for (const auto& [name, content] : contentsOf(out)) ASSERT_TRUE(deleteFile(joinPath(out, name)));
    putFiles(saving.old);
    ASSERT_TRUE(saving.run(*this).ok());
    const Files written = contentsOf(out);
    ASSERT_EQ(written.size(), saving.old.size());

    bool completed = false;
    std::uint64_t n = 1;
    for (; n < 1000 && !completed; ++n) {
      SCOPED_TRACE("failing operation " + std::to_string(n));
      putFiles(saving.old);
      armFault(unsigned(FaultOp::Open) | unsigned(FaultOp::Write) | unsigned(FaultOp::Sync) |
                   unsigned(FaultOp::Rename),
               n, saving.err);
      const Status status = saving.run(*this);
      const bool fired = faultFired();
      disarmFault();
      completed = !fired;
      if (status.ok()) {
        // Only the folder's sync after the last rename may fail unseen: the files are in place.
        EXPECT_EQ(contentsOf(out), written);
      } else {
        EXPECT_TRUE(fired) << status.error().message();
        EXPECT_NE(status.error().detail, "");
        EXPECT_EQ(status.error().cause, saving.err == ENOSPC ? ErrorCause::NoSpace : ErrorCause::WriteFailed)
            << status.error().message();
        EXPECT_EQ(contentsOf(out), saving.old);
      }
      EXPECT_EQ(contentsOf(game), gameFiles);
      EXPECT_EQ(contentsOf(tmp), Files{});
    }
    EXPECT_TRUE(completed);
    EXPECT_GT(n, 5u) << "every save creates, writes, syncs and renames";
  }
}

// A build told to stop at its first question, its second, and so on until it completes: each
// stopped run ends with "Cancelled" and its reason, the old pack untouched and nothing left.
TEST_F(FaultInjectionTest, ABuildStopsWhereverItAsksWhetherToGoOn) {
  const Files old = {{"game.zrm", "an older pack"}};
  std::set<std::string> stoppedDuring;
  bool completed = false;
  for (std::uint64_t k = 1; k < 1000 && !completed; ++k) {
    SCOPED_TRACE("stopped at question " + std::to_string(k));
    putFiles(old);
    log.stopAt = k;
    const Status status = build();
    if (status.ok()) {
      completed = true;
      EXPECT_LT(log.questions, k);
      continue;
    }
    EXPECT_EQ(status.error().cause, ErrorCause::Cancelled);
    ASSERT_GE(log.lines.size(), 2u);
    EXPECT_EQ(log.lines.back(), "Cancelled");
    // The stage line before "Cancelled" (the report's lines may come between them).
    auto stageLine = std::find_if(log.lines.rbegin() + 1, log.lines.rend(),
                                  [](const std::string& line) { return !test::isReportLine(line); });
    ASSERT_NE(stageLine, log.lines.rend());
    stoppedDuring.insert(*stageLine);
    EXPECT_EQ(contentsOf(out), old);
    EXPECT_EQ(contentsOf(game), gameFiles);
    EXPECT_EQ(contentsOf(tmp), Files{});
  }
  EXPECT_TRUE(completed);
  EXPECT_EQ(stoppedDuring.size(), 7u) << "every stage can be stopped";
}

} // namespace
} // namespace zelvo
