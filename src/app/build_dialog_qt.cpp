#include "app/build_dialog_qt.h"

#include "app/file_dialogs_qt.h"

#include <QAction>
#include <QClipboard>
#include <QColor>
#include <QComboBox>
#include <QCoreApplication>
#include <QFont>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QThread>
#include <QVBoxLayout>

#include <cmath>
#include <deque>
#include <mutex>

namespace zelvo {

namespace {

// Log lines and progress shown in one turn of the dialog's event loop, at most.
constexpr std::size_t kEventsPerTurn = 4096;

const char* controlName(BuildDialogControl id) {
  switch (id) {
  case IDC_INPUT_FOLDER:
    return "IDC_INPUT_FOLDER";
  case IDC_BROWSE_FOLDER:
    return "IDC_BROWSE_FOLDER";
  case IDC_TILE_SIZE:
    return "IDC_TILE_SIZE";
  case IDC_ROM_PATH:
    return "IDC_ROM_PATH";
  case IDC_BROWSE_ROM:
    return "IDC_BROWSE_ROM";
  case IDC_OUTPUT_PATH:
    return "IDC_OUTPUT_PATH";
  case IDC_BROWSE_OUTPUT:
    return "IDC_BROWSE_OUTPUT";
  case IDC_LOG:
    return "IDC_LOG";
  }
  return "";
}

template <class W> W* named(W* widget, BuildDialogControl id) {
  widget->setObjectName(controlName(id));
  widget->setProperty("controlId", int(id));
  return widget;
}

QLabel* wrappedLabel(const QString& text) {
  auto* label = new QLabel(text);
  label->setWordWrap(true);
  return label;
}

QString fromField(const std::string& text) { return QString::fromStdString(text); }

} // namespace

// The build's log on the worker thread (and on the build's own workers, for progress and
// cancellation): what the build says is queued, in order, and the dialog is woken by a queued
// signal when the queue was empty. Progress is queued only when its per mille changes.
class BuildDialog::Relay final : public BuildLog {
public:
  struct Event {
    enum class Kind { Clear, Line, Reason, Progress } kind;
    QString text;
    int permille = 0;
  };

  explicit Relay(BuildDialog& dialog) : dialog_(dialog) {}

  void ClearLog() override { push({Event::Kind::Clear, {}}); }
  void AppendLogLine(const std::string& text) override {
    permille_.store(-1, std::memory_order_relaxed); // a new stage reports afresh
    push({Event::Kind::Line, QString::fromStdString(text)});
  }
  void FailureReason(const Error& why) override {
    push({Event::Kind::Reason, QString::fromStdString(why.message())});
  }
  bool shouldContinue() override { return !dialog_.cancelPending_.load(std::memory_order_relaxed); }
  void progress(ProgressStage, std::uint64_t done, std::uint64_t total) override {
    const int permille = total == 0 ? 0 : int(std::min(done, total) * 1000 / total);
    if (permille_.exchange(permille, std::memory_order_relaxed) != permille)
      push({Event::Kind::Progress, {}, permille});
  }

  // Up to `most` of the queued events, oldest first; `more` says whether some are left.
  std::vector<Event> take(std::size_t most, bool& more) {
    const std::lock_guard lock(mutex_);
    const std::size_t n = std::min(most, events_.size());
    std::vector<Event> taken(std::make_move_iterator(events_.begin()),
                             std::make_move_iterator(events_.begin() + std::ptrdiff_t(n)));
    events_.erase(events_.begin(), events_.begin() + std::ptrdiff_t(n));
    more = !events_.empty();
    return taken;
  }

private:
  void push(Event event) {
    bool wake = false;
    {
      const std::lock_guard lock(mutex_);
      wake = events_.empty();
      events_.push_back(std::move(event));
    }
    if (wake) emit dialog_.buildEventsWaiting();
  }

  BuildDialog& dialog_;
  std::mutex mutex_;
  std::deque<Event> events_;
  std::atomic<int> permille_{-1};
};

const QStringList& BuildDialog::tileSizeTexts() {
  static const QStringList texts{
      "1x (8x8 tiles, 256x192 screen)",
      "2x (16x16 tiles, 512x384 screen)",
      "3x (24x24 tiles, 768x576 screen)",
      "4x (32x32 tiles, 1024x768 screen)",
  };
  return texts;
}

BuildDialog::BuildDialog(AppState& state, FileChooser& chooser, QWidget* parent)
    : QDialog(parent), state_(state), chooser_(chooser), runner_(&RunBuild) {
  setWindowTitle("Create Hi-Res ROM");
  setModal(true);
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);
  buildControls();

