// The modal "Create Hi-Res ROM" dialog: the build's four entries, its log, a progress bar that
// names the running stage, and OK / Cancel. The build runs on a worker thread of its own; its log
// lines and progress come back to the dialog through a queued signal.
#pragma once

#include "app/settings.h"
#include "pipeline/build_driver.h"

#include <QDialog>

#include <atomic>
#include <functional>
#include <memory>

class QAction;
class QComboBox;
class QLineEdit;
class QGroupBox;
class QHBoxLayout;
class QListWidget;
class QProgressBar;
class QPushButton;
class QThread;

namespace zelvo {

class FileChooser;

// Control ids of the dialog, also the controls' object names.
enum BuildDialogControl : int {
  IDC_INPUT_FOLDER = 0x2000,
  IDC_BROWSE_FOLDER = 0x2001,
  IDC_TILE_SIZE = 0x2002,
  IDC_ROM_PATH = 0x2003,
  IDC_BROWSE_ROM = 0x2004,
  IDC_OUTPUT_PATH = 0x2005,
  IDC_BROWSE_OUTPUT = 0x2006,
  IDC_LOG = 0x2007,
};

inline constexpr int kMaxFieldLength = 1023;

class BuildDialog : public QDialog {
  Q_OBJECT
public:
  // Runs a build on the worker thread; it talks to the dialog through the job's log only.
  using Runner = std::function<bool(const BuildJob&)>;
  // How the last build ended.
  enum class Outcome { None, Succeeded, Failed, Cancelled };

  // Fills the entries from `state`, into which every build that ran writes them back.
  BuildDialog(AppState& state, FileChooser& chooser, QWidget* parent = nullptr);
  // A build still running is stopped, and waited for.
  ~BuildDialog() override;

  // Replaces the build run (RunBuild by default).
  void setRunner(Runner runner) { runner_ = std::move(runner); }

  QLineEdit* inputFolderEdit() const { return inputFolder_; }
  QComboBox* tileSizeList() const { return tileSize_; }
  QLineEdit* romPathEdit() const { return romPath_; }
  QLineEdit* outputPathEdit() const { return outputPath_; }
  QListWidget* logList() const { return log_; }
  QProgressBar* progressBar() const { return progress_; }
  QPushButton* okButton() const { return ok_; }
  QPushButton* cancelButton() const { return cancel_; }
  // The log's "Copy" (Ctrl+C) and "Select All" (Ctrl+A), also in its context menu.
  QAction* copyLogAction() const { return copyLog_; }
  QAction* selectAllLogAction() const { return selectAllLog_; }
  // From OK until the build's end has been shown.
  bool isBuilding() const { return worker_ != nullptr; }
  Outcome lastOutcome() const { return outcome_; }
  // The lines of the last build that begin with "Warning: ".
  int warningCount() const { return warnings_; }

  // The tile size texts, index 0 to 3 for scales 1 to 4.
  static const QStringList& tileSizeTexts();

public slots:
  // Starts a build from the entries and returns; ignored while one runs or when an entry is empty.
  void pressOk();
  // Asks a running build to stop, waits until it has ended, and shows its end (the program is
  // closing). Nothing happens when no build runs.
  void cancelAndWait();
  void browseFolder();
  void browseRom();
  void browseOutput();
  // Puts the selected log lines (every line when none is selected) on the clipboard, one a line.
  void copyLog();
  // Cancel, Escape and the close box; while a build runs it asks the build to stop, and the
  // dialog ends once the build has returned.
  void reject() override;

signals:
  // The worker has queued log lines or progress (emitted on the worker thread).
  void buildEventsWaiting();
  // A build's end has been shown and its entries stored.
  void buildFinished();

private:
  class Relay;

  // On the dialog's thread: what the worker queued, shown in order; a few thousand at a time so
  // that the window stays responsive, all of them when `all`.
  void takeBuildEvents(bool all = false);
  void finishBuild();
  void clearLog();
  void appendLogLine(const QString& text);
  void showFailureReason(const QString& text);
  void showProgress(int permille);

  void buildControls();
  // A box with a help text, a path field and its "..." button.
  QGroupBox* pathBox(const char* title, const char* help, QLineEdit*& edit, BuildDialogControl editId,
                     BuildDialogControl buttonId, void (BuildDialog::*browse)(), int buttonWidth);
  // The log list, `height` pixels tall at first, with its Copy and Select All actions.
  void createLog(int height);
  // OK and Cancel, at the right, each at least `minWidth` pixels wide.
  QHBoxLayout* createButtons(int minWidth);
  void centreOnScreen();
  // The progress bar's text: `text`, then the percentage when `percent`.
  void setProgressText(const QString& text, bool percent);
  // Scrolls the log to its last line when lines were added since it last did.
  void showLastLine();
  // The bar once a build has ended: its last line ("Success!", the error line or "Cancelled")
  // with the number of warnings it gave.
  void showResult(bool built);

  AppState& state_;
  FileChooser& chooser_;
  Runner runner_;
  BuildJob job_; // the running build's, read by the worker
  std::unique_ptr<Relay> relay_;
  std::unique_ptr<QThread> worker_;
  std::atomic<bool> built_{false};         // the runner's result, set by the worker
  unsigned builds_ = 0;                    // builds started
  std::atomic<bool> cancelPending_{false}; // read by the build, perhaps from its workers
  int progressPermille_ = -1;              // -1 until the current stage reports its progress
  QString stage_;                          // the current stage's log line
  QString result_;                         // "Success!" or the error line, once logged
  int warnings_ = 0;
  Outcome outcome_ = Outcome::None;
  bool scrollPending_ = false; // lines were added since the log last scrolled

  QLineEdit* inputFolder_ = nullptr;
  QComboBox* tileSize_ = nullptr;
  QLineEdit* romPath_ = nullptr;
  QLineEdit* outputPath_ = nullptr;
  QListWidget* log_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QPushButton* ok_ = nullptr;
  QPushButton* cancel_ = nullptr;
  QAction* copyLog_ = nullptr;
  QAction* selectAllLog_ = nullptr;
};

} // namespace zelvo
