#include "app/screen_viewer_qt.h"

#include "app/file_dialogs_qt.h"
#include "app/main_window_qt.h"
#include "platform/path.h"
#include "platform/progress.h"
#include "render/rgba_image.h"
#include "tiles/screen_file.h"
#include "viewer/coverage_map.h"
#include "viewer/pack_preview.h"
#include "viewer/screen_export.h"
#include "viewer/screen_render.h"

#include <QApplication>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QPaintEvent>
#include <QPainter>
#include <QThread>
#include <QTimer>
#include <QWidget>

#include <optional>

namespace zelvo {

namespace {

constexpr int kPackSettleMs = 300; // a changed pack is drawn again once it stays as it is this long

// The area the screen is painted on: the shown picture stretched over all of it, both directions
// independently, or the window colour when there is no picture.
class ViewerClientArea final : public QWidget {
public:
  explicit ViewerClientArea(const ScreenViewerWindow& viewer) : viewer_(viewer) {}
  QSize sizeHint() const override {
    if (!viewer_.picture().isNull()) return viewer_.picture().size() * viewer_.zoom();
    return {ScreenViewerWindow::kInitialWidth, ScreenViewerWindow::kInitialHeight};
  }

protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    if (viewer_.shownPicture().isNull())
      painter.fillRect(rect(), palette().window());
    else
      painter.drawImage(rect(), viewer_.shownPicture());
  }

private:
  const ScreenViewerWindow& viewer_;
};

// An opaque copy of an image: the colours as they are, or, with a ground colour, blended over it
// by their alpha.
QImage toQImage(const RgbaImage& image, std::optional<QRgb> ground = std::nullopt) {
  QImage out(int(image.width), int(image.height), QImage::Format_RGB32);
  if (out.isNull()) return out;
  for (std::uint32_t y = 0; y < image.height; ++y) {
    const std::uint8_t* source = image.row(y);
    auto* target = reinterpret_cast<QRgb*>(out.scanLine(int(y)));
    for (std::uint32_t x = 0; x < image.width; ++x, source += 4) {
      int rgb[3] = {source[0], source[1], source[2]};
      if (ground) {
        const int alpha = source[3], under[3] = {qRed(*ground), qGreen(*ground), qBlue(*ground)};
        for (int c = 0; c < 3; ++c) rgb[c] = (rgb[c] * alpha + under[c] * (255 - alpha) + 127) / 255;
      }
      target[x] = qRgb(rgb[0], rgb[1], rgb[2]);
    }
  }
  return out;
}

// The colours of an opaque image, as the core's image type.
RgbaImage fromQImage(const QImage& image) {
  Result<RgbaImage> out = makeRgbaImage(std::uint32_t(image.width()), std::uint32_t(image.height()));
  if (!out) return {};
  const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
  for (int y = 0; y < rgb.height(); ++y) {
    const auto* source = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
    std::uint8_t* target = out->row(std::uint32_t(y));
    for (int x = 0; x < rgb.width(); ++x, target += 4) {
      target[0] = std::uint8_t(qRed(source[x]));
      target[1] = std::uint8_t(qGreen(source[x]));
      target[2] = std::uint8_t(qBlue(source[x]));
      target[3] = 255;
    }
  }
  return std::move(*out);
}

// Asks the count to stop when the window goes or the coverage is hidden.
class CountStop final : public ProgressSink {
public:
  explicit CountStop(const std::atomic<bool>& stop) : stop_(stop) {}
  void progress(ProgressStage, std::uint64_t, std::uint64_t) override {}
  bool shouldContinue() override { return !stop_.load(std::memory_order_relaxed); }

private:
  const std::atomic<bool>& stop_;
};

} // namespace

const FileDialogSetup& saveBitmapDialogSetup() {
  static const FileDialogSetup setup{FileDialogSetup::Mode::Save,
                                     {{"PNG (*.png)", "*.png"}, {"Windows Bitmap (*.bmp)", "*.bmp"}},
                                     QString()};
  return setup;
}

