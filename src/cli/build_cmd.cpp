// `zelvo build`: one build run with its log on stdout (on stderr with --json, whose report then
// is all that stdout carries).
#include "cli/build_checks.h"
#include "cli/build_watch.h"
#include "cli/commands.h"
#include "pipeline/build_driver.h"
#include "pipeline/pack_format.h"
#include "platform/atomic_save.h"
#include "platform/fs.h"
#include "platform/process_info.h"
#include "platform/text.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <utility>

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
  ConsoleLog(std::FILE* out, std::FILE* err, bool showProgress, bool quiet, bool escapes, OutputRule output)
      : out_(out), err_(err), showProgress_(showProgress), quiet_(quiet), escapes_(escapes),
        output_(std::move(output)) {}
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
    // Names in the lines are shown with their control characters escaped.
    const std::string line = printable(text) + "\n";
    if ((std::fputs(line.c_str(), out_) == EOF || std::fflush(out_) != 0) && outputError_ == 0)
      outputError_ = errno != 0 ? errno : EIO;
  }
  // The reason of a failure or a stop goes to stderr, beside the log line on stdout.
  void FailureReason(const Error& why) override {
    eraseProgress();
    sayError(err_, "build", outputFailure(why, output_));
  }
  // The errno value of the first log line that could not be written, else 0.
  int outputError() const { return outputError_; }
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
  OutputRule output_;
  int outputError_ = 0;
  bool summaryOnly_ = false;
  bool shown_ = false;
  int lastWidth_ = 0;
  ProgressStage lastStage_ = ProgressStage::GeneratingTiles;
  int lastPercent_ = -1;
};

} // namespace

CLI::App* addBuildCommand(CLI::App& app, BuildOptions& options) {
  CLI::App* command = app.add_subcommand("build", "Build a hi-res pack from an input folder");
  command->add_option("INPUT_FOLDER", options.inputFolder, "Folder with the tiles file, screens and images")
      ->required();
  command->add_option("-r,--rom", options.romPath, "Original ROM (plain, zip, gzip or bzip2)")->required();
  command->add_option("-o,--output", options.outputPath, "Pack file to write (.zrm)")->required();
  command->add_option("-s,--scale", options.scale, "Hi-res scale, 1 to 4")->check(CLI::Range(1, 4));
  command->add_flag("--force", options.force,
                    "Replace an existing output that is not a pack, or an existing report");
  command
      ->add_option("--threads", options.threads,
                   "Threads for compression (default: one per core; at most one per core)")
      ->check(CLI::Range(1, 1024));
  command
      ->add_option("--encoder", options.encoder,
                   "Who compresses the hi-res tiles: fast (an encoder of our own, several times quicker, "
                   "every block read back by libbz2), or libbz2 (the same pack but for the bytes of that "
                   "bzip2 stream)")
      ->check(CLI::IsMember({"fast", "libbz2"}))
      ->capture_default_str();
  command->add_flag("--no-cache", options.noCache,
                    "Build without the build cache ($XDG_CACHE_HOME/zelvo, else ~/.cache/zelvo): nothing is "
                    "taken from it or kept there (the pack is the same either way)");
  auto* watch = command->add_flag(
      "--watch", options.watch,
      "Stay running: build again whenever the tiles file, a screen, an image or the ROM changes (each "
      "build printing its summary; a failed one keeps the last good pack) until Ctrl+C");
  command
      ->add_option("--report", options.reportPath,
                   "Also save the build report as JSON: the tiles file, every screen with its image, "
                   "status, reason and replaced tiles, conflicts, counts and the pack's digests")
      ->check(
          [](const std::string& path) { return path.empty() ? std::string("report has no file name") : ""; });
  command->add_flag("--json", options.json,
                    "Print only the build report as JSON on stdout, at the end; the log lines go to stderr");
  command->add_flag("--quiet", options.quiet, "Log only warnings and error lines");
  command->add_flag(
      "--strict", options.strict,
      "Fail the build when it logged any warning (before the pack is begun: the old pack stays)");
  watch->excludes(command->get_option("--json"));
  return command;
}

