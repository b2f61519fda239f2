#include "app/file_dialogs_qt.h"

#include "platform/fs.h"

#include <QDir>
#include <QFileDialog>

namespace zelvo {

const FileDialogSetup& openScreenDialogSetup() {
  static const FileDialogSetup setup{
      FileDialogSetup::Mode::Open,
      {{"Master System Screen Files (*.msscreen)", "*.msscreen"}, {"All Files (*.*)", "*.*"}},
      "msscreen"};
  return setup;
}

const FileDialogSetup& originalRomDialogSetup() {
  static const FileDialogSetup setup{
      FileDialogSetup::Mode::Open,
      {{"Master system ROMs (*.sms, *.zip, *.gz, *.bz2)", "*.sms;*.zip;*.gz;*.bz2"},
       {"All Files (*.*)", "*.*"}},
      "sms"};
  return setup;
}

const FileDialogSetup& outputFileDialogSetup() {
  // The extension proposed for a typed name is the one the type list shows.
  static const FileDialogSetup setup{FileDialogSetup::Mode::Save,
                                     {{"High-resolution ROMs (*.zrm)", "*.zrm"}, {"All files (*.*)", "*.*"}},
                                     "zrm"};
  return setup;
}

const FileDialogSetup& openPackDialogSetup() {
  static const FileDialogSetup setup{FileDialogSetup::Mode::Open,
                                     {{"High-resolution ROMs (*.zrm)", "*.zrm"}, {"All files (*.*)", "*.*"}},
                                     "zrm"};
  return setup;
}

QString qtNameFilter(const FileFilter& filter) {
  QStringList patterns;
  for (const QString& p : filter.patterns.split(';', Qt::SkipEmptyParts)) {
    QString t = p.trimmed();
    patterns << (t == "*.*" ? QStringLiteral("*") : t);
  }
  // The dialog reads the patterns from the last parentheses and, with its details hidden, shows
  // everything before them: so the description appears exactly as written.
  return filter.description + " (" + patterns.join(' ') + ")";
}

QStringList qtNameFilters(const FileDialogSetup& setup) {
  QStringList out;
  for (const FileFilter& f : setup.filters) out << qtNameFilter(f);
  return out;
}

void configureFileDialog(QFileDialog& dialog, const FileDialogSetup& setup, const QString& start) {
  const bool save = setup.mode == FileDialogSetup::Mode::Save;
  dialog.setWindowTitle(QString());
  dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  dialog.setOption(QFileDialog::HideNameFilterDetails, true);
  dialog.setOption(QFileDialog::DontConfirmOverwrite, !save); // a save asks before overwriting
  const QStringList filters = qtNameFilters(setup);
  dialog.setNameFilters(filters);
  if (!filters.isEmpty()) dialog.selectNameFilter(filters.first());
  dialog.setDefaultSuffix(setup.defaultSuffix);
  if (!start.isEmpty()) dialog.selectFile(start);
}

namespace {

class SystemFileChooser final : public FileChooser {
public:
  QString chooseFile(QWidget* owner, const FileDialogSetup& setup, const QString& start) override {
    QFileDialog dialog(owner);
    configureFileDialog(dialog, setup, start);
    if (dialog.exec() != QDialog::Accepted) return {};
    const QStringList files = dialog.selectedFiles();
    return files.isEmpty() ? QString() : QDir::toNativeSeparators(files.first());
  }

  QString chooseFileAndType(QWidget* owner, const FileDialogSetup& setup, const QString& start,
                            int& filterIndex) override {
    QFileDialog dialog(owner);
    configureFileDialog(dialog, setup, start);
    if (dialog.exec() != QDialog::Accepted) return {};
    const QStringList files = dialog.selectedFiles();
    const qsizetype index = qtNameFilters(setup).indexOf(dialog.selectedNameFilter());
    filterIndex = index < 0 ? 1 : int(index) + 1;
    return files.isEmpty() ? QString() : QDir::toNativeSeparators(files.first());
  }

  QString chooseFolder(QWidget* owner, const QString& preselect) override {
    return QDir::toNativeSeparators(QFileDialog::getExistingDirectory(owner, QString(), preselect));
  }
};

} // namespace

FileChooser& systemFileChooser() {
  static SystemFileChooser chooser;
  return chooser;
}

bool browseForFolder(QWidget* owner, FileChooser& chooser, QString& text) {
  const QString preselect = isDirectory(text.toStdString()) ? text : QString();
  QString picked = chooser.chooseFolder(owner, preselect);
  if (picked.isEmpty()) return false;
  if (picked.size() > 1 && (picked.endsWith('\\') || picked.endsWith('/'))) picked.chop(1);
  text = picked;
  return true;
}

} // namespace zelvo
