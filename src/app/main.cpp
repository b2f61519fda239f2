// zelvo-tool: the desktop program. The entry prepares the application, initialises the image
// library, creates the frame and runs its loop; the frame goes before the library is shut down.
//
// The program takes no command line for its work. A few hidden options exist for automation only
// (screenshots and start-up tests), since there is no portable way to drive the windows from
// outside:
//   --settings-file PATH   read and write this settings file instead of the program's own
//   --open-screen PATH     open a screen file as File > Open Screen would (may repeat)
//   --open-build-dialog    open the "Create Hi-Res ROM" dialog once the frame shows
//   --press-ok             with --open-build-dialog: press OK in it once it shows
//   --quit-after MS        end the program as File > Exit does, MS milliseconds after start
#include "app/build_dialog_qt.h"
#include "app/main_window_qt.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QTimer>

#include <csignal>

namespace {

struct Automation {
  QString settingsFile;
  QStringList screens;
  bool openBuildDialog = false;
  bool pressOk = false;
  int quitAfterMs = -1;
};

Automation parseAutomation(const QStringList& arguments) {
  QCommandLineParser parser;
  const QCommandLineOption settings("settings-file", "", "path");
  const QCommandLineOption screen("open-screen", "", "path");
  const QCommandLineOption buildDialog("open-build-dialog");
  const QCommandLineOption pressOk("press-ok");
  const QCommandLineOption quitAfter("quit-after", "", "ms");
  parser.addOptions({settings, screen, buildDialog, pressOk, quitAfter});
  parser.parse(arguments); // anything else is ignored
  Automation a;
  a.settingsFile = parser.value(settings);
  a.screens = parser.values(screen);
  a.openBuildDialog = parser.isSet(buildDialog);
  a.pressOk = parser.isSet(pressOk);
  bool ok = false;
  const int ms = parser.value(quitAfter).toInt(&ok);
  if (ok && ms >= 0) a.quitAfterMs = ms;
  return a;
}

void scheduleAutomation(zelvo::MainWindow& frame, const Automation& a) {
  if (a.quitAfterMs >= 0) QTimer::singleShot(a.quitAfterMs, [] { QCoreApplication::exit(0); });
  QTimer::singleShot(0, &frame, [&frame, a] {
    for (const QString& path : a.screens) frame.openScreen(path);
    if (!a.openBuildDialog) return;
    if (a.pressOk) {
      QTimer::singleShot(300, [] {
        if (auto* dialog = qobject_cast<zelvo::BuildDialog*>(QApplication::activeModalWidget()))
          dialog->pressOk();
      });
    }
    frame.runCommand(zelvo::kCmdCreateHiResRom);
  });
}

} // namespace

int main(int argc, char** argv) {
  // A file-size limit makes writes fail (the save reports it and keeps the old file) instead of
  // ending the program.
  std::signal(SIGXFSZ, SIG_IGN);
  QApplication app(argc, argv);
  QApplication::setApplicationName("Zelvo Tool");
  const Automation automation = parseAutomation(QApplication::arguments());

  {
    zelvo::MainWindow::Options options;
    options.settingsPath = automation.settingsFile.toStdString();
    zelvo::MainWindow frame(std::move(options));
    scheduleAutomation(frame, automation);
    frame.runMessageLoop();
  } // the frame writes the settings as it goes
  return 0;
}
