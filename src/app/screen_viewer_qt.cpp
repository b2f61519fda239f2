#include "app/screen_viewer_qt.h"

#include "app/file_dialogs_qt.h"
#include "app/main_window_qt.h"
#include "render/freeimage_ptr.h"
#include "tiles/screen_file.h"
#include "viewer/screen_export.h"
#include "viewer/screen_render.h"

#include <QPaintEvent>
#include <QPainter>
#include <QWidget>

namespace zelvo {

namespace {

// The area the screen is painted on: the picture stretched over all of it, both directions
// independently, or the window colour when there is no picture.
class ViewerClientArea final : public QWidget {
public:
  explicit ViewerClientArea(const QImage& picture) : picture_(picture) {}
  QSize sizeHint() const override {
    if (!picture_.isNull()) return picture_.size();
    return {ScreenViewerWindow::kInitialWidth, ScreenViewerWindow::kInitialHeight};
  }

protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    if (picture_.isNull())
      painter.fillRect(rect(), palette().window());
    else
      painter.drawImage(rect(), picture_);
  }

private:
  const QImage& picture_;
};

// A copy of a 32-bit image, top row first, opaque (the renderer leaves the alpha byte 0).
QImage toQImage(FIBITMAP* image) {
  const int width = int(FreeImage_GetWidth(image)), height = int(FreeImage_GetHeight(image));
  QImage out(width, height, QImage::Format_RGB32);
  if (out.isNull()) return out;
  for (int y = 0; y < height; ++y) {
    const auto* source = reinterpret_cast<const std::uint32_t*>(FreeImage_GetScanLine(image, height - 1 - y));
    auto* target = reinterpret_cast<QRgb*>(out.scanLine(y));
    for (int x = 0; x < width; ++x) target[x] = 0xFF000000u | (source[x] & 0xFFFFFFu);
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
  setWidget(new ViewerClientArea(picture_));
}

ScreenViewerWindow::~ScreenViewerWindow() = default;

bool ScreenViewerWindow::loadScreen(const QString& path) {
  auto screen = createScreenFile();
  if (!screen || !loadScreenFile(*screen, path.toStdString())) return false;

  if (FiBitmap image = renderForDisplay(*screen)) picture_ = toQImage(image.get());
  if (!picture_.isNull() && !(windowState() & (Qt::WindowMinimized | Qt::WindowMaximized))) {
    // The frame around the client area stays as it is; the client area takes the picture's size.
    const QSize frame = size() - widget()->size();
    resize(picture_.size() + frame);
    const QSize miss = picture_.size() - widget()->size();
    if (miss != QSize(0, 0)) resize(size() + miss);
  }
  path_ = path;
  screen_ = std::move(screen);
  widget()->update();
  return true;
}

FileChooser& ScreenViewerWindow::fileChooser() const {
  if (chooser_) return *chooser_;
  if (auto* frame = qobject_cast<MainWindow*>(window())) return frame->chooser();
  return systemFileChooser();
}

bool ScreenViewerWindow::saveBitmap(int factor) {
  if (!screen_) return false;
  const QString proposed = QString::fromStdString(proposedSaveName(path_.toStdString()));
  int filterIndex = 1;
  const QString chosen =
      fileChooser().chooseFileAndType(window(), saveBitmapDialogSetup(), proposed, filterIndex);
  if (chosen.isEmpty()) return false;
  ExportFormat format = ExportFormat::Png;
  if (!exportFormatForFilter(filterIndex, format)) return false;
  const std::string target = applySaveExtension(chosen.toStdString(), format);
  return saveScreenFiles(*screen_, factor, format, screen_->background() == nullptr, target);
}

} // namespace zelvo