  // Tile sizes, index 3 first, then the remembered entries.
  tileSize_->addItems(tileSizeTexts());
  tileSize_->setCurrentIndex(3);
  inputFolder_->setText(fromField(state_.lastInputFolder));
  tileSize_->setCurrentIndex(state_.lastTilesRes >= 1 && state_.lastTilesRes <= 4 ? state_.lastTilesRes - 1
                                                                                  : -1);
  romPath_->setText(fromField(state_.lastOriginalRom));
  outputPath_->setText(fromField(state_.lastOutputFile));

  // Emitted on the worker thread, taken on this one.
  connect(
      this, &BuildDialog::buildEventsWaiting, this, [this] { takeBuildEvents(); }, Qt::QueuedConnection);
  centreOnScreen();
}

BuildDialog::~BuildDialog() {
  if (!worker_) return;
  cancelPending_ = true;
  worker_->wait();
}

void BuildDialog::buildControls() {
  const QFontMetricsF fm(font());
  const double unitX =
      fm.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz") / 52.0 / 4.0;
  const double unitY = fm.height() / 8.0;
  auto dluX = [&](int v) { return int(std::lround(v * unitX)); };
  auto dluY = [&](int v) { return int(std::lround(v * unitY)); };

  auto* layout = new QVBoxLayout(this);

  // Controls are created in tab order.
  const int buttonWidth = dluX(16);
  layout->addWidget(pathBox("Input Folder",
                            "This folder contains the tiles file (*.mstiles), screen files (*.msscreen) and "
                            "the respective images to replace tiles.",
                            inputFolder_, IDC_INPUT_FOLDER, IDC_BROWSE_FOLDER, &BuildDialog::browseFolder,
                            buttonWidth));

  auto* sizeBox = new QGroupBox("New Tiles Size");
  auto* sizeLayout = new QVBoxLayout(sizeBox);
  sizeLayout->addWidget(wrappedLabel("Master System original tiles are 8x8 pixels size (total resolution: "
                                     "256x192). Specify here the size of hi-res tiles."));
  tileSize_ = named(new QComboBox, IDC_TILE_SIZE);
  tileSize_->setEditable(false);
  sizeLayout->addWidget(tileSize_);
  layout->addWidget(sizeBox);

  layout->addWidget(pathBox("Original ROM", "Path for the original Master System ROM.", romPath_,
                            IDC_ROM_PATH, IDC_BROWSE_ROM, &BuildDialog::browseRom, buttonWidth));
  layout->addWidget(pathBox("Output File", "Path for the output hi-res ROM file to create.", outputPath_,
                            IDC_OUTPUT_PATH, IDC_BROWSE_OUTPUT, &BuildDialog::browseOutput, buttonWidth));

  layout->addWidget(new QLabel("Log:"));
  const int logHeight = dluY(56); // a few lines more than the template's 40 units
  createLog(logHeight);
  layout->addWidget(log_, 1); // the log takes whatever the dialog grows by

  // Names the running stage, with its percentage once the stage reports any.
  progress_ = new QProgressBar;
  progress_->setObjectName("buildProgress");
  progress_->setRange(0, 1000);
  progress_->setValue(0);
  progress_->setFormat(QString());
  progress_->setAlignment(Qt::AlignCenter);
  layout->addWidget(progress_);

  layout->addLayout(createButtons(dluX(50)));

  // At first, and at least, the width of the template and the height its contents need at that
  // width; a larger dialog gives the room to the log.
  const int width = std::max(dluX(228), layout->totalMinimumSize().width());
  const int height =
      layout->hasHeightForWidth() ? layout->totalHeightForWidth(width) : layout->totalSizeHint().height();
  log_->setMinimumHeight(logHeight);
  log_->setMaximumHeight(QWIDGETSIZE_MAX);
  setMinimumSize(width, height);
  resize(width, height);
  setSizeGripEnabled(true);
}

QGroupBox* BuildDialog::pathBox(const char* title, const char* help, QLineEdit*& edit,
                                BuildDialogControl editId, BuildDialogControl buttonId,
                                void (BuildDialog::*browse)(), int buttonWidth) {
  auto* box = new QGroupBox(title);
  auto* boxLayout = new QVBoxLayout(box);
  boxLayout->addWidget(wrappedLabel(help));
  edit = named(new QLineEdit, editId);
  edit->setMaxLength(kMaxFieldLength);
  auto* button = named(new QPushButton("..."), buttonId);
  button->setAutoDefault(false);
  button->setFixedWidth(std::max(buttonWidth, button->fontMetrics().horizontalAdvance("...") + 12));
  connect(button, &QPushButton::clicked, this, browse);
  auto* row = new QHBoxLayout;
  row->addWidget(edit, 1);
  row->addWidget(button);
  boxLayout->addLayout(row);
  return box;
}

