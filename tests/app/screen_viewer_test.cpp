// The screen viewer inside the frame: real screen files with their tiles file, opened from the
// frame, painted, and saved through Save Bitmap.
#include "app/main_window_qt.h"
#include "app/screen_viewer_qt.h"
#include "fake_chooser.h"
#include "platform/fs.h"
#include "render/image_read.h"
#include "support/example_pack.h"
#include "support/fixtures.h"
#include "support/temp_dir.h"
#include "tiles/tile_store.h"
#include "viewer/coverage_map.h"
#include "viewer/pack_preview.h"

#include <QAction>
#include <QApplication>
#include <QImage>
#include <QMdiArea>
#include <QMessageBox>
#include <QPixmap>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>
#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace zelvo {
namespace {

using test::FakeChooser;
using test::TempDir;

// A pattern of one colour index everywhere.
PatternEntry solidPattern(int index) {
  PatternEntry p{};
  for (int row = 0; row < 8; ++row)
    for (int plane = 0; plane < 4; ++plane) p.planes[row * 4 + plane] = (index >> plane & 1) ? 0xFF : 0x00;
  return p;
}

// Colour code 0x3F (white) at index 1, black elsewhere.
PaletteEntry whiteAtOne() {
  PaletteEntry p{};
  p.colours[1] = 0x3F;
  return p;
}

// A folder holding a tiles file with one background tile (solid index 1) and one sprite tile
// (index 0 in its left half, 1 in its right half), and screens written into it.
struct ScreenFolder {
  TempDir dir;
  test::TilesContent tiles;
  std::uint32_t palette = 0, solid = 0, halves = 0;

  ScreenFolder() {
    palette = tiles.addPalette(whiteAtOne());
    solid = tiles.addPattern(solidPattern(1));
    PatternEntry half{};
    for (int row = 0; row < 8; ++row) half.planes[row * 4] = 0x0F; // right four pixels: index 1
    halves = tiles.addPattern(half);
    tiles.addEntry(0, palette, solid);
    tiles.addEntry(kSpriteGroup, palette, halves);
    EXPECT_TRUE(test::writeTilesFixture(dir.file("game.mstiles"), tiles));
  }
  std::string write(const std::string& name, const test::ScreenContent& screen) const {
    const std::string path = dir.file(name);
    EXPECT_TRUE(test::writeScreenFixture(path, screen));
    return path;
  }
};

struct Frame {
  TempDir settings;
  FakeChooser chooser;
  std::unique_ptr<MainWindow> window;

