// A stand-in for the file and folder dialogs: records what it was asked and answers as told.
#pragma once

#include "app/file_dialogs_qt.h"

#include <QString>

namespace zelvo::test {

class FakeChooser final : public FileChooser {
public:
  QString fileAnswer;   // empty: the user cancels
  QString folderAnswer; // empty: the user cancels
  int fileCalls = 0;
  int folderCalls = 0;
  const FileDialogSpec* lastSpec = nullptr;
  QString lastStart;
  QString lastPreselect;

  QString chooseFile(QWidget*, const FileDialogSpec& spec, const QString& start) override {
    ++fileCalls;
    lastSpec = &spec;
    lastStart = start;
    return fileAnswer;
  }
  QString chooseFolder(QWidget*, const QString& preselect) override {
    ++folderCalls;
    lastPreselect = preselect;
    return folderAnswer;
  }
};

} // namespace zelvo::test
