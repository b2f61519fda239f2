// The child window that shows one screen file inside the frame.
#pragma once

#include "pipeline/coverage.h"
#include "platform/error.h"

#include <QDateTime>
#include <QImage>
#include <QMdiSubWindow>
#include <QString>

#include <atomic>
#include <memory>
#include <optional>

class QThread;

class QFileSystemWatcher;
class QTimer;

namespace zelvo {

class FileChooser;
struct FileDialogSetup;
class ScreenFile;

// The save dialog of Save Bitmap: "PNG (*.png)" first, then "Windows Bitmap (*.bmp)"; no
// extension of its own (the chosen type's is added afterwards).
const FileDialogSetup& saveBitmapDialogSetup();

class ScreenViewerWindow : public QMdiSubWindow {
  Q_OBJECT
public:
  // The size of the client area a new viewer opens with, before a screen is loaded.
  static constexpr int kInitialWidth = 256;
  static constexpr int kInitialHeight = 192;

  explicit ScreenViewerWindow(QWidget* parent = nullptr);
  ~ScreenViewerWindow() override;

  // Loads the screen file at `path` with the tiles file beside it, renders it once at 1x and
  // shows it stretched over the client area, which takes the picture's size unless the window is
  // minimised or maximised. Fails, with the reader's reason, when the file cannot be loaded; the
  // frame then closes the window. A screen that loads but gives no picture shows the window
  // colour. Called once.
  virtual Status loadScreen(const QString& path);
  // Saves the shown screen as an image at `factor` (1 to 4), asking the user where and in which
  // type. Cancelled when the user chose no file (or no screen is shown).
  virtual Status saveBitmap(int factor);

  // Shows the screen as the pack at `packPath` draws it, at the pack's scale, in the same window,
  // zoomed to at least the pack's scale; the title names the pack. Fails, with the reason, when
  // the pack cannot be read or the screen cannot be drawn with it; what was shown stays. While the
  // preview is shown the pack is watched: when it changes on disk (a build replaced it), the
  // preview is drawn again from it once it has stayed as it is for a moment (a pack that cannot be
  // read then leaves the preview as it was).
  Status showPreview(const QString& packPath);
  // Shows the original picture again, under the screen's own title.
  void showOriginal();
  // The pack whose preview is shown; empty while the original is.
  const QString& previewPack() const { return pack_; }

  // View > Coverage: tints the shown picture (the original, or the preview) by what each cell or
  // sprite tile shows, painted here, painted elsewhere or unpainted (viewer/coverage_map.h), as the
  // coverage of the screen's folder counts it: at the preview's scale, or at 4x while the original
  // is shown. The count runs on a thread of its own, again whenever the coverage is shown anew or
  // the picture changes; the tint appears once it is done, and coverageCounted says so.
  void showCoverage();
  // The picture without the tint; a count still running is dropped.
  void hideCoverage();
  // Whether the coverage is asked for (the tint may not be there yet).
  bool coverageShown() const { return coverageWanted_; }
  // The counts the tint shows, null while none is.
  const ScreenCoverage* coverage() const { return coverage_ ? &*coverage_ : nullptr; }

  // Makes the client area `zoom` (1 to 4) times the screen's size, so its pixels stay square;
  // a minimised or maximised window keeps its size.
  void setZoom(int zoom);
  int zoom() const { return zoom_; }

  // The image the last successful saveBitmap wrote.
  const QString& savedPath() const { return saved_; }

  // The path given to loadScreen, empty before.
  const QString& screenPath() const { return path_; }
  // The screen's picture at 1x, null when there is none.
  const QImage& picture() const { return picture_; }
  // What is painted: the picture, or the preview while one is shown; tinted while the coverage is.
  const QImage& shownPicture() const {
    if (coverageWanted_ && !tinted_.isNull()) return tinted_;
    return pack_.isEmpty() ? picture_ : preview_;
  }
  // The dialogs used by saveBitmap; null: the frame's, else the platform's.
  void setFileChooser(FileChooser* chooser) { chooser_ = chooser; }

signals:
  // A count of the coverage ended: `error` says why it failed, or is empty when the tint is shown.
  // `summary` is the coverage in words ("29 of 41 tile entries painted (70 %)").
  void coverageCounted(const QString& error, const QString& summary);

protected:
  QString saved_;

private:
  FileChooser& fileChooser() const;
  void fitClientArea();
  // The scale the coverage is counted at for what is shown.
  int coverageScale() const { return pack_.isEmpty() ? 4 : previewScale_; }
  // Starts a count at coverageScale() unless one is running (it then starts again when that ends).
  void startCount();
  // On the window's thread, once the counter ended.
  void countEnded();
  // Stops a running count and waits for it.
  void stopCount();
  // The tinted picture made again from what is shown and the coverage counted for it.
  void tint();
  // Watches the previewed pack, and the folder it is in (a build renames a new file over it).
  void watchPack();
  // The pack's file as last drawn: its time and size.
  struct PackStamp {
    QDateTime modified;
    qint64 size = -1;
    bool operator==(const PackStamp&) const = default;
  };
  PackStamp packStamp() const;
  void redrawIfPackChanged();

  QString path_;
  std::unique_ptr<ScreenFile> screen_;
  QImage picture_;
  QImage preview_;
  QString pack_;
  int previewScale_ = 0;
  PackStamp drawnStamp_;
  QFileSystemWatcher* packWatch_ = nullptr;
  QTimer* packSettle_ = nullptr; // restarted by every change; the redraw follows when it runs out
  int zoom_ = 1;
  // The coverage: asked for, counted on `counter_` at `countScale_` (the worker's result in
  // `counted_`), and what the tint shows (`coverage_` of the screen, at `coverageScale_`).
  bool coverageWanted_ = false;
  std::unique_ptr<QThread> counter_;
  int counts_ = 0; // counts started: an end that is not the last one's is not taken
  std::atomic<bool> stopCounting_{false};
  std::optional<Coverage> counted_;
  QString countError_;
  int countScale_ = 0;
  std::optional<ScreenCoverage> coverage_;
  int coverageScale_ = 0;
  QImage tinted_;
  FileChooser* chooser_ = nullptr;
};

} // namespace zelvo