ScreenViewerWindow::ScreenViewerWindow(QWidget* parent) : QMdiSubWindow(parent) {
  setWidget(new ViewerClientArea(*this));
  packWatch_ = new QFileSystemWatcher(this);
  packSettle_ = new QTimer(this);
  packSettle_->setSingleShot(true);
  packSettle_->setInterval(kPackSettleMs);
  connect(packWatch_, &QFileSystemWatcher::fileChanged, packSettle_, qOverload<>(&QTimer::start));
  connect(packWatch_, &QFileSystemWatcher::directoryChanged, packSettle_, qOverload<>(&QTimer::start));
  connect(packSettle_, &QTimer::timeout, this, &ScreenViewerWindow::redrawIfPackChanged);
}

ScreenViewerWindow::~ScreenViewerWindow() { stopCount(); }

Status ScreenViewerWindow::loadScreen(const QString& path) {
  auto screen = createScreenFile();
  if (Status read = readScreenFile(*screen, path.toStdString()); !read) return read;

  if (Result<RgbaImage> image = renderForDisplay(*screen)) picture_ = toQImage(*image);
  fitClientArea();
  path_ = path;
  screen_ = std::move(screen);
  widget()->update();
  return {};
}

void ScreenViewerWindow::fitClientArea() {
  if (picture_.isNull() || (windowState() & (Qt::WindowMinimized | Qt::WindowMaximized))) return;
  // The frame around the client area stays as it is; the client area takes the picture's size.
  const QSize wanted = picture_.size() * zoom_;
  const QSize frame = size() - widget()->size();
  resize(wanted + frame);
  const QSize miss = wanted - widget()->size();
  if (miss != QSize(0, 0)) resize(size() + miss);
}

void ScreenViewerWindow::setZoom(int zoom) {
  if (zoom < 1 || zoom > 4) return;
  zoom_ = zoom;
  fitClientArea();
}

Status ScreenViewerWindow::showPreview(const QString& packPath) {
  if (!screen_) return makeError(ErrorCause::InvalidArgument, {}, "no screen is loaded");
  QApplication::setOverrideCursor(Qt::WaitCursor);
  Result<PackTiles> pack = readPackTiles(packPath.toStdString());
  Result<Preview> preview = pack ? renderPreview(*screen_, *pack) : Result<Preview>(pack.error());
  QApplication::restoreOverrideCursor();
  if (!preview) return preview.error();
  // Sprites lie over the olive the original shows beneath them.
  preview_ =
      screen_->background() ? toQImage(preview->image) : toQImage(preview->image, QRgb(kSpriteFillColour));
  pack_ = packPath;
  previewScale_ = int(pack->scale);
  drawnStamp_ = packStamp();
  watchPack();
  setWindowTitle(screenTitle(path_) + " with " + screenTitle(packPath));
  // Below the pack's scale the hi-res pixels would be squeezed: the window grows to show them all.
  if (zoom_ < int(pack->scale)) setZoom(int(pack->scale));
  tint();
  widget()->update();
  return {};
}

void ScreenViewerWindow::watchPack() {
  if (!packWatch_->files().isEmpty()) packWatch_->removePaths(packWatch_->files());
  if (!packWatch_->directories().isEmpty()) packWatch_->removePaths(packWatch_->directories());
  if (pack_.isEmpty()) return;
  packWatch_->addPath(QFileInfo(pack_).absolutePath());
  if (QFileInfo::exists(pack_)) packWatch_->addPath(pack_);
}

ScreenViewerWindow::PackStamp ScreenViewerWindow::packStamp() const {
  const QFileInfo file(pack_);
  if (!file.exists()) return {};
  return {file.lastModified(), file.size()};
}

void ScreenViewerWindow::redrawIfPackChanged() {
  if (pack_.isEmpty()) return;
  // The file replaced by a rename is no longer watched: the new one is.
  watchPack();
  const PackStamp now = packStamp();
  if (now == drawnStamp_ || now.size < 0) return;
  if (!showPreview(pack_)) drawnStamp_ = now; // not drawn again until it changes once more
}

