#include "app/main_window_qt.h"

#include "app/build_dialog_qt.h"
#include "app/file_dialogs_qt.h"
#include "app/screen_viewer_qt.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QGridLayout>
#include <QGuiApplication>
#include <QKeySequence>
#include <QMdiArea>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QScreen>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <vector>

#ifndef ZELVO_VERSION
#define ZELVO_VERSION "unknown"
#endif

namespace zelvo {

namespace {

PlacementRect toPlacementRect(const QRect& r) {
  return {r.x(), r.y(), r.x() + r.width(), r.y() + r.height()};
}

// The screen files among what is dragged: local files ending in .msscreen (any case).
QStringList droppedScreens(const QMimeData* data) {
  QStringList paths;
  if (!data) return paths;
  for (const QUrl& url : data->urls())
    if (url.isLocalFile() && url.toLocalFile().endsWith(".msscreen", Qt::CaseInsensitive))
      paths << url.toLocalFile();
  return paths;
}

} // namespace

QString screenTitle(const QString& path) {
  const qsizetype sep = std::max(path.lastIndexOf('\\'), path.lastIndexOf('/'));
  return sep < 0 ? path : path.mid(sep + 1);
}

MainWindow::MainWindow(Options options) : options_(std::move(options)) {
  chooser_ = options_.chooser ? options_.chooser : &systemFileChooser();
  setWindowTitle("Zelvo Tool");
  buildMenu();

  // Settings first, then the area where the viewers open.
  SettingsFiles files{options_.settingsPath, options_.settingsPath};
  if (options_.settingsPath.empty()) {
    const QString executableFolder = QCoreApplication::applicationDirPath();
    files = chooseSettingsFiles(
        executableFolder.toStdString(), QFileInfo(executableFolder).isWritable(),
        QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation).toStdString());
  }
  settingsPath_ = files.write;
  loadSettingsFrom(state_, frameMetrics(), files.read);
  fillRecentMenu(); // enabled when the settings list any

  mdi_ = new QMdiArea;
  mdi_->setObjectName("MDICLIENT");
  mdi_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  mdi_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setCentralWidget(mdi_);
  connect(mdi_, &QMdiArea::subWindowActivated, this, [this] { updateViewMenu(); });
  statusBar()->setObjectName("statusBar");
  setAcceptDrops(true);
}

MainWindow::~MainWindow() {
  // Written once per run, with the placement captured when the loop ended.
  if (Status saved = saveSettingsTo(state_, settingsPath_); !saved)
    qWarning("zelvo-tool: the settings were not saved: %s", saved.error().message().c_str());
  delete mdi_;
  mdi_ = nullptr;
}

QAction* MainWindow::addCommand(QMenu* menu, const QString& text, int command) {
  QAction* action = menu->addAction(text);
  action->setData(command);
  connect(action, &QAction::triggered, this, [this, command] { runCommand(command); });
  actions_[command] = action;
  return action;
}

void MainWindow::buildMenu() {
  QMenu* file = menuBar()->addMenu("&File");
  QAction* open = addCommand(file, "&Open Screen...\tCtrl+O", kCmdOpenScreen);
  // The menu names the key, so the key works too.
  open->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
  recentMenu_ = file->addMenu("&Recent Screens");
  recentMenu_->setObjectName("recentScreens");
  connect(recentMenu_, &QMenu::aboutToShow, this, [this] { fillRecentMenu(); });
  QMenu* save = file->addMenu("&Save Bitmap");
  addCommand(save, "&1x", kCmdSaveBitmap1x);
  addCommand(save, "&2x", kCmdSaveBitmap2x);
  addCommand(save, "&3x", kCmdSaveBitmap3x);
  addCommand(save, "&4x", kCmdSaveBitmap4x);
  file->addSeparator();
  addCommand(file, "Create Hi-Res ROM", kCmdCreateHiResRom);
  file->addSeparator();
  addCommand(file, "&Exit\tAlt+F4", kCmdExit);

  QMenu* view = menuBar()->addMenu("&View");
  addCommand(view, "&Preview With Pack...", kCmdPreviewWithPack)->setCheckable(true);
  addCommand(view, "&Coverage", kCmdCoverage)->setCheckable(true);
  QMenu* zoom = view->addMenu("&Zoom");
  auto* zooms = new QActionGroup(this);
  zooms->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
  for (int factor = 1; factor <= 4; ++factor) {
    QAction* action = addCommand(zoom, QStringLiteral("&%1x").arg(factor), kCmdZoom1x + factor - 1);
    action->setCheckable(true);
    zooms->addAction(action);
  }

  QMenu* build = menuBar()->addMenu("&Build");
  addCommand(build, "&Rebuild\tF5", kCmdRebuild)->setShortcut(QKeySequence(Qt::Key_F5));

  windowMenu_ = menuBar()->addMenu("&Window");
  windowMenu_->setObjectName("windowMenu");
  connect(windowMenu_, &QMenu::aboutToShow, this, [this] { fillWindowMenu(); });
  fillWindowMenu();

  QMenu* help = menuBar()->addMenu("&Help");
  addCommand(help, "&About...", kCmdAbout);
}