void BuildDialog::createLog(int height) {
  log_ = named(new QListWidget, IDC_LOG);
  log_->setSortingEnabled(false); // lines stay in the order written
  log_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  log_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  log_->setFixedHeight(height); // while the dialog's first size is measured
  // A large game's build logs tens of thousands of lines: every line is as tall as the first, so
  // that adding one does not measure them all again, and icons are no taller than a line.
  log_->setUniformItemSizes(true);
  const int lineHeight = std::min(log_->fontMetrics().height(), 16);
  log_->setIconSize(QSize(lineHeight, lineHeight));
  // The lines can be copied, to paste them into a bug report or a message to the artists.
  copyLog_ = new QAction("Copy", log_);
  copyLog_->setShortcut(QKeySequence::Copy);
  copyLog_->setShortcutContext(Qt::WidgetShortcut);
  connect(copyLog_, &QAction::triggered, this, &BuildDialog::copyLog);
  selectAllLog_ = new QAction("Select All", log_);
  selectAllLog_->setShortcut(QKeySequence::SelectAll);
  selectAllLog_->setShortcutContext(Qt::WidgetShortcut);
  connect(selectAllLog_, &QAction::triggered, log_, &QListWidget::selectAll);
  log_->addActions({copyLog_, selectAllLog_});
  log_->setContextMenuPolicy(Qt::ActionsContextMenu);
}

QHBoxLayout* BuildDialog::createButtons(int minWidth) {
  ok_ = new QPushButton("OK");
  ok_->setDefault(true);
  cancel_ = new QPushButton("Cancel");
  cancel_->setAutoDefault(false);
  ok_->setMinimumWidth(minWidth);
  cancel_->setMinimumWidth(minWidth);
  connect(ok_, &QPushButton::clicked, this, &BuildDialog::pressOk);
  connect(cancel_, &QPushButton::clicked, this, &BuildDialog::reject);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(ok_);
  buttons->addWidget(cancel_);
  return buttons;
}

void BuildDialog::centreOnScreen() {
  const QScreen* screen = QGuiApplication::primaryScreen();
  if (!screen) return;
  const QRect s = screen->geometry();
  move(s.x() + ((s.width() - width()) >> 1), s.y() + ((s.height() - height()) >> 1));
}

void BuildDialog::pressOk() {
  if (worker_) return; // one build at a time; the log of the running one stays
  const QString input = inputFolder_->text().left(kMaxFieldLength);
  const QString rom = romPath_->text().left(kMaxFieldLength);
  const QString output = outputPath_->text().left(kMaxFieldLength);
  if (input.isEmpty() || rom.isEmpty() || output.isEmpty()) return;
  const int index = tileSize_->currentIndex();
  if (index < 0) return;

  relay_ = std::make_unique<Relay>(*this);
  job_ = BuildJob{};
  job_.log = relay_.get();
  job_.inputFolder = input.toStdString();
  job_.scale = static_cast<std::uint8_t>(index + 1);
  job_.romPath = rom.toStdString();
  job_.outputPath = output.toStdString();

  ok_->setEnabled(false);
  cancelPending_ = false;
  built_ = false;
  progressPermille_ = -1;
  warnings_ = 0;
  result_.clear();
  worker_.reset(QThread::create([this, runner = runner_] { built_ = runner && runner(job_); }));
  worker_->setObjectName("build");
  // Queued: the thread ends on its own side. A build already shown by cancelAndWait is not
  // shown again, nor taken for a later one.
  connect(worker_.get(), &QThread::finished, this, [this, build = ++builds_] {
    if (build == builds_) finishBuild();
  });
  worker_->start();
}

void BuildDialog::finishBuild() {
  if (!worker_) return; // already shown by cancelAndWait
  worker_->wait();
  worker_.reset();
  takeBuildEvents(true);
  relay_.reset();
  ok_->setEnabled(true);
  showResult(built_);

  // Whatever the result, the entries are remembered; the file is written at exit.
  state_.lastInputFolder = limitSettingText(job_.inputFolder);
  state_.lastOriginalRom = limitSettingText(job_.romPath);
  state_.lastOutputFile = limitSettingText(job_.outputPath);
  state_.lastTilesRes = job_.scale;

  emit buildFinished();
  if (cancelPending_.exchange(false)) QDialog::reject();
}

void BuildDialog::cancelAndWait() {
  if (!worker_) return;
  cancelPending_ = true;
  finishBuild();
}

void BuildDialog::showResult(bool built) {
  progress_->setValue(built ? progress_->maximum() : 0);
  outcome_ = built ? Outcome::Succeeded : result_ == "Cancelled" ? Outcome::Cancelled : Outcome::Failed;
  if (result_.isEmpty() || warnings_ == 0) return;
  const QString count =
      warnings_ == 1 ? QStringLiteral("1 warning") : QStringLiteral("%1 warnings").arg(warnings_);
  setProgressText(built ? result_ + ' ' + count : result_ + " (" + count + ')', false);
}