void ScreenViewerWindow::showOriginal() {
  if (pack_.isEmpty()) return;
  pack_.clear();
  watchPack();
  preview_ = QImage();
  setWindowTitle(screenTitle(path_));
  tint();
  widget()->update();
}

void ScreenViewerWindow::showCoverage() {
  if (!screen_) return;
  coverageWanted_ = true;
  coverage_.reset(); // the images may have changed since the last count
  tint();
  startCount();
}

void ScreenViewerWindow::hideCoverage() {
  coverageWanted_ = false;
  stopCount();
  tinted_ = QImage();
  widget()->update();
}

void ScreenViewerWindow::startCount() {
  if (counter_) return; // countEnded starts again when the scale wanted changed meanwhile
  stopCounting_ = false;
  counted_.reset();
  countError_.clear();
  countScale_ = coverageScale();
  counter_.reset(QThread::create([this, folder = folderOf(path_.toStdString()), scale = countScale_] {
    CountStop stop(stopCounting_);
    Result<Coverage> counted = countFolderCoverage(folder.empty() ? "." : folder, scale, 0, &stop);
    if (counted)
      counted_ = std::move(*counted);
    else
      countError_ = QString::fromStdString(counted.error().message());
  }));
  counter_->setObjectName("coverage");
  connect(counter_.get(), &QThread::finished, this, [this, count = ++counts_] {
    if (count == counts_) countEnded();
  });
  counter_->start();
}

void ScreenViewerWindow::stopCount() {
  if (!counter_) return;
  stopCounting_ = true;
  counter_->wait();
  counter_.reset();
  ++counts_;
}

void ScreenViewerWindow::countEnded() {
  if (!counter_) return; // stopped meanwhile
  counter_->wait();
  counter_.reset();
  if (!coverageWanted_) return;
  if (countScale_ != coverageScale()) { // the picture changed while it counted
    startCount();
    return;
  }
  QString error = countError_, summary;
  if (counted_) {
    const std::string name = fileNameOf(path_.toStdString());
    for (ScreenCoverage& screen : counted_->screens)
      if (screen.screen == name) coverage_ = std::move(screen);
    if (!coverage_)
      error = "The screen is not among the screens its folder's coverage counts.";
    else
      summary = QString::fromStdString(coverageText(*counted_));
    coverageScale_ = countScale_;
    counted_.reset();
  }
  tint();
  widget()->update();
  emit coverageCounted(error, summary);
}

void ScreenViewerWindow::tint() {
  tinted_ = QImage();
  if (!coverageWanted_) return;
  if (coverage_ && coverageScale_ != coverageScale()) {
    coverage_.reset();
    startCount();
  }
  const QImage& shown = pack_.isEmpty() ? picture_ : preview_;
  if (!coverage_ || shown.isNull()) return;
  RgbaImage image = fromQImage(shown);
  if (!image.pixels) return;
  tintSquares(image, *coverage_, coverageScale_, pack_.isEmpty() ? 1 : previewScale_);
  tinted_ = toQImage(image);
}

FileChooser& ScreenViewerWindow::fileChooser() const {
  if (chooser_) return *chooser_;
  if (auto* frame = qobject_cast<MainWindow*>(window())) return frame->chooser();
  return systemFileChooser();
}

Status ScreenViewerWindow::saveBitmap(int factor) {
  if (!screen_) return cancelledError();
  const QString proposed = QString::fromStdString(proposedSaveName(path_.toStdString()));
  int filterIndex = 1;
  const QString chosen =
      fileChooser().chooseFileAndType(window(), saveBitmapDialogSetup(), proposed, filterIndex);
  if (chosen.isEmpty()) return cancelledError();
  ExportFormat format = ExportFormat::Png;
  if (!exportFormatForFilter(filterIndex, format)) return cancelledError();
  const std::string target = applySaveExtension(chosen.toStdString(), format);
  const Status saved = exportScreenImage(*screen_, factor, format, screen_->background() == nullptr, target);
  if (!saved) return saved;
  saved_ = QString::fromStdString(target);
  return {};
}

} // namespace zelvo
