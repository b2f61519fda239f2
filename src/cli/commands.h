// The subcommands of the `zelvo` program. Each returns the process exit status:
// 0 success, 1 failure (a message was printed on stderr), 2 bad usage.
#pragma once

#include <cstdio>
#include <string>

namespace CLI {
class App;
}

namespace zelvo::cli {

struct InspectOptions {
  std::string path;
  bool json = false;
};
int runInspect(const InspectOptions& options, std::FILE* out, std::FILE* err);

struct BuildOptions {
  std::string inputFolder;
  std::string romPath;
  std::string outputPath;
  int scale = 4;
  unsigned threads = 0; // 0: one per core
  std::string reportPath; // the report saved as JSON, when given
  bool json = false;      // stdout carries only the report as JSON; the log goes to stderr
  bool quiet = false;     // only warnings and error lines are logged
};
// Adds --report, --json and --quiet to the build command.
void addBuildReportOptions(CLI::App& command, BuildOptions& options);
int runBuild(const BuildOptions& options, std::FILE* out, std::FILE* err);

struct ExportOptions {
  std::string screenPath;
  std::string outputPath;
  int factor = 1;
  bool display = false;
};
int runExport(const ExportOptions& options, std::FILE* out, std::FILE* err);

struct PreviewOptions {
  std::string screenPath;
  std::string packPath;
  std::string outputPath;
  bool compare = false;
  bool json = false;
};
int runPreview(const PreviewOptions& options, std::FILE* out, std::FILE* err);

struct SheetOptions {
  std::string packPath;
  std::string outputPath;
  int group = -1; // -1: every group
  int columns = 16;
  bool json = false;
};
int runSheet(const SheetOptions& options, std::FILE* out, std::FILE* err);

} // namespace zelvo::cli
