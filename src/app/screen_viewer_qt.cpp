#include "app/screen_viewer_qt.h"

#include "app/file_dialogs_qt.h"
#include "app/main_window_qt.h"
#include "render/freeimage_ptr.h"
#include "tiles/screen_file.h"
#include "viewer/pack_preview.h"
#include "viewer/screen_export.h"
#include "viewer/screen_render.h"

#include <QApplication>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QPaintEvent>
#include <QPainter>
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

// A copy of a 32-bit image, top row first, opaque: the colours as they are (the renderer leaves
// the alpha byte 0), or, with a ground colour, blended over it by their alpha.
QImage toQImage(FIBITMAP* image, std::optional<QRgb> ground = std::nullopt) {
  const int width = int(FreeImage_GetWidth(image)), height = int(FreeImage_GetHeight(image));
  QImage out(width, height, QImage::Format_RGB32);
  if (out.isNull()) return out;
  for (int y = 0; y < height; ++y) {
    const auto* source = reinterpret_cast<const std::uint32_t*>(FreeImage_GetScanLine(image, height - 1 - y));
    auto* target = reinterpret_cast<QRgb*>(out.scanLine(y));
    for (int x = 0; x < width; ++x) {
      std::uint32_t pixel = source[x];
      if (ground) {
        const std::uint32_t alpha = pixel >> 24;
        std::uint32_t blended = 0;
        for (int shift = 0; shift < 24; shift += 8)
          blended |=
              ((((pixel >> shift) & 0xFF) * alpha + ((*ground >> shift) & 0xFF) * (255 - alpha) + 127) / 255)
              << shift;
        pixel = blended;
      }
      target[x] = 0xFF000000u | (pixel & 0xFFFFFFu);
    }
  }
  return out;
}

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

ScreenViewerWindow::~ScreenViewerWindow() = default;

bool ScreenViewerWindow::loadScreen(const QString& path) {
  error_.clear();
  auto screen = createScreenFile();
  if (!screen) {
    error_ = "No memory for the screen.";
    return false;
  }
  if (Status read = readScreenFile(*screen, path.toStdString()); !read) {
    error_ = QString::fromStdString(read.error().message());
    return false;
  }

  if (FiBitmap image = renderForDisplay(*screen)) picture_ = toQImage(image.get());
  fitClientArea();
  path_ = path;
  screen_ = std::move(screen);
  widget()->update();
  return true;
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

bool ScreenViewerWindow::showPreview(const QString& packPath, QString& error) {
  if (!screen_) {
    error = "No screen is loaded.";
    return false;
  }
  QApplication::setOverrideCursor(Qt::WaitCursor);
  Result<PackTiles> pack = readPackTiles(packPath.toStdString());
  Result<Preview> preview = pack ? renderPreview(*screen_, *pack) : Result<Preview>(pack.error());
  QApplication::restoreOverrideCursor();
  if (!preview) {
    error = QString::fromStdString(preview.error().message());
    return false;
  }
  // Sprites lie over the olive the original shows beneath them.
  preview_ = screen_->background() ? toQImage(preview->image.get())
                                   : toQImage(preview->image.get(), QRgb(kSpriteFillColour));
  pack_ = packPath;
  drawnStamp_ = packStamp();
  watchPack();
  setWindowTitle(screenTitle(path_) + " with " + screenTitle(packPath));
  // Below the pack's scale the hi-res pixels would be squeezed: the window grows to show them all.
  if (zoom_ < int(pack->scale)) setZoom(int(pack->scale));
  widget()->update();
  return true;
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
  QString error;
  if (!showPreview(pack_, error)) drawnStamp_ = now; // not drawn again until it changes once more
}

void ScreenViewerWindow::showOriginal() {
  if (pack_.isEmpty()) return;
  pack_.clear();
  watchPack();
  preview_ = QImage();
  setWindowTitle(screenTitle(path_));
  widget()->update();
}

FileChooser& ScreenViewerWindow::fileChooser() const {
  if (chooser_) return *chooser_;
  if (auto* frame = qobject_cast<MainWindow*>(window())) return frame->chooser();
  return systemFileChooser();
}

bool ScreenViewerWindow::saveBitmap(int factor) {
  error_.clear();
  if (!screen_) return false;
  const QString proposed = QString::fromStdString(proposedSaveName(path_.toStdString()));
  int filterIndex = 1;
  const QString chosen =
      fileChooser().chooseFileAndType(window(), saveBitmapDialogSetup(), proposed, filterIndex);
  if (chosen.isEmpty()) return false;
  ExportFormat format = ExportFormat::Png;
  if (!exportFormatForFilter(filterIndex, format)) return false;
  const std::string target = applySaveExtension(chosen.toStdString(), format);
  const Status saved = exportScreenImage(*screen_, factor, format, screen_->background() == nullptr, target);
  if (!saved) {
    error_ = QString::fromStdString(saved.error().message());
    return false;
  }
  saved_ = QString::fromStdString(target);
  return true;
}

} // namespace zelvo
