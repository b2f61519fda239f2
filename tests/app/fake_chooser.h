// A stand-in for the file and folder dialogs: records what it was asked and answers as told.
#pragma once

#include "app/file_dialogs_qt.h"

#include <QString>

namespace zelvo::test {

class FakeChooser final : public FileChooser {
public:
  QString fileAnswer;   // empty: the user cancels
  QString folderAnswer; // empty: the user cancels
  int filterAnswer = 1; // the type chosen, 1-based
  int fileCalls = 0;
  int folderCalls = 0;
  const FileDialogSetup* lastSetup = nullptr;
  QString lastStart;
  QString lastPreselect;

  QString chooseFile(QWidget*, const FileDialogSetup& setup, const QString& start) override {
    ++fileCalls;
    lastSetup = &setup;
    lastStart = start;
    return fileAnswer;
  }
  QString chooseFileAndType(QWidget* owner, const FileDialogSetup& setup, const QString& start,
                            int& filterIndex) override {
    filterIndex = filterAnswer;
    return chooseFile(owner, setup, start);
  }
  QString chooseFolder(QWidget*, const QString& preselect) override {
    ++folderCalls;
    lastPreselect = preselect;
    return folderAnswer;
  }
};

} // namespace zelvo::test
