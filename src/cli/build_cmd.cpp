// `zelvo build`: one build run with its log on stdout (on stderr with --json, whose report then
// is all that stdout carries).
#include "cli/build_checks.h"
#include "cli/build_watch.h"
#include "cli/commands.h"
#include "pipeline/build_driver.h"
#include "platform/atomic_save.h"
#include "platform/fs.h"
#include "platform/process_info.h"
#include "render/freeimage_ptr.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdint>
#include <cstdio>

namespace zelvo::cli {

namespace {

std::atomic<bool> gInterrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "read and written by a signal handler");

extern "C" void onInterrupt(int) { gInterrupted.store(true); }

// While it lives, the first Ctrl+C asks the build to stop (it ends at its next check, leaving
// nothing behind); a second one ends the program at once, as it always would. A program started
// with SIGINT ignored keeps ignoring it.
class InterruptGuard {
public:
  InterruptGuard() {
    gInterrupted.store(false);
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND;
    if (sigaction(SIGINT, nullptr, &saved_) != 0 || saved_.sa_handler == SIG_IGN) return;
    installed_ = sigaction(SIGINT, &action, nullptr) == 0;
    // Started with SIGINT blocked, the program could not be stopped: a pending Ctrl+C arrives now.
    sigset_t interrupt;
    sigemptyset(&interrupt);
    sigaddset(&interrupt, SIGINT);
    if (installed_) sigprocmask(SIG_UNBLOCK, &interrupt, nullptr);
  }
  ~InterruptGuard() {
    if (installed_) sigaction(SIGINT, &saved_, nullptr);
  }
  InterruptGuard(const InterruptGuard&) = delete;
  InterruptGuard& operator=(const InterruptGuard&) = delete;

private:
  struct sigaction saved_ {};
  bool installed_ = false;
};

const char* stageName(ProgressStage stage) {
  switch (stage) {
  case ProgressStage::GeneratingTiles:
    return "tiles generated";
  case ProgressStage::ReplacingTiles:
    return "screens processed";
  case ProgressStage::CompressingRom:
    return "ROM bytes compressed";
  case ProgressStage::CompressingHiRes:
    return "hi-res bytes compressed";
  }
  return "";
}

// Prints every log line as soon as it is appended; while a person watches (stdout is a
// terminal) a progress line on `err` shows how far the long stages are. Without escape codes
// (NO_COLOR, TERM=dumb) the line is cleared with spaces.
class ConsoleLog : public BuildLog {
public:
  ConsoleLog(std::FILE* out, std::FILE* err, bool showProgress, bool quiet, bool escapes)
      : out_(out), err_(err), showProgress_(showProgress), quiet_(quiet), escapes_(escapes) {}
  ~ConsoleLog() override { eraseProgress(); }

  void ClearLog() override {}
  // Only the lines that sum a build up: warnings, errors, the summaries and the last line.
  void summaryOnly(bool on) { summaryOnly_ = on; }
  void AppendLogLine(const std::string& text) override {
    const LogLineKind kind = logLineKind(text);
    if (quiet_ && kind != LogLineKind::Warning && kind != LogLineKind::Error) return;
    if (summaryOnly_ && kind != LogLineKind::Warning && kind != LogLineKind::Error &&
        text != kBuildSuccessLine && text.rfind("Screens: ", 0) != 0 && text.rfind("Build cache: ", 0) != 0)
      return;
    eraseProgress();
    std::fputs(text.c_str(), out_);
    std::fputc('\n', out_);
    std::fflush(out_);
  }
  // The reason of a failure or a stop goes to stderr, beside the log line on stdout.
  void FailureReason(const Error& why) override {
    eraseProgress();
    std::fprintf(err_, "zelvo build: %s\n", why.message().c_str());
    std::fflush(err_);
  }
  bool shouldContinue() override { return !gInterrupted.load(std::memory_order_relaxed); }
  void progress(ProgressStage stage, std::uint64_t done, std::uint64_t total) override {
    if (!showProgress_ || total == 0) return;
    const int percent = int(done >= total ? 100 : done * 100 / total);
    if (shown_ && stage == lastStage_ && percent == lastPercent_) return;
    shown_ = true;
    lastStage_ = stage;
    lastPercent_ = percent;
    const int width = std::fprintf(err_, "\r  %3d%%  %llu of %llu %s", percent, (unsigned long long)done,
                                   (unsigned long long)total, stageName(stage));
    clearRest(width);
    std::fflush(err_);
  }

private:
  void eraseProgress() {
    if (!shown_) return;
    std::fputc('\r', err_);
    clearRest(0);
    if (!escapes_) std::fputc('\r', err_);
    std::fflush(err_);
    shown_ = false;
  }
  // Clears what an earlier, longer progress line left after column `width`.
  void clearRest(int width) {
    if (escapes_) {
      std::fputs("\033[K", err_);
    } else {
      for (int i = width; i < lastWidth_; ++i) std::fputc(' ', err_);
    }
    lastWidth_ = std::max(width, 0);
  }

