#include "app/build_dialog_qt.h"
#include "app/file_dialogs_qt.h"
#include "fake_chooser.h"
#include "platform/fs.h"
#include "qt_print.h"
#include "support/temp_dir.h"
#include "synthetic_game.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace zelvo {
namespace {

using test::FakeChooser;
using test::TempDir;

QStringList logLines(const BuildDialog& dialog) {
  QStringList lines;
  for (int i = 0; i < dialog.logList()->count(); ++i) lines << dialog.logList()->item(i)->text();
  return lines;
}

// Presses OK and returns once the build's end is shown.
void build(BuildDialog& dialog) {
  dialog.pressOk();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !dialog.isBuilding(); }, 120000)) << "the build never ended";
}

// On the build's thread: waits until the user asks the build to stop.
void waitForCancel(BuildLog& log) {
  while (log.shouldContinue()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

AppState filledState() {
  AppState state;
  state.lastInputFolder = "/games/alpha";
  state.lastOriginalRom = "/games/alpha.sms";
  state.lastOutputFile = "/games/alpha.zrm";
  state.lastTilesRes = 2;
  return state;
}

TEST(BuildDialog, ControlsInTemplateOrderWithTheirTextsAndLimits) {
  AppState state;
  FakeChooser chooser;
  BuildDialog dialog(state, chooser);
  EXPECT_EQ(dialog.windowTitle(), "Create Hi-Res ROM");

  QStringList groups;
  for (auto* box : dialog.findChildren<QGroupBox*>()) groups << box->title();
  EXPECT_EQ(groups, (QStringList{"Input Folder", "New Tiles Size", "Original ROM", "Output File"}));

  // Tab order is the template's order.
  const std::vector<QWidget*> order{dialog.inputFolderEdit(),
                                    dialog.findChild<QPushButton*>("IDC_BROWSE_FOLDER"),
                                    dialog.tileSizeList(),
                                    dialog.romPathEdit(),
                                    dialog.findChild<QPushButton*>("IDC_BROWSE_ROM"),
                                    dialog.outputPathEdit(),
                                    dialog.findChild<QPushButton*>("IDC_BROWSE_OUTPUT"),
                                    dialog.logList(),
                                    dialog.okButton(),
                                    dialog.cancelButton()};
  for (std::size_t i = 0; i + 1 < order.size(); ++i) {
    ASSERT_NE(order[i], nullptr) << i;
    QWidget* next = order[i]->nextInFocusChain();
    while (next && next->focusPolicy() == Qt::NoFocus) next = next->nextInFocusChain();
    EXPECT_EQ(next, order[i + 1]) << "after control " << i;
  }
  for (const char* name : {"IDC_BROWSE_FOLDER", "IDC_BROWSE_ROM", "IDC_BROWSE_OUTPUT"}) {
    EXPECT_EQ(dialog.findChild<QPushButton*>(name)->text(), "...");
  }
  EXPECT_EQ(dialog.tileSizeList()->property("controlId").toInt(), 0x2002);
  EXPECT_EQ(dialog.logList()->property("controlId").toInt(), 0x2007);
  EXPECT_EQ(dialog.okButton()->text(), "OK");
  EXPECT_TRUE(dialog.okButton()->isDefault());
  EXPECT_EQ(dialog.cancelButton()->text(), "Cancel");
  for (QLineEdit* edit : {dialog.inputFolderEdit(), dialog.romPathEdit(), dialog.outputPathEdit()}) {
    EXPECT_EQ(edit->maxLength(), 1023);
  }
  EXPECT_FALSE(dialog.tileSizeList()->isEditable());
  QStringList sizes;
  for (int i = 0; i < dialog.tileSizeList()->count(); ++i) sizes << dialog.tileSizeList()->itemText(i);
  EXPECT_EQ(sizes, (QStringList{"1x (8x8 tiles, 256x192 screen)", "2x (16x16 tiles, 512x384 screen)",
                                "3x (24x24 tiles, 768x576 screen)", "4x (32x32 tiles, 1024x768 screen)"}));
  // It opens at its smallest; a larger dialog gives the room to the log.
  dialog.show();
  QApplication::processEvents();
  EXPECT_EQ(dialog.size(), dialog.minimumSize());
  const QSize logSize = dialog.logList()->size();
  dialog.resize(dialog.size() + QSize(100, 200));
  QApplication::processEvents();
  EXPECT_EQ(dialog.logList()->size(), logSize + QSize(100, 200));

  bool hasLogLabel = false;
  for (auto* label : dialog.findChildren<QLabel*>()) hasLogLabel |= label->text() == "Log:";
  EXPECT_TRUE(hasLogLabel);
}

TEST(BuildDialog, OpensWithTheRememberedEntries) {
  AppState state = filledState();
  FakeChooser chooser;
  BuildDialog dialog(state, chooser);
  EXPECT_EQ(dialog.inputFolderEdit()->text(), "/games/alpha");
  EXPECT_EQ(dialog.romPathEdit()->text(), "/games/alpha.sms");
  EXPECT_EQ(dialog.outputPathEdit()->text(), "/games/alpha.zrm");
  EXPECT_EQ(dialog.tileSizeList()->currentText(), "2x (16x16 tiles, 512x384 screen)");
  EXPECT_EQ(dialog.logList()->count(), 0);

  AppState empty;
  BuildDialog fresh(empty, chooser);
  EXPECT_TRUE(fresh.inputFolderEdit()->text().isEmpty());
  EXPECT_TRUE(fresh.romPathEdit()->text().isEmpty());
  EXPECT_TRUE(fresh.outputPathEdit()->text().isEmpty());
  EXPECT_EQ(fresh.tileSizeList()->currentIndex(), 3);
}

TEST(BuildDialog, OkWithAnEmptyEntryOrNoTileSizeDoesNothing) {
  FakeChooser chooser;
  for (int blank = 0; blank < 4; ++blank) {
    AppState state = filledState();
    BuildDialog dialog(state, chooser);
    int runs = 0;
    dialog.setRunner([&](const BuildJob&) {
      ++runs;
      return true;
    });
    dialog.logList()->addItem("earlier line");
    if (blank == 0) dialog.inputFolderEdit()->clear();
    if (blank == 1) dialog.romPathEdit()->clear();
    if (blank == 2) dialog.outputPathEdit()->clear();
    if (blank == 3) dialog.tileSizeList()->setCurrentIndex(-1);
    dialog.inputFolderEdit()->setText(blank == 0 ? "" : "/changed");
    dialog.pressOk();
    EXPECT_EQ(runs, 0) << blank;
    EXPECT_EQ(logLines(dialog), QStringList{"earlier line"}) << blank;
    EXPECT_EQ(state.lastInputFolder, "/games/alpha") << "nothing stored without a build";
  }
}

TEST(BuildDialog, OkRunsTheBuildAndStoresTheEntriesWhateverItsResult) {
  AppState state = filledState();
  FakeChooser chooser;
  BuildDialog dialog(state, chooser);
  BuildJob seen;
  int runs = 0;
  dialog.setRunner([&](const BuildJob& job) {
    ++runs;
    seen = job;
    job.log->ClearLog();
    job.log->AppendLogLine("Looking for original tiles...");
    job.log->progress(ProgressStage::GeneratingTiles, 50, 100);
    job.log->AppendLogLine("Warning: screen a.msscreen skipped: a.png: the header ends early");
    job.log->AppendLogLine("Error: invalid output file");
    job.log->AppendLogLine("A line that sorts first");
    return false;
  });
  dialog.logList()->addItem("from the last build");
  dialog.inputFolderEdit()->setText("/games/beta");
  dialog.tileSizeList()->setCurrentIndex(2);
  dialog.romPathEdit()->setText("/games/beta.zip");
  dialog.outputPathEdit()->setText("/out/beta.zrm");
  build(dialog);

  ASSERT_EQ(runs, 1);
  EXPECT_EQ(seen.inputFolder, "/games/beta");
  EXPECT_EQ(seen.scale, 3);
  EXPECT_EQ(seen.romPath, "/games/beta.zip");
  EXPECT_EQ(seen.outputPath, "/out/beta.zrm");
  EXPECT_EQ(logLines(dialog), (QStringList{"Looking for original tiles...",
                                           "Warning: screen a.msscreen skipped: a.png: the header ends early",
                                           "Error: invalid output file", "A line that sorts first"}))
      << "cleared, then lines in the order written";
  // Warnings and errors set apart from the stage lines, and from each other.
  const QListWidgetItem* stage = dialog.logList()->item(0);
  const QListWidgetItem* warning = dialog.logList()->item(1);
  const QListWidgetItem* error = dialog.logList()->item(2);
  EXPECT_TRUE(stage->icon().isNull());
  EXPECT_FALSE(warning->icon().isNull());
  EXPECT_FALSE(error->icon().isNull());
  EXPECT_NE(warning->foreground(), stage->foreground());
  EXPECT_NE(error->foreground(), stage->foreground());
  EXPECT_NE(error->foreground(), warning->foreground());
  EXPECT_TRUE(error->font().bold());
  EXPECT_EQ(state.lastInputFolder, "/games/beta");
  EXPECT_EQ(state.lastOriginalRom, "/games/beta.zip");
  EXPECT_EQ(state.lastOutputFile, "/out/beta.zrm");
  EXPECT_EQ(state.lastTilesRes, 3);
  EXPECT_EQ(dialog.progressBar()->value(), 0);
  EXPECT_FALSE(dialog.isBuilding());
}

// The build runs beside the dialog: its lines show while it runs, a second OK is ignored, and
// Cancel asks it to stop, the dialog ending once it has returned.
TEST(BuildDialog, TheDialogStaysLiveWhileABuildRunsAndCancelWaitsForIt) {
  AppState state = filledState();
  FakeChooser chooser;
  BuildDialog dialog(state, chooser);
  dialog.show();
  std::atomic<int> runs{0};
  dialog.setRunner([&](const BuildJob& job) {
    ++runs;
    job.log->AppendLogLine("Creating high-resolution ROM...");
    waitForCancel(*job.log);
    job.log->AppendLogLine("Compressing and saving original ROM...");
    return true;
  });
  dialog.pressOk();
  ASSERT_TRUE(QTest::qWaitFor([&] { return dialog.logList()->count() == 1; }, 60000))
      << "the line never showed while the build ran";
  EXPECT_TRUE(dialog.isBuilding());
  EXPECT_FALSE(dialog.okButton()->isEnabled());
  dialog.pressOk(); // a second press while this build runs
  dialog.cancelButton()->click();
  EXPECT_TRUE(dialog.isVisible()) << "open until the build has returned";
  ASSERT_TRUE(QTest::qWaitFor([&] { return !dialog.isBuilding(); }, 60000));
  EXPECT_EQ(runs, 1);
  EXPECT_EQ(logLines(dialog).size(), 2);
  EXPECT_TRUE(dialog.okButton()->isEnabled()) << "enabled again once the build has returned";
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(dialog.result(), QDialog::Rejected);
  EXPECT_EQ(dialog.progressBar()->value(), dialog.progressBar()->maximum());
  EXPECT_EQ(state.lastInputFolder, "/games/alpha") << "the entries of the build that ran are kept";
}

// Cancel pressed while the real build runs stops it: the log ends with "Cancelled" and its reason,
// set apart, no pack is written, and the dialog closes once the build has returned.
TEST(BuildDialog, CancelStopsTheRunningBuild) {
  const std::string examples = std::string(ZELVO_SOURCE_DIR) + "/examples";
  TempDir dir;
  AppState state;
  state.lastInputFolder = examples + "/game";
  state.lastOriginalRom = examples + "/game.sms";
  state.lastOutputFile = dir.file("game.zrm");
  FakeChooser chooser;
  BuildDialog dialog(state, chooser);
  dialog.show();
  dialog.setRunner([&](const BuildJob& job) {
    waitForCancel(*job.log); // pressed before the build's first stage asks
    return RunBuild(job);
  });
  dialog.pressOk();
  dialog.reject();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !dialog.isBuilding(); }, 60000));
  const QStringList lines = logLines(dialog);
  ASSERT_EQ(lines.size(), 3) << lines.join(" | ").toStdString();
  EXPECT_EQ(lines[0], "Looking for original tiles...");
  EXPECT_EQ(lines[1], "Cancelled");
  EXPECT_TRUE(lines[2].startsWith(" ") && lines[2].contains("stopped")) << lines[2].toStdString();
  EXPECT_FALSE(isRegularFile(dir.file("game.zrm")));
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(dialog.lastOutcome(), BuildDialog::Outcome::Cancelled);
}