  MainWindow& open() {
    MainWindow::Options options;
    options.settingsPath = settings.file("ZelvoTool.ini");
    options.chooser = &chooser;
    window = std::make_unique<MainWindow>(std::move(options));
    window->applyPlacement();
    return *window;
  }
};

constexpr QRgb kBlack = 0xFF000000u;
constexpr QRgb kWhite = 0xFFFFFFFFu;
constexpr QRgb kOlive = 0xFF808000u;

TEST(ScreenViewer, ClientAreaTakesThePictureSizeAndShowsTheVisiblePartOfTheGrid) {
  ScreenFolder folder;
  test::ScreenContent screen;
  screen.width = 248;
  screen.height = 192;
  screen.setCell(0, 1, folder.tiles, folder.palette, folder.solid); // leftmost visible column
  screen.setCell(1, 0, folder.tiles, folder.palette, folder.solid); // cut away
  const std::string path = folder.write("narrow.msscreen", screen);

  Frame f;
  MainWindow& frame = f.open();
  ScreenViewerWindow* viewer = frame.openScreen(QString::fromStdString(path));
  ASSERT_NE(viewer, nullptr);
  QApplication::processEvents();
  EXPECT_EQ(viewer->windowTitle(), "narrow.msscreen");
  EXPECT_EQ(viewer->widget()->size(), QSize(248, 192));
  const QImage& picture = viewer->picture();
  ASSERT_EQ(picture.size(), QSize(248, 192));
  EXPECT_EQ(picture.pixel(0, 0), kWhite);
  EXPECT_EQ(picture.pixel(7, 7), kWhite);
  EXPECT_EQ(picture.pixel(8, 0), kBlack);
  EXPECT_EQ(picture.pixel(0, 8), kBlack) << "row 1's visible cell is empty";

  // Resizing stretches the picture in both directions independently.
  viewer->resize(viewer->size() + QSize(248, 0));
  QApplication::processEvents();
  ASSERT_EQ(viewer->widget()->size(), QSize(496, 192));
  const QImage shown = viewer->widget()->grab().toImage();
  EXPECT_EQ(shown.pixel(15, 7), kWhite);
  EXPECT_EQ(shown.pixel(16, 0), kBlack);
}

TEST(ScreenViewer, SpriteScreensShowOliveBeneathTheSpritesAndEmptyScreensTheWindowColour) {
  ScreenFolder folder;
  test::ScreenContent sprites;
  sprites.addSprite(16, 31, folder.tiles, folder.palette, folder.halves); // top row on line 32
  test::ScreenContent empty;
  Frame f;
  MainWindow& frame = f.open();

  ScreenViewerWindow* viewer = frame.openScreen(QString::fromStdString(folder.write("s.msscreen", sprites)));
  ASSERT_NE(viewer, nullptr);
  QApplication::processEvents();
  EXPECT_EQ(viewer->widget()->size(), QSize(256, 224));
  const QImage& picture = viewer->picture();
  ASSERT_EQ(picture.size(), QSize(256, 224));
  EXPECT_EQ(picture.pixel(0, 0), kOlive);
  EXPECT_EQ(picture.pixel(16, 32), kOlive) << "colour index 0 shows what lies beneath";
  EXPECT_EQ(picture.pixel(20, 32), kWhite);
  EXPECT_EQ(picture.pixel(20, 31), kOlive);

  ScreenViewerWindow* blank = frame.openScreen(QString::fromStdString(folder.write("e.msscreen", empty)));
  ASSERT_NE(blank, nullptr) << "a screen with nothing to show still loads";
  QApplication::processEvents();
  EXPECT_TRUE(blank->picture().isNull());
  const QImage shown = blank->widget()->grab().toImage();
  EXPECT_EQ(shown.pixelColor(5, 5), blank->widget()->palette().color(QPalette::Window));
}

TEST(ScreenViewer, ScreensThatDoNotLoadLeaveNoWindowButAreRemembered) {
  ScreenFolder folder;
  const std::string broken = folder.dir.file("broken.msscreen");
  ASSERT_TRUE(test::writeBytes(broken, {'M', 'S', 'S', 1, 2, 3}));
  TempDir lonely; // a good screen without a tiles file beside it
  test::ScreenContent screen;
  screen.setCell(0, 0, folder.tiles, folder.palette, folder.solid);
  const std::string noTiles = lonely.file("alone.msscreen");
  ASSERT_TRUE(test::writeScreenFixture(noTiles, screen));

  Frame f;
  MainWindow& frame = f.open();
  for (const std::string& path : {broken, noTiles, folder.dir.file("missing.msscreen")}) {
    f.chooser.fileAnswer = QString::fromStdString(path);
    frame.runCommand(kCmdOpenScreen);
    EXPECT_TRUE(frame.mdiArea()->subWindowList().isEmpty()) << path;
    EXPECT_EQ(frame.state().lastFile, path);
  }
}

// What the header of the image saved at `path` says it is.
std::string imageKind(const std::string& path) {
  Result<ImageInfo> info = readImageHeader(path);
  return info ? info->kind + ", " + std::to_string(info->width) + " x " + std::to_string(info->height)
              : info.error().message();
}

TEST(ScreenViewer, SaveBitmapProposesTheScreenNameAndWritesTheChosenType) {
  ScreenFolder folder;
  test::ScreenContent screen;
  screen.width = 248;
  screen.height = 192;
  screen.setCell(0, 1, folder.tiles, folder.palette, folder.solid);
  const std::string path = folder.write("shot.msscreen", screen);

  Frame f;
  MainWindow& frame = f.open();
  ASSERT_NE(frame.openScreen(QString::fromStdString(path)), nullptr);
  QApplication::processEvents();

  // Cancelled: nothing written.
  frame.runCommand(kCmdSaveBitmap2x);
  EXPECT_EQ(f.chooser.lastStart.toStdString(), folder.dir.file("shot"));
  EXPECT_FALSE(isRegularFile(folder.dir.file("shot.png")));

  // The BMP type chosen for a name ending in .png: the type's extension is added.
  f.chooser.fileAnswer = QString::fromStdString(folder.dir.file("shot.png"));
  f.chooser.filterAnswer = 2;
  frame.runCommand(kCmdSaveBitmap2x);
  EXPECT_EQ(imageKind(folder.dir.file("shot.png.bmp")), "BMP, 40-byte header, 24 bits, 496 x 384");
  EXPECT_EQ(imageKind(folder.dir.file("shot.png_alpha.bmp")), "BMP, 40-byte header, 8 bits, 496 x 384");
  EXPECT_FALSE(isRegularFile(folder.dir.file("shot.png")));

  // The PNG type: a 32-bit image with its alpha inside, at the factor asked.
  f.chooser.fileAnswer = QString::fromStdString(folder.dir.file("shot"));
  f.chooser.filterAnswer = 1;
  frame.runCommand(kCmdSaveBitmap4x);
  EXPECT_EQ(imageKind(folder.dir.file("shot.png")), "PNG, 8-bit RGBA, 992 x 768");
  EXPECT_FALSE(isRegularFile(folder.dir.file("shot_alpha.bmp")));
}

// The example's title screen with a pack built from it: the preview in the same window at the
// pack's scale, zoomed by whole factors, a pack that cannot be read refused with its reason, and
// the check mark taking it back to the original.
TEST(ScreenViewer, PreviewWithPackShowsTheScreenAsThePackDrawsItAndTogglesBack) {
  TempDir dir;
  const std::string pack = test::buildExamplePack(dir, 2, true);
  ASSERT_FALSE(pack.empty());
  std::string bytes = test::readFileBytes(pack);
  bytes[bytes.size() - 30] = char(bytes[bytes.size() - 30] ^ 0x40);
  const std::string damaged = dir.file("damaged.zrm");
  ASSERT_TRUE(test::writeFileBytes(damaged, bytes.data(), bytes.size()));
  const std::string title = joinPath(test::kExampleFolder, "title.msscreen");

  Frame f;
  MainWindow& frame = f.open();
  frame.state().lastPack = "/packs/last.zrm";
  ScreenViewerWindow* viewer = frame.openScreen(QString::fromStdString(title));
  ASSERT_NE(viewer, nullptr);
  QApplication::processEvents();
  QAction* preview = frame.commandAction(kCmdPreviewWithPack);
  ASSERT_NE(preview, nullptr);
  EXPECT_TRUE(preview->isCheckable());
  EXPECT_FALSE(preview->isChecked());

  // Cancelled: nothing changes.
  frame.runCommand(kCmdPreviewWithPack);
  EXPECT_EQ(f.chooser.lastStart, "/packs/last.zrm");
  EXPECT_EQ(viewer->previewPack(), "");

  f.chooser.fileAnswer = QString::fromStdString(pack);
  frame.runCommand(kCmdPreviewWithPack);
  EXPECT_EQ(viewer->previewPack().toStdString(), pack);
  EXPECT_EQ(frame.state().lastPack, pack);
  EXPECT_TRUE(preview->isChecked());
  EXPECT_EQ(viewer->windowTitle(), "title.msscreen with example2.zrm");
  ScreenFile screen;
  ASSERT_TRUE(readScreenFile(screen, title));
  Result<PackTiles> tiles = readPackTiles(pack);
  ASSERT_TRUE(tiles);
  Result<Preview> expected = renderPreview(screen, *tiles);
  ASSERT_TRUE(expected);
  const QImage& shown = viewer->shownPicture();
  ASSERT_EQ(shown.size(), QSize(512, 384));
  int differing = 0;
  for (int y = 0; y < 384; ++y) {
    const std::uint8_t* row = expected->image.row(std::uint32_t(y));
    for (int x = 0; x < 512; ++x)
      differing += shown.pixel(x, y) != qRgb(row[4 * x], row[4 * x + 1], row[4 * x + 2]);
  }
  EXPECT_EQ(differing, 0) << "the preview's colours, shown opaque";
  QApplication::processEvents();
  EXPECT_EQ(viewer->widget()->size(), QSize(512, 384)) << "zoomed to the pack's scale";
  EXPECT_TRUE(frame.commandAction(kCmdZoom2x)->isChecked());

  // Zoom: the client area takes whole multiples of the screen's size.
  for (const int factor : {3, 1}) {
    frame.runCommand(kCmdZoom1x + factor - 1);
    QApplication::processEvents();
    EXPECT_EQ(viewer->widget()->size(), QSize(256, 192) * factor);
    for (int z = 1; z <= 4; ++z) EXPECT_EQ(frame.commandAction(kCmdZoom1x + z - 1)->isChecked(), z == factor);
  }
  frame.runCommand(kCmdZoom2x);
  QApplication::processEvents();
  const QImage painted = viewer->widget()->grab().toImage();
  EXPECT_EQ(painted.pixel(100, 30), shown.pixel(100, 30))
      << "at 2x the preview's pixels are painted one to one";

  // The check mark takes the window back to its original.
  frame.runCommand(kCmdPreviewWithPack);
  EXPECT_EQ(viewer->previewPack(), "");
  EXPECT_FALSE(preview->isChecked());
  EXPECT_EQ(viewer->windowTitle(), "title.msscreen");
  EXPECT_EQ(viewer->shownPicture(), viewer->picture());

  // A damaged pack: a message with the reason, the original still shown, the pack remembered.
  f.chooser.fileAnswer = QString::fromStdString(damaged);
  frame.runCommand(kCmdPreviewWithPack);
  EXPECT_EQ(f.chooser.lastStart.toStdString(), pack);
  EXPECT_EQ(viewer->previewPack(), "");
  EXPECT_FALSE(preview->isChecked());
  EXPECT_EQ(frame.state().lastPack, damaged);
  auto* box = frame.findChild<QMessageBox*>("previewError");
  ASSERT_NE(box, nullptr);
  EXPECT_TRUE(box->text().contains("damaged.zrm")) << box->text().toStdString();
  box->close();
}

// View > Coverage: the open screen tinted as its folder's coverage counts it, at 4x for the
// original (the example is painted at 2x: nothing counts as painted then) and counted again at the
// pack's scale for a preview; the check mark takes the tint away.
TEST(ScreenViewer, CoverageTintsTheScreenAsItsFolderCountsItAndTogglesBack) {
  TempDir dir;
  const std::string pack = test::buildExamplePack(dir, 2, true);
  ASSERT_FALSE(pack.empty());
  Frame f;
  MainWindow& frame = f.open();
  ScreenViewerWindow* viewer =
      frame.openScreen(QString::fromStdString(joinPath(test::kExampleFolder, "title.msscreen")));
  ASSERT_NE(viewer, nullptr);
  QSignalSpy counted(viewer, &ScreenViewerWindow::coverageCounted);
  // Each square's corner, on its edge, in its kind's colour; `scale` the shown picture's.
  auto expectTinted = [&](int countedAt, int scale) {
    ASSERT_NE(viewer->coverage(), nullptr);
    const QImage& shown = viewer->shownPicture();
    int wrong = 0;
    for (const CoverageSquare& square : viewer->coverage()->squares) {
      const Colour c = squareTint(square.kind);
      wrong += shown.pixel(square.left * scale / countedAt, square.top * scale / countedAt) !=
               qRgb(c.red, c.green, c.blue);
    }
    EXPECT_EQ(wrong, 0);
  };

  frame.runCommand(kCmdCoverage);
  EXPECT_TRUE(frame.commandAction(kCmdCoverage)->isChecked());
  ASSERT_TRUE(counted.wait(120000));
  EXPECT_EQ(counted.takeFirst()[0].toString(), "");
  EXPECT_EQ(viewer->coverage()->unpainted, viewer->coverage()->squares.size());
  expectTinted(4, 1);
  EXPECT_TRUE(frame.statusBar()->currentMessage().contains("0 of 41 tile entries painted"))
      << frame.statusBar()->currentMessage().toStdString();

  f.chooser.fileAnswer = QString::fromStdString(pack);
  frame.runCommand(kCmdPreviewWithPack);
  ASSERT_TRUE(counted.wait(120000));
  EXPECT_EQ(counted.takeFirst()[0].toString(), "");
  Result<Coverage> expected = countFolderCoverage(test::kExampleFolder, 2);
  ASSERT_TRUE(expected);
  EXPECT_EQ(viewer->coverage()->paintedHere, expected->screens[2].paintedHere);
  EXPECT_GT(viewer->coverage()->paintedHere, 0u);
  expectTinted(2, 2);
  const QImage tinted = viewer->shownPicture();

  frame.runCommand(kCmdCoverage);
  EXPECT_FALSE(frame.commandAction(kCmdCoverage)->isChecked());
  EXPECT_FALSE(viewer->coverageShown());
  EXPECT_NE(viewer->shownPicture(), tinted);
  EXPECT_EQ(viewer->shownPicture().size(), tinted.size());
}

// A preview follows its pack: when a build puts a new pack in its place (a new file renamed over
// it), the window draws the screen again from the new pack.
TEST(ScreenViewer, APreviewIsDrawnAgainWhenItsPackChangesOnDisk) {
  TempDir dir;
  const std::string painted = test::buildExamplePack(dir, 2, true),
                    bare = test::buildExamplePack(dir, 2, false);
  ASSERT_FALSE(painted.empty());
  ASSERT_FALSE(bare.empty());
  const std::string pack = dir.file("shown.zrm"), next = dir.file("next.zrm");
  const std::string paintedBytes = test::readFileBytes(painted), bareBytes = test::readFileBytes(bare);
  ASSERT_TRUE(test::writeFileBytes(pack, paintedBytes.data(), paintedBytes.size()));

  Frame f;
  MainWindow& frame = f.open();
  ScreenViewerWindow* viewer =
      frame.openScreen(QString::fromStdString(joinPath(test::kExampleFolder, "title.msscreen")));
  ASSERT_NE(viewer, nullptr);
  const Status shown = viewer->showPreview(QString::fromStdString(pack));
  ASSERT_TRUE(shown) << shown.error().message();
  const QImage before = viewer->shownPicture();

  ASSERT_TRUE(test::writeFileBytes(next, bareBytes.data(), bareBytes.size()));
  ASSERT_EQ(std::rename(next.c_str(), pack.c_str()), 0);
  EXPECT_TRUE(QTest::qWaitFor([&] { return viewer->shownPicture() != before; }, 10000));
  EXPECT_EQ(viewer->previewPack().toStdString(), pack);
  const QImage after = viewer->shownPicture();

  // Back to the original: the pack is no longer followed.
  viewer->showOriginal();
  ASSERT_TRUE(test::writeFileBytes(next, paintedBytes.data(), paintedBytes.size()));
  ASSERT_EQ(std::rename(next.c_str(), pack.c_str()), 0);
  QTest::qWait(1000);
  EXPECT_EQ(viewer->shownPicture(), viewer->picture());
  EXPECT_FALSE(after == before);
}

} // namespace
} // namespace zelvo
