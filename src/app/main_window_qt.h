// The frame window "Zelvo Tool": the area where screen viewers open, the menu and its commands,
// and the settings kept from one run to the next.
#pragma once

#include "app/settings.h"

#include <QMainWindow>
#include <QString>

#include <functional>
#include <map>
#include <memory>
#include <string>

class QAction;
class QMdiArea;
class QMessageBox;

namespace zelvo {

class BuildDialog;
struct BuildJob;
class FileChooser;
class ScreenViewerWindow;

// Menu command numbers.
enum Command : int {
  kCmdOpenScreen = 4096,
  kCmdSaveBitmap1x = 4097,
  kCmdSaveBitmap2x = 4098,
  kCmdSaveBitmap3x = 4099,
  kCmdSaveBitmap4x = 4100,
  kCmdCreateHiResRom = 4101,
  kCmdExit = 4102,
  kCmdAbout = 4352,
  kCmdPreviewWithPack = 4864,
  kCmdZoom1x = 4865,
  kCmdZoom2x = 4866,
  kCmdZoom3x = 4867,
  kCmdZoom4x = 4868,
  kCmdCoverage = 4869,
  kCmdCascade = 5120,
  kCmdTile = 5121,
  kCmdRebuild = 5376,
};

inline constexpr int kClientWidth = 560;
inline constexpr int kClientHeight = 400;

// A screen window's title: the part of `path` after its last '\' or '/', or all of it.
QString screenTitle(const QString& path);

class MainWindow : public QMainWindow {
  Q_OBJECT
public:
  struct Options {
    // The settings file; empty: the program's own (chooseSettingsFiles).
    std::string settingsPath;
    // The file and folder dialogs; null: the platform's.
    FileChooser* chooser = nullptr;
    // Makes the viewer of Open Screen; empty: a ScreenViewerWindow.
    std::function<ScreenViewerWindow*()> makeViewer;
    // Runs the builds of Create Hi-Res ROM; empty: RunBuild.
    std::function<bool(const BuildJob&)> buildRunner;
  };

  // Builds the menu, reads the settings, then creates the viewer area. The frame stays hidden
  // until its placement is applied.
  explicit MainWindow(Options options);
  MainWindow() : MainWindow(Options{}) {}
  // Writes the settings, then the viewer area goes.
  ~MainWindow() override;

  // Shows the frame as its stored placement says, runs the event loop until the program quits,
  // then records the placement of the still-existing frame.
  int runMessageLoop();
  void applyPlacement();
  void capturePlacement();

  // Carries out a menu command by number; false for an unknown one.
  bool runCommand(int command);
  QAction* commandAction(int command) const;

  // Open Screen with the path already chosen: a viewer titled after the file; the path is
  // remembered whether or not it loads, and put first in Recent Screens when it loads. A file that
  // does not load gives a message box with the reason. Returns the viewer, or null.
  ScreenViewerWindow* openScreen(const QString& path);
  // Save Bitmap at `factor` (1 to 4) in the active viewer. The status bar says what was saved, or
  // that no screen is open; a failed save gives a message box with the reason.
  void saveBitmap(int factor);
  // View > Preview With Pack... in the active viewer: its original again when a preview is shown,
  // else the preview with a pack the user chooses (starting from the one chosen last). A pack
  // that cannot be shown gives a message box with the reason.
  void previewWithPack();
  // View > Coverage in the active viewer: the tint hidden when it is shown, else shown once the
  // coverage of the screen's folder is counted. The status bar then gives the coverage; a count
  // that fails gives a message box with the reason.
  void coverage();
  // View > Zoom in the active viewer.
  void zoom(int factor);
  // The About box, not yet shown.
  std::unique_ptr<QMessageBox> makeAboutBox();

  AppState& state() { return state_; }
  const AppState& state() const { return state_; }
  QMdiArea* mdiArea() const { return mdi_; }
  FileChooser& chooser() const { return *chooser_; }

  // The placement defaults: the primary screen and the frame's size for a 560 x 400 client area.
  FrameMetrics frameMetrics() const;

protected:
  // Closing the frame stops a running build and waits for it, then ends the event loop; the
  // window itself goes afterwards.
  void closeEvent(QCloseEvent* event) override;
  // Screen files (.msscreen) dropped onto the frame open as if chosen with Open Screen.
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

private:
  void buildMenu();
  // File > Recent Screens (also rebuilt whenever its list changes, since a greyed menu does not
  // open) and the Window menu's list, rebuilt as they open.
  void fillRecentMenu();
  void fillWindowMenu();
  // A message box the user closes, not waited for.
  void showProblem(const QString& name, const QString& title, const QString& text);
  // The check marks of the View menu follow the active viewer.
  void updateViewMenu();
  QAction* addCommand(QMenu* menu, const QString& text, int command);
  void openScreenCommand();
  void createHiResRomCommand();
  // Build > Rebuild (F5): the build dialog with the entries of the last build, started at once
  // (with the build cache, as every build); without a last build the status bar says so.
  void rebuildCommand();
  // The build dialog, modal, its build started at once with `start`.
  void runBuildDialog(bool start);
  void aboutCommand();

  Options options_;
  FileChooser* chooser_ = nullptr;
  AppState state_;
  std::string settingsPath_; // written at exit; empty: none
  QMdiArea* mdi_ = nullptr;
  std::map<int, QAction*> actions_;
  BuildDialog* buildDialog_ = nullptr; // while Create Hi-Res ROM is open
  QMenu* recentMenu_ = nullptr;
  QMenu* windowMenu_ = nullptr;
};

} // namespace zelvo