  std::FILE* out_;
  std::FILE* err_;
  bool showProgress_;
  bool quiet_;
  bool escapes_;
  bool summaryOnly_ = false;
  bool shown_ = false;
  int lastWidth_ = 0;
  ProgressStage lastStage_ = ProgressStage::GeneratingTiles;
  int lastPercent_ = -1;
};

} // namespace

void addBuildReportOptions(CLI::App& command, BuildOptions& options) {
  command.add_option("--report", options.reportPath,
                     "Also save the build report as JSON: the tiles file, every screen with its image, "
                     "status, reason and replaced tiles, conflicts, counts and the pack's digests");
  command.add_flag("--json", options.json,
                   "Print only the build report as JSON on stdout, at the end; the log lines go to stderr");
  command.add_flag("--quiet", options.quiet, "Log only warnings and error lines");
  command.add_flag(
      "--strict", options.strict,
      "Fail the build when it logged any warning (before the pack is begun: the old pack stays)");
}

int runBuild(const BuildOptions& options, std::FILE* out, std::FILE* err) {
  if (options.scale < 1 || options.scale > 4) {
    std::fputs("zelvo: --scale must be 1 to 4\n", err);
    return 2;
  }
  if (Status ready = checkBuildPaths(options.inputFolder, options.romPath, options.outputPath, options.force);
      !ready) {
    std::fprintf(err, "zelvo build: %s\n", ready.error().message().c_str());
    return kExitFailure;
  }
  FreeImageSession freeImage;
  // With --json the log goes beside the reasons on stderr, so stdout holds one JSON document.
  std::FILE* logStream = options.json ? err : out;
  ConsoleLog log(logStream, err, isTerminal(logStream), options.quiet,
                 escapesAllowed(logStream) && escapesAllowed(err));
  BuildReport report;
  BuildJob job;
  job.log = &log;
  job.report = &report;
  job.inputFolder = options.inputFolder;
  job.scale = std::uint8_t(options.scale);
  job.threads = options.threads;
  job.strict = options.strict;
  job.encoder = options.encoder == "fast" ? BZip2Encoder::Fast : BZip2Encoder::Library;
  job.useCache = !options.noCache;
  // The run makes the input folder current: paths the user typed are taken from the shell's
  // current directory before that happens.
  job.romPath = absolutePath(options.romPath);
  job.outputPath = absolutePath(options.outputPath);
  const std::string reportPath =
      options.reportPath.empty() ? std::string() : absolutePath(options.reportPath);
  InterruptGuard interrupt;
  // One build, its report saved (also when the build failed: it says how far it came) or printed.
  auto build = [&] {
    const bool built = RunBuild(job);
    int status = built ? kExitSuccess : gInterrupted.load() ? kExitInterrupted : kExitFailure;
    if (!reportPath.empty()) {
      const std::string text = buildReportJson(report) + "\n";
      const Status saved = saveFileAtomically(reportPath, text.data(), text.size());
      if (!saved) {
        std::fprintf(err, "zelvo build: the report was not saved: %s\n", saved.error().message().c_str());
        if (status == kExitSuccess) status = kExitFailure;
      }
    }
    if (options.json) {
      std::fputs((buildReportJson(report) + "\n").c_str(), out);
      std::fflush(out);
    }
    return status;
  };
  const int status = build();
  if (!options.watch || status == kExitInterrupted) return status;
  // Every later build prints only what sums it up.
  log.summaryOnly(true);
  WatchedInputs inputs;
  inputs.inputFolder = absolutePath(options.inputFolder);
  while (inputs.inputFolder.size() > 1 && isSeparator(inputs.inputFolder.back()))
    inputs.inputFolder.pop_back();
  inputs.romPath = job.romPath;
  inputs.outputs = {job.outputPath, reportPath};
  return watchAndRebuild(
      inputs, build, [] { return gInterrupted.load(); }, options.quiet, logStream, err);
}

} // namespace zelvo::cli
