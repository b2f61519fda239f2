#include "app/screen_viewer_qt.h"

#include "platform/fs.h"

#include <QWidget>

namespace zelvo {

namespace {

// The area the screen is painted on; until screens are drawn it stays empty.
class ViewerClientArea final : public QWidget {
public:
  using QWidget::QWidget;
  QSize sizeHint() const override {
    return {ScreenViewerWindow::kInitialWidth, ScreenViewerWindow::kInitialHeight};
  }
};

} // namespace

ScreenViewerWindow::ScreenViewerWindow(QWidget* parent) : QMdiSubWindow(parent) {
  setWidget(new ViewerClientArea);
}

ScreenViewerWindow::~ScreenViewerWindow() = default;

bool ScreenViewerWindow::loadScreen(const QString& path) {
  if (!isRegularFile(path.toStdString())) return false;
  path_ = path;
  return true;
}

bool ScreenViewerWindow::saveBitmap(int factor) {
  (void)factor;
  return false;
}

} // namespace zelvo