// The bar names the stage the build is in, with its percentage once the stage reports any, and
// once the build has ended, how it ended.
TEST(BuildDialog, TheProgressBarNamesTheRunningStageAndItsPercentage) {
  AppState state = filledState();
  FakeChooser chooser;
  BuildDialog dialog(state, chooser);
  struct Step {
    std::function<void(BuildLog&)> act;
    const char* text; // the bar's text after the step
  };
  const std::vector<Step> steps{
      {[](BuildLog& log) { log.ClearLog(); }, ""},
      {[](BuildLog& log) { log.AppendLogLine("Replacing tiles..."); }, "Replacing tiles..."},
      {[](BuildLog& log) { log.progress(ProgressStage::ReplacingTiles, 1, 4); }, "Replacing tiles... 25%"},
      {[](BuildLog& log) { log.AppendLogLine("Screen a.msscreen: 5 tiles replaced from a.png"); },
       "Replacing tiles... 25%"},
      {[](BuildLog& log) { log.AppendLogLine("Warning: screen b.msscreen skipped: no image"); },
       "Replacing tiles... 25%"},
      {[](BuildLog& log) { log.AppendLogLine("Creating high-resolution ROM..."); },
       "Creating high-resolution ROM..."},
      {[](BuildLog& log) { log.AppendLogLine("Compressing and saving original ROM..."); },
       "Compressing and saving original ROM..."},
      {[](BuildLog& log) { log.progress(ProgressStage::CompressingRom, 3, 4); },
       "Compressing and saving original ROM... 75%"},
      {[](BuildLog& log) { log.AppendLogLine("Cancelled"); }, "Cancelled"},
  };
  QStringList seen, expected;
  dialog.setRunner([&](const BuildJob& job) {
    for (const Step& step : steps) {
      step.act(*job.log);
      // Read on the dialog's thread, after what the step queued.
      QString text;
      QMetaObject::invokeMethod(
          &dialog, [&] { return dialog.progressBar()->text(); }, Qt::BlockingQueuedConnection, &text);
      seen << text;
      expected << step.text;
    }
    return false;
  });
  build(dialog);
  EXPECT_EQ(seen, expected);
  // Once ended, the bar counts the warnings the build gave.
  EXPECT_EQ(dialog.progressBar()->text(), "Cancelled (1 warning)");
  EXPECT_EQ(dialog.progressBar()->value(), 0);
  EXPECT_EQ(dialog.lastOutcome(), BuildDialog::Outcome::Cancelled);

  for (const int warnings : {0, 2}) {
    dialog.setRunner([&](const BuildJob& job) {
      job.log->AppendLogLine("Compressing and saving high-resolution tiles...");
      for (int i = 0; i < warnings; ++i) job.log->AppendLogLine("Warning: tile " + std::to_string(i));
      job.log->AppendLogLine("Screen a.msscreen: Warning: not at the start, so not counted");
      job.log->progress(ProgressStage::CompressingHiRes, 1, 3);
      job.log->AppendLogLine("Success!");
      return true;
    });
    build(dialog);
    EXPECT_EQ(dialog.progressBar()->text(), warnings ? "Success! 2 warnings" : "Success!");
    EXPECT_EQ(dialog.progressBar()->value(), dialog.progressBar()->maximum());
    EXPECT_EQ(dialog.lastOutcome(), BuildDialog::Outcome::Succeeded);
  }
}

