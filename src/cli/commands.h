// The subcommands of the `zelvo` program. Each returns the process exit status:
// 0 success, 1 failure (a message was printed on stderr), 2 bad usage, 130 interrupted.
#pragma once

#include <cstdio>
#include <string>

namespace CLI {
class App;
}

namespace zelvo::cli {

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitInterrupted = 130; // as a shell reports a program that SIGINT ended

// Whether `name` is one of the subcommands.
bool isCommandName(const std::string& name);
// The subcommand nearest to a mistyped `name` (at most two letters added, removed, changed or
// swapped), or empty when none is that near.
std::string nearestCommand(const std::string& name);
// Whether terminal escape codes may be written to `stream`: it is a terminal, NO_COLOR is not
// set and TERM is not "dumb".
bool escapesAllowed(std::FILE* stream);

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
  unsigned threads = 0;         // 0: one per core
  std::string encoder = "fast"; // "fast" or "libbz2": who compresses the hi-res tiles
  bool strict = false;          // any warning fails the build
  std::string reportPath;       // the report saved as JSON, when given
  bool json = false;            // stdout carries only the report as JSON; the log goes to stderr
  bool quiet = false;           // only warnings and error lines are logged
  bool force = false;           // replace an existing output that is not a pack
  bool noCache = false;         // neither take from the build cache nor keep anything there
  bool watch = false;           // build again whenever an input changes, until Ctrl+C
};
// Adds --report, --json, --quiet and --strict to the build command.
void addBuildReportOptions(CLI::App& command, BuildOptions& options);
int runBuild(const BuildOptions& options, std::FILE* out, std::FILE* err);

struct ExportOptions {
  std::string screenPath;
  std::string outputPath;
  int factor = 1;
  std::string format; // "png" or "bmp": a folder's exports; empty: PNG, or the output's extension
  bool display = false;
  bool force = false; // replace existing images
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