void BuildDialog::reject() {
  if (worker_) {
    cancelPending_ = true;
    return;
  }
  QDialog::reject();
}

void BuildDialog::browseFolder() {
  QString text = inputFolder_->text();
  if (browseForFolder(this, chooser_, text)) inputFolder_->setText(text.left(kMaxFieldLength));
}

void BuildDialog::browseRom() {
  const QString path = chooser_.chooseFile(this, originalRomDialogSetup(), romPath_->text());
  if (!path.isEmpty()) romPath_->setText(path.left(kMaxFieldLength));
}

void BuildDialog::browseOutput() {
  const QString path = chooser_.chooseFile(this, outputFileDialogSetup(), outputPath_->text());
  if (!path.isEmpty()) outputPath_->setText(path.left(kMaxFieldLength));
}

void BuildDialog::copyLog() {
  const bool all = log_->selectedItems().isEmpty();
  QString text;
  for (int row = 0; row < log_->count(); ++row) {
    const QListWidgetItem* item = log_->item(row);
    if (all || item->isSelected()) text += item->text() + '\n';
  }
  if (!text.isEmpty()) QGuiApplication::clipboard()->setText(text);
}

void BuildDialog::setProgressText(const QString& text, bool percent) {
  // The build's stage and error lines hold no '%' that the bar would take for its own.
  if (!percent)
    progress_->setFormat(text);
  else
    progress_->setFormat(text.isEmpty() ? QStringLiteral("%p%") : text + QStringLiteral(" %p%"));
}

void BuildDialog::takeBuildEvents(bool all) {
  if (!relay_) return; // a wake-up that came after the build's end
  bool more = false;
  do {
    for (Relay::Event& event : relay_->take(kEventsPerTurn, more)) {
      switch (event.kind) {
      case Relay::Event::Kind::Clear:
        clearLog();
        break;
      case Relay::Event::Kind::Line:
        appendLogLine(event.text);
        break;
      case Relay::Event::Kind::Reason:
        showFailureReason(event.text);
        break;
      case Relay::Event::Kind::Progress:
        showProgress(event.permille);
        break;
      }
    }
  } while (more && all);
  showLastLine(); // lays out every line: once a turn, not once a line
  // The rest in later turns, after whatever the user did meanwhile.
  if (more)
    QMetaObject::invokeMethod(
        this, [this] { takeBuildEvents(); }, Qt::QueuedConnection);
}

void BuildDialog::clearLog() {
  log_->clear();
  progress_->setValue(0);
  setProgressText(QString(), false);
  stage_.clear();
  result_.clear();
  warnings_ = 0;
  progressPermille_ = -1;
}

void BuildDialog::appendLogLine(const QString& text) {
  auto* item = new QListWidgetItem(text);
  const LogLineKind kind = logLineKind(text.toStdString());
  // Warnings and error lines are set apart by an icon and a colour; an error is also bold.
  if (kind == LogLineKind::Warning) {
    ++warnings_;
    item->setIcon(style()->standardIcon(QStyle::SP_MessageBoxWarning));
    item->setForeground(QColor(0x9a, 0x60, 0x00));
  } else if (kind == LogLineKind::Error) {
    item->setIcon(style()->standardIcon(QStyle::SP_MessageBoxCritical));
    item->setForeground(QColor(0xc0, 0x10, 0x10));
    QFont bold = item->font();
    bold.setBold(true);
    item->setFont(bold);
  }
  log_->addItem(item);
  scrollPending_ = true;
  if (kind == LogLineKind::Error) {
    result_ = item->text();
    setProgressText(result_, false); // the bar says why the build ended
    return;
  }
  if (kind != LogLineKind::Progress) return;
  if (text == QLatin1String(kBuildSuccessLine)) result_ = item->text();
  // A new stage begins ("Success!" ends the last one); its percentage shows once it reports any.
  stage_ = item->text();
  progress_->setValue(text == QLatin1String(kBuildSuccessLine) ? progress_->maximum() : 0);
  setProgressText(stage_, false);
  progressPermille_ = -1;
}

void BuildDialog::showLastLine() {
  if (!scrollPending_) return;
  scrollPending_ = false;
  log_->scrollToBottom();
}

void BuildDialog::showFailureReason(const QString& text) {
  // Set apart from the build's own lines: indented and greyed.
  auto* item = new QListWidgetItem("    " + text);
  item->setForeground(palette().brush(QPalette::Disabled, QPalette::Text));
  log_->addItem(item);
  scrollPending_ = true;
}

void BuildDialog::showProgress(int permille) {
  if (permille == progressPermille_) return;
  if (progressPermille_ < 0) setProgressText(stage_, true);
  progressPermille_ = permille;
  progress_->setValue(permille);
}

} // namespace zelvo
