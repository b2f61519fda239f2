// The one rule for every file a command writes (a pack, a report, an image and its alpha image):
// it is never one of the files the command reads, never a device, FIFO, socket or folder, and an
// existing file is replaced only as the command's ReplacePolicy allows. Whatever can be seen
// before the work is checked here, at once; the policy holds again when the file takes its place
// (AtomicSave).
#pragma once

#include "platform/atomic_save.h"
#include "platform/error.h"

#include <string>
#include <vector>

namespace zelvo {

// A file a command reads, and how a person knows it ("the original ROM").
struct ReadFile {
  std::string path;
  std::string what;
};

struct OutputRule {
  // How messages name the file written: "output", "report", "image", "alpha image".
  std::string role = "output";
  // The extensions the format takes (with their '.', any case); empty: any name.
  std::vector<std::string> extensions;
  // The files the command reads: none is ever written, however its path is spelled (symbolic
  // links followed, hard links recognised). A path that does not exist yet is compared by its
  // folder and name (another output of the same command, say).
  std::vector<ReadFile> inputs;
  // A folder of which the command reads every file with one of these extensions (any case),
  // present or not: none of them, nor a link to one, is written.
  std::string inputFolder;
  std::vector<std::string> inputExtensions;
  std::string inputFolderWhat = "a file the command reads";
  // What an existing file may be; the same policy goes to the save.
  ReplacePolicy replace = ReplacePolicy::nothing();
  // Said after a refusal of an existing file ("use --force to replace it"); empty: nothing.
  std::string replaceHint;
};

// The name alone, as typed: not empty, not longer than the system takes, not a folder's name
// (ending in a separator), and ending in one of the format's extensions. A failure here is the
// caller's mistake in the arguments.
Status checkOutputName(const std::string& path, const OutputRule& rule);

// The whole rule, the name first: the folder exists and can be written; the file is none of the
// inputs; an existing file is a regular file that can be written and that the policy allows to
// replace. Each refusal is "<role> <what is wrong>: <path>".
Status checkOutput(const std::string& path, const OutputRule& rule);

// "<role> <detail><hint>: <path>" for an Error that a save of the output gave (ErrorCause::Exists
// gets the rule's hint), else the error's own message.
std::string outputFailure(const Error& error, const OutputRule& rule);

} // namespace zelvo
