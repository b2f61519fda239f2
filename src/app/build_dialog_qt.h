// The modal "Create Hi-Res ROM" dialog: the build's four entries, its log, a progress bar that
// names the running stage, and OK / Cancel.
#pragma once

#include "app/settings.h"
#include "pipeline/build_driver.h"

#include <QDialog>
#include <QElapsedTimer>

#include <atomic>
#include <functional>

class QAction;
class QComboBox;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;

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

class BuildDialog : public QDialog, private BuildLog {
  Q_OBJECT
public:
  using Runner = std::function<bool(const BuildJob&)>;
  // How the last build ended.
  enum class Outcome { None, Succeeded, Failed, Cancelled };

  // Fills the entries from `state`, into which every build that ran writes them back.
  BuildDialog(AppState& state, FileChooser& chooser, QWidget* parent = nullptr);
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
  bool isBuilding() const { return building_; }
  Outcome lastOutcome() const { return outcome_; }
  // The lines of the last build that begin with "Warning: ".
  int warningCount() const { return warnings_; }

  // The tile size texts, index 0 to 3 for scales 1 to 4.
  static const QStringList& tileSizeTexts();

public slots:
  // Runs a build from the entries; ignored while one runs or when an entry is empty.
  void pressOk();
  void browseFolder();
  void browseRom();
  void browseOutput();
  // Puts the selected log lines (every line when none is selected) on the clipboard, one a line.
  void copyLog();
  // Cancel, Escape and the close box; while a build runs it asks the build to stop, and the
  // dialog ends once the build has returned.
  void reject() override;

private:
  void ClearLog() override;
  void AppendLogLine(const std::string& text) override;
  void PumpMessages() override;
  void FailureReason(const Error& why) override;
  bool shouldContinue() override;
  void progress(ProgressStage stage, std::uint64_t done, std::uint64_t total) override;

  void buildControls();
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
  bool building_ = false;
  std::atomic<bool> cancelPending_{false}; // read by the build, perhaps from its workers
  int progressPermille_ = -1;              // -1 until the current stage reports its progress
  QString stage_;                          // the current stage's log line
  QString result_;                         // "Success!" or the error line, once logged
  int warnings_ = 0;
  Outcome outcome_ = Outcome::None;
  bool scrollPending_ = false; // lines were added since the log last scrolled
  QElapsedTimer sincePump_;

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