namespace {

// The arguments checked before the build: 0 when it may go on, else the exit status (the reason
// on `err`).
int checkArguments(const BuildOptions& options, const OutputRule& outputRule, const OutputRule& reportRule,
                   std::FILE* err) {
  if (options.scale < 1 || options.scale > 4) {
    std::fputs("zelvo: --scale must be 1 to 4\n", err);
    return 2;
  }
  // A name that cannot be written is a mistake in the arguments.
  Status named = checkOutputName(options.outputPath, outputRule);
  if (named && !options.reportPath.empty()) named = checkOutputName(options.reportPath, reportRule);
  if (!named) {
    sayError(err, "build", named.error().message());
    return kExitUsage;
  }
  if (Status ready = checkBuildPaths(options.inputFolder, options.romPath, options.outputPath,
                                     options.reportPath, options.force);
      !ready) {
    sayError(err, "build", ready.error().message());
    return kExitFailure;
  }
  return 0;
}

BuildJob makeJob(const BuildOptions& options, unsigned threads, const OutputRule& outputRule) {
  BuildJob job;
  job.inputFolder = options.inputFolder;
  job.scale = std::uint8_t(options.scale);
  job.threads = threads;
  job.replace = outputRule.replace;
  job.strict = options.strict;
  job.encoder = options.encoder == "fast" ? BZip2Encoder::Fast : BZip2Encoder::Library;
  job.useCache = !options.noCache;
  // Relative paths the user typed are taken from the shell's folder (the run would resolve them in
  // the input folder, as the dialog's users expect).
  job.romPath = absolutePath(options.romPath);
  job.outputPath = absolutePath(options.outputPath);
  return job;
}

// The report is kept also when the build failed: it says how far it came. A failed build
// replaces no pack with it, even with --force. False (the reason on `err`) when it was not saved.
bool saveReport(const std::string& text, const BuildOptions& options, bool built,
                const OutputRule& reportRule, std::FILE* err) {
  const std::string magic(kPackMagic, sizeof kPackMagic);
  const ReplacePolicy replace =
      built || !options.force ? reportRule.replace : ReplacePolicy::allButStartingWith(magic, "a pack");
  const Status saved =
      saveFileAtomically(absolutePath(options.reportPath), text.data(), text.size(), replace);
  if (!saved) sayError(err, "build", "the report was not saved: " + outputFailure(saved.error(), reportRule));
  return bool(saved);
}

} // namespace

int runBuild(const BuildOptions& options, std::FILE* out, std::FILE* err) {
  const OutputRule outputRule =
      buildOutputRule(options.inputFolder, options.romPath, options.reportPath, false, options.force);
  const OutputRule reportRule =
      buildOutputRule(options.inputFolder, options.romPath, options.outputPath, true, options.force);
  if (int refused = checkArguments(options, outputRule, reportRule, err)) return refused;
  const unsigned threads = boundedThreads(options.threads, err);
  // With --json the log goes beside the reasons on stderr, so stdout holds one JSON document.
  std::FILE* logStream = options.json ? err : out;
  ConsoleLog log(logStream, err, isTerminal(logStream), options.quiet,
                 escapesAllowed(logStream) && escapesAllowed(err), outputRule);
  BuildReport report;
  BuildJob job = makeJob(options, threads, outputRule);
  job.log = &log;
  job.report = &report;
  InterruptGuard interrupt;
  // One build, its report saved or printed.
  auto build = [&] {
    const bool built = RunBuild(job);
    int status = built ? kExitSuccess : gInterrupted.load() ? kExitInterrupted : kExitFailure;
    const std::string text = buildReportJson(report) + "\n";
    if (!options.reportPath.empty() && !saveReport(text, options, built, reportRule, err) &&
        status == kExitSuccess)
      status = kExitFailure;
    if (options.json) {
      if (!writeOutput(out, text, err, "build") && status == kExitSuccess) status = kExitFailure;
    } else {
      status = checkOutputWritten(out, err, "build", status, log.outputError());
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
  inputs.outputs = {job.outputPath,
                    options.reportPath.empty() ? std::string() : absolutePath(options.reportPath)};
  return watchAndRebuild(
      inputs, build, [] { return gInterrupted.load(); }, options.quiet, logStream, err);
}

} // namespace zelvo::cli
