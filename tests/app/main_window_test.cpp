#include "app/build_dialog_qt.h"
#include "app/ini_file.h"
#include "app/main_window_qt.h"
#include "app/screen_viewer_qt.h"
#include "fake_chooser.h"
#include "platform/fs.h"
#include "qt_print.h"
#include "support/temp_dir.h"
#include "synthetic_game.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QMdiArea>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

namespace zelvo {
namespace {

using test::FakeChooser;
using test::TempDir;

// A viewer that loads as told and records the factors it was asked to save at.
class FakeViewer final : public ScreenViewerWindow {
public:
  FakeViewer(bool loads, std::shared_ptr<std::vector<int>> saves, QString saveFailure = {})
      : loads_(loads), saves_(std::move(saves)), saveFailure_(std::move(saveFailure)) {}
  Status loadScreen(const QString&) override {
    if (!loads_) return makeError(ErrorCause::BadFormat, {}, "bad magic");
    return {};
  }
  Status saveBitmap(int factor) override {
    saves_->push_back(factor);
    saved_ = "/s/saved.png";
    if (!saveFailure_.isEmpty()) return makeError(ErrorCause::WriteFailed, {}, saveFailure_.toStdString());
    return {};
  }

private:
  bool loads_;
  std::shared_ptr<std::vector<int>> saves_;
  QString saveFailure_;
};

struct Frame {
  TempDir dir;
  FakeChooser chooser;
  bool viewersLoad = true;
  std::shared_ptr<std::vector<int>> saves = std::make_shared<std::vector<int>>();
  QString saveFailure; // what the viewers' saves fail with; empty: they succeed
  BuildDialog::Runner buildRunner;
  std::unique_ptr<MainWindow> window;