void MainWindow::fillRecentMenu() {
  recentMenu_->clear();
  int number = 0;
  for (const std::string& recent : state_.recentScreens) {
    const QString path = QString::fromStdString(recent);
    QAction* action = recentMenu_->addAction(QStringLiteral("&%1 %2").arg(++number).arg(screenTitle(path)));
    action->setData(path);
    action->setToolTip(path);
    connect(action, &QAction::triggered, this, [this, path] { openScreen(path); });
  }
  recentMenu_->setEnabled(number > 0);
}

void MainWindow::fillWindowMenu() {
  windowMenu_->clear();
  actions_.erase(kCmdCascade);
  actions_.erase(kCmdTile);
  addCommand(windowMenu_, "&Cascade", kCmdCascade);
  addCommand(windowMenu_, "&Tile", kCmdTile);
  const QList<QMdiSubWindow*> windows = mdi_ ? mdi_->subWindowList() : QList<QMdiSubWindow*>();
  if (!windows.isEmpty()) windowMenu_->addSeparator();
  int number = 0;
  for (QMdiSubWindow* window : windows) {
    QAction* action =
        windowMenu_->addAction(QStringLiteral("&%1 %2").arg(++number).arg(window->windowTitle()));
    action->setCheckable(true);
    action->setChecked(window == mdi_->activeSubWindow());
    connect(action, &QAction::triggered, this, [this, window] {
      if (mdi_->subWindowList().contains(window)) mdi_->setActiveSubWindow(window);
    });
  }
}

