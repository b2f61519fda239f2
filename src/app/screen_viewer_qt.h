// The child window that shows one screen file inside the frame.
#pragma once

#include <QMdiSubWindow>
#include <QString>

namespace zelvo {

class ScreenViewerWindow : public QMdiSubWindow {
  Q_OBJECT
public:
  // The size of the client area a new viewer opens with, before a screen is loaded.
  static constexpr int kInitialWidth = 256;
  static constexpr int kInitialHeight = 192;

  explicit ScreenViewerWindow(QWidget* parent = nullptr);
  ~ScreenViewerWindow() override;

  // Loads the screen file at `path` and shows it. False when it cannot be loaded; the frame then
  // closes the window. The frame calls this once per window.
  virtual bool loadScreen(const QString& path);
  // Saves the shown screen as an image at `factor` (1 to 4), asking the user where. True when an
  // image was saved; the frame does not use the result.
  virtual bool saveBitmap(int factor);

  // The path given to loadScreen, empty before.
  const QString& screenPath() const { return path_; }

private:
  QString path_;
};

} // namespace zelvo
