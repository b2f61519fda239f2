// The open, save and folder dialogs of the frame and the build dialog, behind one small interface
// so that the tests can answer them.
#pragma once

#include <QString>
#include <QStringList>

#include <vector>

class QFileDialog;
class QWidget;

namespace zelvo {

// One line of a file dialog's type list: the text shown and its patterns ("*.sms;*.zip").
struct FileFilter {
  QString description;
  QString patterns;
};

struct FileDialogSetup {
  enum class Mode { Open, Save };
  Mode mode = Mode::Open;
  std::vector<FileFilter> filters; // the first one is selected
  QString defaultSuffix;           // appended to a typed name without extension
};

// File > Open Screen...
const FileDialogSetup& openScreenDialogSetup();
// The build dialog's original ROM and output file buttons.
const FileDialogSetup& originalRomDialogSetup();
const FileDialogSetup& outputFileDialogSetup();
// View > Preview With Pack...
const FileDialogSetup& openPackDialogSetup();

// The name filter handed to the dialog: the description as shown, then the patterns it matches
// ("*.*" stands for every file, with or without an extension).
QString qtNameFilter(const FileFilter& filter);
QStringList qtNameFilters(const FileDialogSetup& setup);
// Sets up a dialog as `setup` says, starting from the path `start` (may be empty).
void configureFileDialog(QFileDialog& dialog, const FileDialogSetup& setup, const QString& start);

class FileChooser {
public:
  virtual ~FileChooser() = default;
  // The path the user confirmed, or an empty text when the dialog was cancelled.
  virtual QString chooseFile(QWidget* owner, const FileDialogSetup& setup, const QString& start) = 0;
  // As chooseFile; `filterIndex` receives the 1-based index of the type selected when the user
  // confirmed. By default the first type.
  virtual QString chooseFileAndType(QWidget* owner, const FileDialogSetup& setup, const QString& start,
                                    int& filterIndex) {
    filterIndex = 1;
    return chooseFile(owner, setup, start);
  }
  // The folder picked, or an empty text; `preselect` (may be empty) is shown selected.
  virtual QString chooseFolder(QWidget* owner, const QString& preselect) = 0;
};

// The platform's dialogs.
FileChooser& systemFileChooser();

// Lets the user pick a folder, starting at `text` when it names an existing folder. When one is
// picked, `text` becomes its path without one trailing separator ("C:\" gives "C:"; the root
// "/" stays whole) and the result is true.
bool browseForFolder(QWidget* owner, FileChooser& chooser, QString& text);

} // namespace zelvo