  std::string settingsPath() const { return dir.file("ZelvoTool.ini"); }
  MainWindow& open() {
    MainWindow::Options options;
    options.settingsPath = settingsPath();
    options.chooser = &chooser;
    options.makeViewer = [this] { return new FakeViewer(viewersLoad, saves, saveFailure); };
    options.buildRunner = buildRunner;
    window = std::make_unique<MainWindow>(std::move(options));
    return *window;
  }
  void writeSettings(const std::string& text) const {
    ASSERT_TRUE(test::writeFileBytes(settingsPath(), text.data(), text.size()));
  }
};

struct MenuLine {
  QString text;
  int command; // 0: none (separator or submenu)
};

std::vector<MenuLine> menuLines(const QMenu* menu) {
  std::vector<MenuLine> lines;
  for (QAction* a : menu->actions()) {
    lines.push_back(
        {a->isSeparator() ? QStringLiteral("-") : a->text(), a->data().isValid() ? a->data().toInt() : 0});
  }
  return lines;
}

void expectLines(const std::vector<MenuLine>& actual, const std::vector<MenuLine>& expected) {
  ASSERT_EQ(actual.size(), expected.size());
  for (std::size_t i = 0; i < actual.size(); ++i) {
    EXPECT_EQ(actual[i].text, expected[i].text) << i;
    EXPECT_EQ(actual[i].command, expected[i].command) << expected[i].text.toStdString();
  }
}

TEST(MainWindow, MenuTextsOrderAndCommandNumbers) {
  Frame f;
  MainWindow& frame = f.open();
  EXPECT_EQ(frame.windowTitle(), "Zelvo Tool");
  EXPECT_EQ(qobject_cast<QMdiArea*>(frame.centralWidget()), frame.mdiArea());

  const QList<QAction*> top = frame.menuBar()->actions();
  ASSERT_EQ(top.size(), 5);
  EXPECT_EQ(top[0]->text(), "&File");
  EXPECT_EQ(top[1]->text(), "&View");
  EXPECT_EQ(top[2]->text(), "&Build");
  EXPECT_EQ(top[3]->text(), "&Window");
  EXPECT_EQ(top[4]->text(), "&Help");
  expectLines(menuLines(top[0]->menu()), {{"&Open Screen...\tCtrl+O", 4096},
                                          {"&Recent Screens", 0},
                                          {"&Save Bitmap", 0},
                                          {"-", 0},
                                          {"Create Hi-Res ROM", 4101},
                                          {"-", 0},
                                          {"&Exit\tAlt+F4", 4102}});
  QMenu* save = top[0]->menu()->actions()[2]->menu();
  ASSERT_NE(save, nullptr);
  expectLines(menuLines(save), {{"&1x", 4097}, {"&2x", 4098}, {"&3x", 4099}, {"&4x", 4100}});
  expectLines(menuLines(top[1]->menu()),
              {{"&Preview With Pack...", 4864}, {"&Coverage", 4869}, {"&Zoom", 0}});
  QMenu* zoom = top[1]->menu()->actions()[2]->menu();
  ASSERT_NE(zoom, nullptr);
  expectLines(menuLines(zoom), {{"&1x", 4865}, {"&2x", 4866}, {"&3x", 4867}, {"&4x", 4868}});
  expectLines(menuLines(top[2]->menu()), {{"&Rebuild\tF5", 5376}});
  expectLines(menuLines(top[3]->menu()), {{"&Cascade", 5120}, {"&Tile", 5121}});
  expectLines(menuLines(top[4]->menu()), {{"&About...", 4352}});

  for (int command :
       {4096, 4097, 4098, 4099, 4100, 4101, 4102, 4352, 4864, 4865, 4866, 4867, 4868, 4869, 5376}) {
    ASSERT_NE(frame.commandAction(command), nullptr) << command;
  }
  EXPECT_FALSE(frame.runCommand(4103));
  // The key the menu names is bound; Alt+F4 stays with the window system.
  EXPECT_EQ(frame.commandAction(kCmdOpenScreen)->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_O));
  EXPECT_TRUE(frame.commandAction(kCmdExit)->shortcut().isEmpty());
  EXPECT_EQ(frame.commandAction(kCmdRebuild)->shortcut(), QKeySequence(Qt::Key_F5));
}

TEST(MainWindow, CtrlOOpensTheScreenDialog) {
  Frame f;
  MainWindow& frame = f.open();
  frame.applyPlacement();
  QApplication::setActiveWindow(&frame);
  ASSERT_TRUE(QTest::qWaitForWindowActive(&frame));
  QTest::keyClick(&frame, Qt::Key_O, Qt::ControlModifier);
  EXPECT_EQ(f.chooser.fileCalls, 1);
  EXPECT_EQ(f.chooser.lastSetup, &openScreenDialogSetup());
}

TEST(MainWindow, OpenScreenTitlesTheViewerAndRemembersThePathEvenWhenLoadingFails) {
  Frame f;
  f.writeSettings("[General]\nLastFile=/screens/last.msscreen\n");
  MainWindow& frame = f.open();

  frame.runCommand(kCmdOpenScreen); // cancelled
  EXPECT_EQ(f.chooser.lastStart, "/screens/last.msscreen");
  EXPECT_EQ(f.chooser.lastSetup, &openScreenDialogSetup());
  EXPECT_TRUE(frame.mdiArea()->subWindowList().isEmpty());
  EXPECT_EQ(frame.state().lastFile, "/screens/last.msscreen");

  f.viewersLoad = false;
  f.chooser.fileAnswer = "/screens/broken.msscreen";
  frame.runCommand(kCmdOpenScreen);
  EXPECT_TRUE(frame.mdiArea()->subWindowList().isEmpty()) << "no window for a screen that fails";
  EXPECT_EQ(frame.state().lastFile, "/screens/broken.msscreen");

  f.viewersLoad = true;
  f.chooser.fileAnswer = "C:\\games\\shots/title.msscreen";
  frame.runCommand(kCmdOpenScreen);
  EXPECT_EQ(f.chooser.lastStart, "/screens/broken.msscreen") << "the failed path is offered next";
  ASSERT_EQ(frame.mdiArea()->subWindowList().size(), 1);
  EXPECT_EQ(frame.mdiArea()->subWindowList()[0]->windowTitle(), "title.msscreen");
  EXPECT_EQ(frame.state().lastFile, "C:\\games\\shots/title.msscreen");
}

TEST(MainWindow, ScreenTitleIsTheNameAfterTheLastSeparator) {
  EXPECT_EQ(screenTitle("C:\\a\\b.msscreen"), "b.msscreen");
  EXPECT_EQ(screenTitle("/a/b/c.msscreen"), "c.msscreen");
  EXPECT_EQ(screenTitle("a/b\\c.msscreen"), "c.msscreen");
  EXPECT_EQ(screenTitle("plain.msscreen"), "plain.msscreen");
  EXPECT_EQ(screenTitle("folder/"), "");
}

TEST(MainWindow, SaveBitmapGoesToTheCurrentViewerAndDoesNothingWithoutOne) {
  Frame f;
  MainWindow& frame = f.open();
  for (int command = kCmdSaveBitmap1x; command <= kCmdSaveBitmap4x; ++command) {
    EXPECT_TRUE(frame.runCommand(command));
  }
  EXPECT_TRUE(f.saves->empty());
  EXPECT_TRUE(frame.mdiArea()->subWindowList().isEmpty());

  frame.applyPlacement();
  ScreenViewerWindow* first = frame.openScreen("/s/one.msscreen");
  ScreenViewerWindow* second = frame.openScreen("/s/two.msscreen");
  ASSERT_TRUE(first && second);
  frame.mdiArea()->setActiveSubWindow(second);
  frame.runCommand(kCmdSaveBitmap3x);
  frame.mdiArea()->setActiveSubWindow(first);
  frame.commandAction(kCmdSaveBitmap1x)->trigger();
  EXPECT_EQ(*f.saves, (std::vector<int>{3, 1}));
}

// What needs no answer goes to the status bar; what failed gives a message box with the reason.
TEST(MainWindow, OutcomesOfOpenAndSaveAreShown) {
  struct Case {
    bool loads;
    QString saveFailure;
    const char* status; // the status bar after Save Bitmap
    const char* box;    // the message box left open, or null
    const char* boxSays;
  };
  const Case cases[] = {
      {true, "", "Saved /s/saved.png at 2x", nullptr, nullptr},
      {true, "/s/saved.png: writing: No space left on device", "", "saveError", "No space left"},
      {false, "", "No screen is open", "openError", "bad magic"},
  };
  for (const Case& c : cases) {
    Frame f;
    SCOPED_TRACE(c.status);
    f.viewersLoad = c.loads;
    f.saveFailure = c.saveFailure;
    MainWindow& frame = f.open();
    frame.statusBar()->clearMessage();
    EXPECT_EQ(frame.openScreen("/s/one.msscreen") != nullptr, c.loads);
    EXPECT_EQ(frame.state().recentScreens,
              c.loads ? std::vector<std::string>{"/s/one.msscreen"} : std::vector<std::string>{});
    if (c.loads) frame.statusBar()->clearMessage();
    frame.runCommand(kCmdSaveBitmap2x);
    const QString status = frame.statusBar()->currentMessage();
    EXPECT_EQ(status.left(qsizetype(std::strlen(c.status))).toStdString(), c.status) << status.toStdString();
    auto* box = c.box ? frame.findChild<QMessageBox*>(c.box) : nullptr;
    if (c.box) {
      ASSERT_NE(box, nullptr) << c.box;
      EXPECT_TRUE(box->text().contains(c.boxSays)) << box->text().toStdString();
    }
  }
}

// The menu is greyed while it lists nothing, and a greyed menu never opens to be filled: it is
// filled as a screen opens, and from the settings at start.
TEST(MainWindow, RecentScreensIsEnabledOnceItListsAScreen) {
  Frame f;
  MainWindow& frame = f.open();
  auto* recent = frame.findChild<QMenu*>("recentScreens");
  ASSERT_NE(recent, nullptr);
  EXPECT_FALSE(recent->isEnabled());
  frame.openScreen("/s/one.msscreen");
  EXPECT_TRUE(recent->isEnabled());
  ASSERT_EQ(recent->actions().size(), 1);
  EXPECT_EQ(recent->actions()[0]->text(), "&1 one.msscreen");

  f.window.reset(); // writes the settings
  recent = f.open().findChild<QMenu*>("recentScreens");
  EXPECT_TRUE(recent->isEnabled());
  EXPECT_EQ(recent->actions().size(), 1);
}

TEST(MainWindow, DefaultPlacementGivesA560By400ClientAreaCentredOnThePrimaryScreen) {
  Frame f;
  MainWindow& frame = f.open();
  frame.applyPlacement();
  QApplication::processEvents();
  EXPECT_EQ(frame.mdiArea()->size(), QSize(560, 400));
  const QRect screen = QGuiApplication::primaryScreen()->geometry();
  EXPECT_EQ(frame.pos().x(), screen.x() + ((screen.width() - frame.width()) >> 1));
  EXPECT_EQ(frame.pos().y(), screen.y() + ((screen.height() - frame.height()) >> 1));
  EXPECT_FALSE(frame.isMaximized());
  EXPECT_FALSE(frame.isMinimized());
}

TEST(MainWindow, StoredPlacementIsAppliedAndCapturedUnchanged) {
  Frame f;
  f.writeSettings(
      "[MainWindow]\nshowCmd=1\nleft=40\ntop=30\nright=680\nbottom=510\nMaxPos.x=-1\nMaxPos.y=-1\n");
  MainWindow& frame = f.open();
  frame.applyPlacement();
  QApplication::processEvents();
  EXPECT_EQ(frame.pos(), QPoint(40, 30));
  EXPECT_EQ(frame.size(), QSize(640, 480));
  frame.capturePlacement();
  const WindowPlacement& p = frame.state().placement;
  EXPECT_EQ(p.normalPosition, (PlacementRect{40, 30, 680, 510}));
  EXPECT_EQ(p.showCmd, kShowNormal);
  EXPECT_EQ(p.maxPosition.x, -1) << "kept as read";
}

TEST(MainWindow, PlacementOnNoScreenMovesOntoThePrimaryScreen) {
  Frame f;
  f.writeSettings("[MainWindow]\nleft=5000\ntop=4000\nright=5600\nbottom=4450\n");
  MainWindow& frame = f.open();
  frame.applyPlacement();
  QApplication::processEvents();
  const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
  EXPECT_TRUE(screen.contains(frame.frameGeometry().topLeft()));
  EXPECT_EQ(frame.size(), QSize(600, 450)) << "the size is kept";
  frame.capturePlacement();
  EXPECT_TRUE(isPlacementVisible(frame.state().placement.normalPosition,
                                 {{screen.x(), screen.y(), screen.right() + 1, screen.bottom() + 1}}));
}

TEST(MainWindow, ClosingEndsTheLoopFirstAndTheSettingsAreWrittenOnceAtDestruction) {
  Frame f;
  f.writeSettings("[Extra]\nkeep=yes\n[MainWindow]\nleft=60\ntop=70\nright=660\nbottom=520\n");
  {
    MainWindow& frame = f.open();
    frame.state().lastOutputFile = "/out/x.zrm";
    QTimer::singleShot(0, &frame, [&frame] { frame.close(); });
    EXPECT_EQ(frame.runMessageLoop(), 0);
    EXPECT_TRUE(frame.isVisible()) << "the frame outlives the loop";
    EXPECT_EQ(frame.state().placement.showCmd, kShowNormal);
    const std::string before = test::readFileBytes(f.settingsPath());
    EXPECT_EQ(before.find("/out/x.zrm"), std::string::npos) << "nothing written before the frame goes";
    f.window.reset();
  }
  IniFile ini;
  ASSERT_TRUE(ini.load(f.settingsPath()));
  EXPECT_EQ(ini.get("General", "LastOutputFile").value_or("?"), "/out/x.zrm");
  EXPECT_EQ(ini.get("Extra", "keep").value_or("?"), "yes");
  EXPECT_EQ(ini.get("MainWindow", "left").value_or("?"), "60");
  EXPECT_EQ(ini.get("MainWindow", "bottom").value_or("?"), "520");
  EXPECT_EQ(ini.get("MainWindow", "showCmd").value_or("?"), "1");
}

TEST(MainWindow, CreateHiResRomOpensTheModalDialogWithTheFrameState) {
  Frame f;
  MainWindow& frame = f.open();
  frame.state().lastInputFolder = "/in";
  frame.state().lastTilesRes = 1;
  frame.applyPlacement();
  QString seenFolder, seenTitle;
  int seenIndex = -1;
  std::function<void()> inspect = [&] {
    auto* dialog = qobject_cast<BuildDialog*>(QApplication::activeModalWidget());
    if (!dialog) {
      QTimer::singleShot(10, inspect);
      return;
    }
    seenTitle = dialog->windowTitle();
    seenFolder = dialog->inputFolderEdit()->text();
    seenIndex = dialog->tileSizeList()->currentIndex();
    dialog->inputFolderEdit()->setText("/typed");
    dialog->reject();
  };
  QTimer::singleShot(0, inspect);
  frame.runCommand(kCmdCreateHiResRom);
  EXPECT_EQ(seenTitle, "Create Hi-Res ROM");
  EXPECT_EQ(seenFolder, "/in");
  EXPECT_EQ(seenIndex, 0);
  EXPECT_EQ(frame.state().lastInputFolder, "/in") << "Cancel stores nothing";
}

// Calls `act` with the build dialog once Create Hi-Res ROM has opened it.
void whenTheBuildDialogShows(std::function<void(BuildDialog&)> act) {
  QTimer::singleShot(10, [act] {
    if (auto* dialog = qobject_cast<BuildDialog*>(QApplication::activeModalWidget()))
      act(*dialog);
    else
      whenTheBuildDialogShows(act);
  });
}

// A build stopped with Cancel is named in the frame's status bar once the dialog has closed.
TEST(MainWindow, ACancelledBuildIsNamedInTheStatusBar) {
  Frame f;
  f.buildRunner = [](const BuildJob& job) {
    while (job.log->shouldContinue()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    job.log->AppendLogLine("Cancelled");
    return false;
  };
  MainWindow& frame = f.open();
  frame.state().lastInputFolder = "/in";
  frame.state().lastOriginalRom = "/in.sms";
  frame.state().lastOutputFile = "/out.zrm";
  whenTheBuildDialogShows([](BuildDialog& dialog) {
    dialog.pressOk();
    dialog.cancelButton()->click();
  });
  frame.runCommand(kCmdCreateHiResRom);
  EXPECT_TRUE(frame.statusBar()->currentMessage().contains("cancelled"))
      << frame.statusBar()->currentMessage().toStdString();
}

// Build > Rebuild repeats the last build at once, with the build cache; before any build it only
// says that there is none.
TEST(MainWindow, RebuildRepeatsTheLastBuildWithTheCache) {
  Frame f;
  std::vector<BuildJob> jobs;
  f.buildRunner = [&jobs](const BuildJob& job) {
    jobs.push_back(job);
    job.log->AppendLogLine("Success!");
    return true;
  };
  MainWindow& frame = f.open();
  frame.runCommand(kCmdRebuild);
  EXPECT_TRUE(jobs.empty());
  EXPECT_TRUE(frame.statusBar()->currentMessage().contains("No build to repeat"))
      << frame.statusBar()->currentMessage().toStdString();

  frame.state().lastInputFolder = "/in";
  frame.state().lastOriginalRom = "/in.sms";
  frame.state().lastOutputFile = "/out.zrm";
  frame.state().lastTilesRes = 3;
  bool built = false;
  whenTheBuildDialogShows([&](BuildDialog& dialog) {
    built = QTest::qWaitFor([&] { return dialog.lastOutcome() == BuildDialog::Outcome::Succeeded; }, 60000);
    dialog.reject();
  });
  frame.runCommand(kCmdRebuild);
  ASSERT_TRUE(built);
  ASSERT_EQ(jobs.size(), 1u);
  EXPECT_EQ(jobs[0].inputFolder, "/in");
  EXPECT_EQ(jobs[0].romPath, "/in.sms");
  EXPECT_EQ(jobs[0].outputPath, "/out.zrm");
  EXPECT_EQ(jobs[0].scale, 3);
  EXPECT_TRUE(jobs[0].useCache);
}

// Closing the frame while a build runs stops the build and waits for it before the program goes
// on to end: the old pack stays as it was, with nothing left beside it.
TEST(MainWindow, ClosingTheFrameMidBuildCancelsTheBuildAndKeepsTheOldPack) {
  Frame f;
  const std::string game = f.dir.file("game"), pack = f.dir.file("game.zrm");
  ASSERT_TRUE(createDirectory(game));
  ASSERT_TRUE(synth::writeLargeGame(game, 1, synth::LargeGameSize{}, 2024));
  const std::string old = "an older pack";
  ASSERT_TRUE(test::writeFileBytes(pack, old.data(), old.size()));
  const test::ScopedTmpDir tmp(f.dir.path());
  MainWindow& frame = f.open();
  frame.state().lastInputFolder = game;
  frame.state().lastOriginalRom = game + "/game.sms";
  frame.state().lastOutputFile = pack;
  frame.state().lastTilesRes = 1;

  bool runningWhenClosed = false, runningAfterClose = true;
  QString lastLines;
  whenTheBuildDialogShows([&](BuildDialog& dialog) {
    dialog.pressOk();
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialog.logList()->count() > 0; }, 60000));
    runningWhenClosed = dialog.isBuilding();
    frame.close();
    runningAfterClose = dialog.isBuilding();
    const int n = dialog.logList()->count();
    if (n >= 2) lastLines = dialog.logList()->item(n - 2)->text();
  });
  QTimer::singleShot(0, &frame, [&frame] { frame.runCommand(kCmdCreateHiResRom); });
  EXPECT_EQ(frame.runMessageLoop(), 0);
  ASSERT_TRUE(runningWhenClosed) << "the build ended before the frame closed";
  EXPECT_FALSE(runningAfterClose) << "close returned before the build had ended";
  EXPECT_EQ(lastLines, "Cancelled");
  EXPECT_EQ(test::readFileBytes(pack), old);
  EXPECT_EQ(test::countTmpFiles(f.dir.path()) + test::countTmpFiles(game), 0u);
}

