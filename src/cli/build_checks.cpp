#include "cli/build_checks.h"

#include "pipeline/pack_format.h"
#include "platform/file.h"
#include "platform/fs.h"
#include "platform/path.h"

#include <sys/stat.h>

namespace zelvo::cli {

namespace {

Status refuse(ErrorCause cause, const std::string& text) { return makeError(cause, {}, text); }

// How every saved report begins (buildReportJson with an indent of 2).
constexpr char kReportStart[] = "{\n  \"success\": ";

} // namespace

OutputRule buildOutputRule(const std::string& inputFolder, const std::string& romPath,
                           const std::string& otherOutput, bool forReport, bool force) {
  OutputRule rule;
  rule.role = forReport ? "report" : "output";
  rule.inputs.push_back({romPath, "the original ROM"});
  if (!otherOutput.empty())
    rule.inputs.push_back({otherOutput, forReport ? "the build's output" : "the report"});
  rule.inputFolder = inputFolder;
  rule.inputExtensions = {".mstiles", ".msscreen", ".png", ".bmp"};
  rule.inputFolderWhat = "a file the build reads";
  const std::string magic(kPackMagic, sizeof kPackMagic);
  // Without --force a build replaces what an earlier build wrote there: a pack, or a report (the
  // report's JSON always starts so), so the same command can be run again.
  rule.replace = force       ? ReplacePolicy::anyFile()
                 : forReport ? ReplacePolicy::onlyStartingWith(kReportStart, "a build report")
                             : ReplacePolicy::onlyStartingWith(magic, "a pack");
  rule.replaceHint = "use --force to replace it";
  return rule;
}

Status checkBuildPaths(const std::string& inputFolder, const std::string& romPath,
                       const std::string& outputPath, const std::string& reportPath, bool force) {
  if (!isDirectory(inputFolder))
    return refuse(ErrorCause::NotFound, pathKind(inputFolder) == PathKind::Missing
                                            ? "input folder not found: " + inputFolder
                                            : "input folder is not a folder: " + inputFolder);

  struct stat st {};
  if (::stat(romPath.c_str(), &st) != 0) return refuse(ErrorCause::NotFound, "ROM not found: " + romPath);
  if (S_ISDIR(st.st_mode)) return refuse(ErrorCause::InvalidArgument, "ROM is a folder: " + romPath);
  if (!S_ISREG(st.st_mode))
    return refuse(ErrorCause::Unsupported, std::string("ROM is ") + fileTypeName(st.st_mode & S_IFMT) +
                                               ", not a regular file: " + romPath);
  if (Result<File> rom = File::openRead(romPath, "ROM cannot be read"); !rom) return rom.error();

  if (Status output =
          checkOutput(outputPath, buildOutputRule(inputFolder, romPath, reportPath, false, force));
      !output)
    return output;
  if (reportPath.empty()) return {};
  return checkOutput(reportPath, buildOutputRule(inputFolder, romPath, outputPath, true, force));
}

} // namespace zelvo::cli