void MainWindow::showProblem(const QString& name, const QString& title, const QString& text) {
  auto* box = new QMessageBox(QMessageBox::Warning, title, text, QMessageBox::Ok, this);
  box->setObjectName(name);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->open();
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (!droppedScreens(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
  const QStringList paths = droppedScreens(event->mimeData());
  if (paths.isEmpty()) return;
  event->acceptProposedAction();
  for (const QString& path : paths) openScreen(path);
}

QAction* MainWindow::commandAction(int command) const {
  auto it = actions_.find(command);
  return it == actions_.end() ? nullptr : it->second;
}

bool MainWindow::runCommand(int command) {
  switch (command) {
  case kCmdOpenScreen:
    openScreenCommand();
    return true;
  case kCmdSaveBitmap1x:
  case kCmdSaveBitmap2x:
  case kCmdSaveBitmap3x:
  case kCmdSaveBitmap4x:
    saveBitmap(command - kCmdOpenScreen);
    return true;
  case kCmdRebuild:
    rebuildCommand();
    return true;
  case kCmdCreateHiResRom:
    createHiResRomCommand();
    return true;
  case kCmdPreviewWithPack:
    previewWithPack();
    return true;
  case kCmdCoverage:
    coverage();
    return true;
  case kCmdZoom1x:
  case kCmdZoom2x:
  case kCmdZoom3x:
  case kCmdZoom4x:
    zoom(command - kCmdZoom1x + 1);
    return true;
  case kCmdExit:
    QCoreApplication::exit(0);
    return true;
  case kCmdAbout:
    aboutCommand();
    return true;
  case kCmdCascade:
    mdi_->cascadeSubWindows();
    return true;
  case kCmdTile:
    mdi_->tileSubWindows();
    return true;
  default:
    return false;
  }
}

FrameMetrics MainWindow::frameMetrics() const {
  FrameMetrics m;
  const QScreen* screen = QGuiApplication::primaryScreen();
  m.primaryScreen = toPlacementRect(screen ? screen->geometry() : QRect(0, 0, kClientWidth, kClientHeight));
  m.windowWidth = kClientWidth;
  m.windowHeight = kClientHeight + menuBar()->sizeHint().height() + statusBar()->sizeHint().height();
  return m;
}

int MainWindow::runMessageLoop() {
  applyPlacement();
  const int result = QApplication::exec();
  capturePlacement();
  return result;
}

void MainWindow::applyPlacement() {
  WindowPlacement& p = state_.placement;
  // A frame stored on a screen that is no longer there would be out of reach.
  std::vector<PlacementRect> screens;
  for (const QScreen* s : QGuiApplication::screens())
    screens.push_back(toPlacementRect(s->availableGeometry()));
  if (const QScreen* primary = QGuiApplication::primaryScreen()) {
    bringOntoScreen(p, screens, toPlacementRect(primary->availableGeometry()));
  }

  const PlacementRect& r = p.normalPosition;
  move(r.left, r.top);
  resize(int(std::clamp<std::int64_t>(r.width(), 1, QWIDGETSIZE_MAX)),
         int(std::clamp<std::int64_t>(r.height(), 1, QWIDGETSIZE_MAX)));
  switch (p.showCmd) {
  case kShowMinimized:
  case kShowMinimize:
  case kShowMinNoActive:
  case kShowForceMinimize:
    showMinimized();
    break;
  case kShowMaximized:
    showMaximized();
    break;
  default:
    showNormal();
    break; // a stored "hide" shows it too: a hidden frame cannot be closed
  }
}

void MainWindow::capturePlacement() {
  WindowPlacement& p = state_.placement;
  QRect normal = normalGeometry();
  if (normal.isNull()) normal = geometry();
  // The placement is the frame's, decoration included: move() takes the same corner.
  const QPoint decoration = geometry().topLeft() - frameGeometry().topLeft();
  p.length = sizeof(WindowPlacement);
  p.flags = 0;
  p.minPosition = {};
  p.showCmd = isMinimized() ? kShowMinimized : isMaximized() ? kShowMaximized : kShowNormal;
  p.normalPosition = toPlacementRect(normal.translated(-decoration));
}

void MainWindow::closeEvent(QCloseEvent* event) {
  // A build still running stops first: its old pack stays, and nothing is left half written.
  if (buildDialog_) buildDialog_->cancelAndWait();
  // The frame must outlive the loop so that its placement can still be read.
  event->ignore();
  QCoreApplication::exit(0);
}

void MainWindow::openScreenCommand() {
  const QString path =
      chooser_->chooseFile(this, openScreenDialogSetup(), QString::fromStdString(state_.lastFile));
  if (path.isEmpty()) return;
  openScreen(path);
}

ScreenViewerWindow* MainWindow::openScreen(const QString& path) {
  ScreenViewerWindow* viewer = options_.makeViewer ? options_.makeViewer() : new ScreenViewerWindow;
  if (viewer) {
    viewer->setAttribute(Qt::WA_DeleteOnClose);
    viewer->setWindowTitle(screenTitle(path));
    connect(viewer, &ScreenViewerWindow::coverageCounted, this,
            [this, viewer](const QString& error, const QString& summary) {
              if (!error.isEmpty()) {
                statusBar()->clearMessage();
                showProblem("coverageError", "Coverage", "The coverage cannot be counted.\n\n" + error);
              } else {
                statusBar()->showMessage(viewer->windowTitle() + ": " + summary, 10000);
              }
            });
    mdi_->addSubWindow(viewer);
    viewer->resize(viewer->sizeHint());
    viewer->show();
    if (Status loaded = viewer->loadScreen(path); !loaded) {
      mdi_->removeSubWindow(viewer);
      delete viewer;
      viewer = nullptr;
      showProblem("openError", "Open Screen",
                  "The screen cannot be opened.\n\n" + QString::fromStdString(loaded.error().message()));
    }
  }
  // Offered again next time, also when it did not load.
  state_.lastFile = limitSettingText(path.toStdString());
  if (viewer) {
    rememberRecent(state_.recentScreens, state_.lastFile);
    fillRecentMenu(); // a greyed menu never shows, so it is filled as the list changes
    statusBar()->showMessage("Opened " + path, 5000);
  }
  return viewer;
}

void MainWindow::saveBitmap(int factor) {
  auto* viewer = qobject_cast<ScreenViewerWindow*>(mdi_->currentSubWindow());
  if (!viewer) {
    statusBar()->showMessage("No screen is open: open one with File > Open Screen first.", 5000);
    return;
  }
  const Status saved = viewer->saveBitmap(factor);
  if (saved) {
    statusBar()->showMessage(QStringLiteral("Saved %1 at %2x").arg(viewer->savedPath()).arg(factor), 5000);
  } else if (saved.error().cause != ErrorCause::Cancelled) {
    showProblem("saveError", "Save Bitmap",
                "The image was not saved.\n\n" + QString::fromStdString(saved.error().message()));
  }
}

void MainWindow::previewWithPack() {
  auto* viewer = qobject_cast<ScreenViewerWindow*>(mdi_->currentSubWindow());
  if (viewer && !viewer->previewPack().isEmpty()) {
    viewer->showOriginal();
  } else if (viewer) {
    const QString path =
        chooser_->chooseFile(this, openPackDialogSetup(), QString::fromStdString(state_.lastPack));
    if (!path.isEmpty()) {
      state_.lastPack = limitSettingText(path.toStdString());
      if (Status shown = viewer->showPreview(path); !shown) {
        showProblem("previewError", "Preview With Pack",
                    "The pack cannot be shown.\n\n" + QString::fromStdString(shown.error().message()));
      }
    }
  }
  updateViewMenu();
}

void MainWindow::coverage() {
  if (auto* viewer = qobject_cast<ScreenViewerWindow*>(mdi_->currentSubWindow())) {
    if (viewer->coverageShown()) {
      viewer->hideCoverage();
    } else {
      viewer->showCoverage();
      if (viewer->coverageShown())
        statusBar()->showMessage("Counting the coverage of the screen's folder...");
    }
  }
  updateViewMenu();
}

void MainWindow::zoom(int factor) {
  if (auto* viewer = qobject_cast<ScreenViewerWindow*>(mdi_->currentSubWindow())) viewer->setZoom(factor);
  updateViewMenu();
}

void MainWindow::updateViewMenu() {
  const auto* viewer = qobject_cast<ScreenViewerWindow*>(mdi_ ? mdi_->currentSubWindow() : nullptr);
  commandAction(kCmdPreviewWithPack)->setChecked(viewer && !viewer->previewPack().isEmpty());
  commandAction(kCmdCoverage)->setChecked(viewer && viewer->coverageShown());
  for (int factor = 1; factor <= 4; ++factor)
    commandAction(kCmdZoom1x + factor - 1)->setChecked(viewer && viewer->zoom() == factor);
}

void MainWindow::createHiResRomCommand() { runBuildDialog(false); }

void MainWindow::rebuildCommand() {
  if (state_.lastInputFolder.empty() || state_.lastOriginalRom.empty() || state_.lastOutputFile.empty()) {
    statusBar()->showMessage("No build to repeat yet: File > Create Hi-Res ROM runs the first one.", 10000);
    return;
  }
  runBuildDialog(true);
}

void MainWindow::runBuildDialog(bool start) {
  BuildDialog dialog(state_, *chooser_, this);
  if (options_.buildRunner) dialog.setRunner(options_.buildRunner);
  buildDialog_ = &dialog;
  if (start) QTimer::singleShot(0, &dialog, &BuildDialog::pressOk);
  dialog.exec();
  buildDialog_ = nullptr;
  if (dialog.lastOutcome() == BuildDialog::Outcome::Cancelled)
    statusBar()->showMessage("The build was cancelled; the output file was left as it was.", 10000);
}

std::unique_ptr<QMessageBox> MainWindow::makeAboutBox() {
  auto box = std::make_unique<QMessageBox>(this);
  box->setObjectName("aboutBox");
  box->setWindowTitle("About Zelvo Tool");
  box->setIcon(QMessageBox::Information);
  box->setText(QStringLiteral("Zelvo Tool %1").arg(QStringLiteral(ZELVO_VERSION)));
  box->setInformativeText("Builds high-resolution graphics packs for Sega Master System games.");
  box->setStandardButtons(QMessageBox::Ok);
  // A message box is only as wide as its words need, which cuts the window manager's title
  // short and wraps the purpose into a narrow column: a row of its own keeps it wide enough.
  if (auto* grid = qobject_cast<QGridLayout*>(box->layout())) {
    const QFontMetrics fm(box->font());
    const int width =
        std::max(fm.horizontalAdvance(box->windowTitle()) + 8 * fm.height(), 48 * fm.averageCharWidth());
    grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Fixed), grid->rowCount(), 0, 1,
                  grid->columnCount());
  }
  return box;
}

void MainWindow::aboutCommand() { makeAboutBox()->exec(); }

} // namespace zelvo