// Ctrl+C and the context menu's "Copy" put the selected lines on the clipboard in the log's
// order, or every line when none is selected; "Select All" selects them all.
TEST(BuildDialog, TheLogLinesCanBeSelectedAndCopied) {
  AppState state = filledState();
  FakeChooser chooser;
  BuildDialog dialog(state, chooser);
  const QStringList written{"Looking for original tiles...",
                            "Warning: tiles file b.mstiles passed over: empty",
                            "Can't find any valid .mstiles file in the input folder"};
  dialog.setRunner([&](const BuildJob& job) {
    for (const QString& line : written) job.log->AppendLogLine(line.toStdString());
    job.log->FailureReason(makeError(ErrorCause::NotFound, "in", "no tiles file"));
    return false;
  });
  build(dialog);
  const QStringList lines = logLines(dialog);
  ASSERT_EQ(lines.size(), 4);
  QListWidget* log = dialog.logList();
  EXPECT_EQ(log->selectionMode(), QAbstractItemView::ExtendedSelection);
  EXPECT_EQ(log->contextMenuPolicy(), Qt::ActionsContextMenu);
  EXPECT_EQ(log->actions(), (QList<QAction*>{dialog.copyLogAction(), dialog.selectAllLogAction()}));
  EXPECT_EQ(dialog.copyLogAction()->text(), "Copy");
  EXPECT_EQ(dialog.selectAllLogAction()->text(), "Select All");

  dialog.show();
  QApplication::setActiveWindow(&dialog);
  ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
  log->setFocus();
  QClipboard* clipboard = QGuiApplication::clipboard();
  clipboard->setText("before");
  QTest::keyClick(log, Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(clipboard->text(), lines.join('\n') + '\n') << "none selected: every line";

  log->item(3)->setSelected(true);
  log->item(0)->setSelected(true);
  QTest::keyClick(log, Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(clipboard->text(), lines[0] + '\n' + lines[3] + '\n');

  log->item(2)->setSelected(true);
  dialog.copyLogAction()->trigger();
  EXPECT_EQ(clipboard->text(), lines[0] + '\n' + lines[2] + '\n' + lines[3] + '\n');

  log->clearSelection();
  log->item(1)->setSelected(true);
  dialog.selectAllLogAction()->trigger();
  EXPECT_EQ(log->selectedItems().size(), 4);
}

// A build may log tens of thousands of lines (a warning for each of many tiles): the log takes
// them as fast as the build writes them, and ends on the last.
TEST(BuildDialog, TheLogTakesTensOfThousandsOfLinesQuicklyAndShowsTheLast) {
  AppState state = filledState();
  FakeChooser chooser;
  BuildDialog dialog(state, chooser);
  dialog.show();
  constexpr int kLines = 50000;
  std::atomic<int> written{0};
  QElapsedTimer clock;
  dialog.setRunner([&](const BuildJob& job) {
    job.log->AppendLogLine("Replacing tiles...");
    clock.start();
    for (; written < kLines && clock.elapsed() < 10000; ++written) {
      job.log->AppendLogLine("Warning: tile " + std::to_string(written) +
                             " of group 0 painted differently by a.msscreen and b.msscreen; "
                             "b.msscreen's is kept");
      job.log->progress(ProgressStage::ReplacingTiles, std::uint64_t(written), kLines);
    }
    job.log->AppendLogLine("Creating high-resolution ROM...");
    return true;
  });
  build(dialog);
  EXPECT_EQ(written, kLines) << "the log took over 10 s (a fraction of a second is usual)";
  QListWidget* log = dialog.logList();
  ASSERT_EQ(log->count(), kLines + 2);
  EXPECT_TRUE(log->viewport()->rect().contains(log->visualItemRect(log->item(log->count() - 1))));
}

// The large made-up game takes seconds to build: Cancel pressed half a second in stops the build
// within a second, and the pack that was there stays as it was, with nothing left beside it.
TEST(BuildDialog, CancelStopsABuildOfALargeGameWithinASecondAndKeepsTheOldPack) {
  TempDir dir;
  const std::string game = dir.file("game");
  ASSERT_TRUE(createDirectory(game));
  ASSERT_TRUE(synth::writeLargeGame(game, 1, synth::LargeGameSize{}, 2024));
  const std::string old = "an older pack";
  ASSERT_TRUE(test::writeFileBytes(dir.file("game.zrm"), old.data(), old.size()));
  const test::ScopedTmpDir tmp(dir.path());

  AppState state;
  state.lastInputFolder = game;
  state.lastOriginalRom = game + "/game.sms";
  state.lastOutputFile = dir.file("game.zrm");
  state.lastTilesRes = 1;
  FakeChooser chooser;
  BuildDialog dialog(state, chooser);
  dialog.show();
  QElapsedTimer clock;
  qint64 pressedAt = -1, returnedAt = -1;
  QTimer::singleShot(500, &dialog, [&] {
    pressedAt = clock.elapsed();
    dialog.cancelButton()->click();
  });
  QObject::connect(&dialog, &BuildDialog::buildFinished, [&] { returnedAt = clock.elapsed(); });
  clock.start();
  build(dialog);

  ASSERT_GE(pressedAt, 0) << "the build ended before Cancel";
  EXPECT_LT(returnedAt - pressedAt, 1000);
  const QStringList lines = logLines(dialog);
  ASSERT_GE(lines.size(), 3);
  EXPECT_EQ(lines[lines.size() - 2], "Cancelled");
  EXPECT_TRUE(dialog.progressBar()->text().startsWith("Cancelled"))
      << dialog.progressBar()->text().toStdString();
  EXPECT_EQ(test::readFileBytes(dir.file("game.zrm")), old);
  EXPECT_EQ(test::countTmpFiles(dir.path()) + test::countTmpFiles(game), 0u);
  EXPECT_FALSE(dialog.isVisible());
}

TEST(BuildDialog, TheRealBuildReportsAnErrorForAMissingInputFolder) {
  TempDir dir;
  AppState state;
  state.lastInputFolder = dir.file("no such folder");
  state.lastOriginalRom = dir.file("game.sms");
  state.lastOutputFile = dir.file("out.zrm");
  FakeChooser chooser;
  BuildDialog dialog(state, chooser);
  build(dialog);
  const QStringList lines = logLines(dialog);
  ASSERT_FALSE(lines.isEmpty());
  EXPECT_TRUE(lines.last().startsWith("Error: ")) << lines.last().toStdString();
  EXPECT_FALSE(isRegularFile(dir.file("out.zrm")));
  EXPECT_EQ(state.lastTilesRes, 4);
}

// A full build of the bundled example through the dialog, with the real build run.
TEST(BuildDialog, OkOnTheBundledExampleWritesThePack) {
  const std::string examples = std::string(ZELVO_SOURCE_DIR) + "/examples";
  ASSERT_TRUE(isDirectory(examples + "/game")) << "the bundled example is missing";
  TempDir dir, cache;
  const test::ScopedCacheHome cacheHome(cache.path());
  AppState state = filledState();
  FakeChooser chooser;
  BuildDialog dialog(state, chooser);
  dialog.inputFolderEdit()->setText(QString::fromStdString(examples + "/game"));
  dialog.romPathEdit()->setText(QString::fromStdString(examples + "/game.sms"));
  dialog.outputPathEdit()->setText(QString::fromStdString(dir.file("game.zrm")));
  dialog.tileSizeList()->setCurrentIndex(1); // 2x
  build(dialog);

  EXPECT_EQ(logLines(dialog),
            (QStringList{
                "Looking for original tiles...", "Tiles file: game.mstiles",
                "Creating high-resolution tiles using scale algorithm...", "Replacing tiles...",
                "Screen level.msscreen: 5 tiles replaced from level.bmp",
                "Screen sprites.msscreen: 4 tiles replaced from sprites.png",
                "Screen title.msscreen: 20 tiles replaced from title.png",
                "Screens: 3 used, 0 skipped; 29 tiles replaced; 29 of 41 tile entries painted (70 %)",
                "Creating high-resolution ROM...", "Compressing and saving original ROM...",
                "Compressing and saving original tiles...", "Compressing and saving high-resolution tiles...",
                "Build cache: 0 of 3 screens and 0 of 2 hi-res blocks reused", "Success!"}));
  EXPECT_EQ(dialog.progressBar()->text(), "Success!");
  EXPECT_TRUE(isRegularFile(dir.file("game.zrm")));
  EXPECT_EQ(state.lastInputFolder, examples + "/game");
  EXPECT_EQ(state.lastOriginalRom, examples + "/game.sms");
  EXPECT_EQ(state.lastOutputFile, dir.file("game.zrm"));
  EXPECT_EQ(state.lastTilesRes, 2);
  EXPECT_FALSE(dialog.isBuilding());
}

TEST(BuildDialog, BrowseButtonsFillTheirFieldsOnlyWhenConfirmed) {
  TempDir dir;
  AppState state = filledState();
  FakeChooser chooser;
  BuildDialog dialog(state, chooser);

  dialog.findChild<QPushButton*>("IDC_BROWSE_ROM")->click();
  EXPECT_EQ(chooser.lastSetup, &originalRomDialogSetup());
  EXPECT_EQ(chooser.lastStart, "/games/alpha.sms");
  EXPECT_EQ(dialog.romPathEdit()->text(), "/games/alpha.sms") << "cancelled: unchanged";
  chooser.fileAnswer = "/roms/new.zip";
  dialog.findChild<QPushButton*>("IDC_BROWSE_ROM")->click();
  EXPECT_EQ(dialog.romPathEdit()->text(), "/roms/new.zip");

  chooser.fileAnswer = "/out/new.zrm";
  dialog.findChild<QPushButton*>("IDC_BROWSE_OUTPUT")->click();
  EXPECT_EQ(chooser.lastSetup, &outputFileDialogSetup());
  EXPECT_EQ(chooser.lastStart, "/games/alpha.zrm");
  EXPECT_EQ(dialog.outputPathEdit()->text(), "/out/new.zrm");

  // The folder picker starts at the field's folder only when it exists.
  dialog.findChild<QPushButton*>("IDC_BROWSE_FOLDER")->click();
  EXPECT_EQ(chooser.lastPreselect, "") << "/games/alpha does not exist";
  EXPECT_EQ(dialog.inputFolderEdit()->text(), "/games/alpha");
  dialog.inputFolderEdit()->setText(QString::fromStdString(dir.path()));
  chooser.folderAnswer = QString::fromStdString(dir.path()) + "/";
  dialog.findChild<QPushButton*>("IDC_BROWSE_FOLDER")->click();
  EXPECT_EQ(chooser.lastPreselect, QString::fromStdString(dir.path()));
  EXPECT_EQ(dialog.inputFolderEdit()->text(), QString::fromStdString(dir.path())) << "one separator dropped";
  EXPECT_EQ(state.lastOriginalRom, "/games/alpha.sms") << "browsing stores nothing";
}

TEST(BrowseForFolder, DropsOneTrailingSeparatorButKeepsTheRoot) {
  FakeChooser chooser;
  struct Case {
    const char* picked;
    const char* field;
  } cases[] = {{"C:\\", "C:"},
               {"D:\\games\\", "D:\\games"},
               {"/home/a//", "/home/a/"},
               {"/", "/"},
               {"/srv/x", "/srv/x"}};
  for (const Case& c : cases) {
    chooser.folderAnswer = c.picked;
    QString text = "before";
    EXPECT_TRUE(browseForFolder(nullptr, chooser, text));
    EXPECT_EQ(text, c.field) << c.picked;
  }
  chooser.folderAnswer.clear();
  QString text = "before";
  EXPECT_FALSE(browseForFolder(nullptr, chooser, text));
  EXPECT_EQ(text, "before");
}

TEST(FileDialogs, ShowTheFilterTextsAndProposeTheListedExtension) {
  EXPECT_EQ(qtNameFilters(originalRomDialogSetup()),
            (QStringList{"Master system ROMs (*.sms, *.zip, *.gz, *.bz2) (*.sms *.zip *.gz *.bz2)",
                         "All Files (*.*) (*)"}));
  EXPECT_EQ(originalRomDialogSetup().defaultSuffix, "sms");
  EXPECT_EQ(qtNameFilters(outputFileDialogSetup()),
            (QStringList{"High-resolution ROMs (*.zrm) (*.zrm)", "All files (*.*) (*)"}));
  EXPECT_EQ(outputFileDialogSetup().defaultSuffix, "zrm") << "the extension the list shows";
  EXPECT_EQ(qtNameFilters(openScreenDialogSetup()),
            (QStringList{"Master System Screen Files (*.msscreen) (*.msscreen)", "All Files (*.*) (*)"}));
  EXPECT_EQ(openScreenDialogSetup().defaultSuffix, "msscreen");

  // Qt's own dialog shows each description exactly as written and proposes the extension.
  QFileDialog dialog;
  dialog.setOption(QFileDialog::DontUseNativeDialog, true);
  configureFileDialog(dialog, outputFileDialogSetup(), "/tmp/pack");
  EXPECT_EQ(dialog.acceptMode(), QFileDialog::AcceptSave);
  EXPECT_FALSE(dialog.testOption(QFileDialog::DontConfirmOverwrite));
  EXPECT_EQ(dialog.defaultSuffix(), "zrm");
  auto* model = dialog.findChild<QFileSystemModel*>();
  ASSERT_NE(model, nullptr);
  EXPECT_EQ(model->nameFilters(), QStringList{"*.zrm"}) << "the first type is selected";
  auto* types = dialog.findChild<QComboBox*>("fileTypeCombo");
  ASSERT_NE(types, nullptr);
  ASSERT_EQ(types->count(), 2);
  EXPECT_EQ(types->itemText(0), "High-resolution ROMs (*.zrm)");
  EXPECT_EQ(types->itemText(1), "All files (*.*)");

  QFileDialog open;
  open.setOption(QFileDialog::DontUseNativeDialog, true);
  configureFileDialog(open, originalRomDialogSetup(), "");
  EXPECT_EQ(open.acceptMode(), QFileDialog::AcceptOpen);
  auto* romTypes = open.findChild<QComboBox*>("fileTypeCombo");
  ASSERT_NE(romTypes, nullptr);
  EXPECT_EQ(romTypes->itemText(0), "Master system ROMs (*.sms, *.zip, *.gz, *.bz2)");
  EXPECT_EQ(open.findChild<QFileSystemModel*>()->nameFilters(),
            (QStringList{"*.sms", "*.zip", "*.gz", "*.bz2"}));
  open.selectNameFilter(qtNameFilters(originalRomDialogSetup())[1]);
  EXPECT_EQ(open.findChild<QFileSystemModel*>()->nameFilters(), QStringList{"*"}) << "every file";
}

} // namespace
} // namespace zelvo
