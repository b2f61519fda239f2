// The subcommands of the `zelvo` program. Each is declared once, by its add...Command: the
// subcommand with its arguments and options, filling its options struct (the help, the man page and
// the bash completion are taken from these declarations). Its run... returns the process exit
// status: 0 success, 1 failure (a message was printed on stderr), 2 bad usage, 130 interrupted.
#pragma once

#include "platform/output_rule.h"

#include <cstdio>
#include <string>

namespace CLI {
class App;
}
namespace zelvo {
class ScreenFile;
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

// Gives standard input, output and error that were closed when the program started a descriptor
// that refuses every write, so that no file the program opens takes their place and a write to
// them fails as it should.
void occupyClosedStandardStreams();
// "zelvo COMMAND: TEXT" on `err`, with the control characters of names escaped.
void sayError(std::FILE* err, const std::string& command, const std::string& text);
// Writes `text` on `out` and makes sure it left the program: false, with the reason on `err`,
// when the stream refused it (a full disk, a closed stdout).
bool writeOutput(std::FILE* out, const std::string& text, std::FILE* err, const std::string& command);
// The exit status once everything was written on `out`: `status`, or a failure (with the reason
// on `err`) when an earlier write to `out` was refused; `reason` is the errno value of that write
// when the caller kept it.
int checkOutputWritten(std::FILE* out, std::FILE* err, const std::string& command, int status,
                       int reason = 0);
// Checks a file a command will write before anything is read: 0; or, with the reason on `err`, the
// usage status for a name the rule refuses, the failure status for a place it refuses.
int checkOutputOrSay(const std::string& path, const OutputRule& rule, const std::string& command,
                     std::FILE* err);
// Loads the screen file at `path` with the tiles file beside it; false (the reason on `err`)
// when it cannot.
bool loadScreenOrSay(ScreenFile& screen, const std::string& path, std::FILE* err, const std::string& command);
// The most threads worth asking for: one per core. A larger `requested` is lowered to it, with a
// note on `err`; 0 stays 0 (one per core).
unsigned boundedThreads(unsigned requested, std::FILE* err);

struct CoverageOptions {
  std::string folder;
  int scale = 4;
  unsigned threads = 0;
  bool json = false;
  std::string mapsFolder; // a map of every screen is written there as NAME-coverage.png, when given
  bool force = false;     // replace existing maps
};
CLI::App* addCoverageCommand(CLI::App& app, CoverageOptions& options);
int runCoverage(const CoverageOptions& options, std::FILE* out, std::FILE* err);

struct InspectOptions {
  std::string path;
  bool json = false;
};
CLI::App* addInspectCommand(CLI::App& app, InspectOptions& options);
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
  bool force = false;           // replace an existing output that is not a pack, or report
  bool noCache = false;         // neither take from the build cache nor keep anything there
  bool watch = false;           // build again whenever an input changes, until Ctrl+C
};
CLI::App* addBuildCommand(CLI::App& app, BuildOptions& options);
int runBuild(const BuildOptions& options, std::FILE* out, std::FILE* err);

struct ExportOptions {
  std::string screenPath;
  std::string outputPath;
  int factor = 1;
  std::string format; // "png" or "bmp": a folder's exports; empty: PNG, or the output's extension
  bool display = false;
  bool force = false; // replace existing images
};
CLI::App* addExportCommand(CLI::App& app, ExportOptions& options);
int runExport(const ExportOptions& options, std::FILE* out, std::FILE* err);

struct PreviewOptions {
  std::string screenPath;
  std::string packPath;
  std::string outputPath;
  bool compare = false;
  bool json = false;
  bool force = false; // replace an existing image
};
CLI::App* addPreviewCommand(CLI::App& app, PreviewOptions& options);
int runPreview(const PreviewOptions& options, std::FILE* out, std::FILE* err);

struct SheetOptions {
  std::string packPath; // with toPaint, a capture folder
  std::string outputPath;
  int group = -1; // -1: every group
  int columns = 16;
  int pageHeight = 4096; // the tallest a page may be; further pages are NAME-2.png, NAME-3.png, ...
  bool json = false;
  bool force = false;     // replace an existing image
  bool toPaint = false;   // a sheet to paint, from a capture folder, with its map
  int scale = 4;          // with toPaint: the build's scale
  bool unpainted = false; // with toPaint: only the tiles no image paints
  std::string screen;     // with toPaint: only the tiles this screen shows
};
CLI::App* addSheetCommand(CLI::App& app, SheetOptions& options);
int runSheet(const SheetOptions& options, std::FILE* out, std::FILE* err);
int runPaintSheet(const SheetOptions& options, std::FILE* out, std::FILE* err);

} // namespace zelvo::cli