// The About box names the program with the version `zelvo --version` prints, and is wide enough
// for its whole window title beside the title bar's buttons.
TEST(MainWindow, AboutBoxNamesTheProgramItsVersionAndItsPurpose) {
  QProcess cli;
  cli.start(ZELVO_CLI_PATH, {"--version"});
  ASSERT_TRUE(cli.waitForFinished(10000));
  const QString printed = QString::fromUtf8(cli.readAllStandardOutput()).trimmed();
  ASSERT_TRUE(printed.startsWith("zelvo ")) << printed.toStdString();

  Frame f;
  MainWindow& frame = f.open();
  auto box = frame.makeAboutBox();
  EXPECT_EQ(box->text(), "Zelvo Tool " + printed.mid(6));
  EXPECT_EQ(box->windowTitle(), "About Zelvo Tool");
  EXPECT_TRUE(box->informativeText().contains("Master System"));
  box->show(); // a message box takes its size as it shows
  const QFontMetrics fm(box->font());
  EXPECT_GE(box->width(), fm.horizontalAdvance(box->windowTitle()) + 8 * fm.height());
  box->hide();
}

TEST(Program, StartsAndStopsWritingTheSettingsOnceWithTheFramePlacement) {
  TempDir dir;
  const QString settings = QString::fromStdString(dir.file("ZelvoTool.ini"));
  const std::string stored = "[MainWindow]\r\nshowCmd=5\r\nleft=33\r\ntop=44\r\nright=633\r\nbottom=544\r\n";
  ASSERT_TRUE(test::writeFileBytes(settings.toStdString(), stored.data(), stored.size()));
  const QString missing = QString::fromStdString(dir.file("gone.msscreen"));

  QProcess program;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("QT_QPA_PLATFORM", "offscreen");
  program.setProcessEnvironment(env);
  program.start(ZELVO_TOOL_PATH,
                {"--settings-file", settings, "--open-screen", missing, "--quit-after", "300"});
  ASSERT_TRUE(program.waitForFinished(60000));
  EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(program.exitCode(), 0) << program.readAllStandardError().toStdString();

  IniFile ini;
  ASSERT_TRUE(ini.load(settings.toStdString()));
  EXPECT_EQ(ini.get("General", "LastFile").value_or("?"), missing.toStdString());
  EXPECT_EQ(ini.get("General", "LastTilesRes").value_or("?"), "4");
  for (const auto& [key, value] : std::vector<std::pair<const char*, const char*>>{{"showCmd", "1"},
                                                                                   {"left", "33"},
                                                                                   {"top", "44"},
                                                                                   {"right", "633"},
                                                                                   {"bottom", "544"},
                                                                                   {"MaxPos.x", "0"},
                                                                                   {"MaxPos.y", "0"}}) {
    EXPECT_EQ(ini.get("MainWindow", key).value_or("?"), value) << key;
  }
  EXPECT_EQ(test::countTmpFiles(dir.path()), 0u);
}

} // namespace
} // namespace zelvo
