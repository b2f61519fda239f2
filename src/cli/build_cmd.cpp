// `zelvo build`: one build run with its log on stdout.
#include "cli/commands.h"
#include "pipeline/build_driver.h"
#include "platform/fs.h"
#include "platform/process_info.h"
#include "render/freeimage_ptr.h"

#include <cstdint>
#include <cstdio>

namespace zelvo::cli {

namespace {

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
// terminal) a progress line on `err` shows how far the long stages are.
class ConsoleLog : public BuildLog {
public:
  ConsoleLog(std::FILE* out, std::FILE* err, bool showProgress)
      : out_(out), err_(err), showProgress_(showProgress) {}
  ~ConsoleLog() override { eraseProgress(); }

  void ClearLog() override {}
  void AppendLogLine(const std::string& text) override {
    eraseProgress();
    std::fputs(text.c_str(), out_);
    std::fputc('\n', out_);
    std::fflush(out_);
  }
  void PumpMessages() override {}
  void progress(ProgressStage stage, std::uint64_t done, std::uint64_t total) override {
    if (!showProgress_ || total == 0) return;
    const int percent = int(done >= total ? 100 : done * 100 / total);
    if (shown_ && stage == lastStage_ && percent == lastPercent_) return;
    shown_ = true;
    lastStage_ = stage;
    lastPercent_ = percent;
    std::fprintf(err_, "\r  %3d%%  %llu of %llu %s\033[K", percent, (unsigned long long)done,
                 (unsigned long long)total, stageName(stage));
    std::fflush(err_);
  }

private:
  void eraseProgress() {
    if (!shown_) return;
    std::fputs("\r\033[K", err_);
    std::fflush(err_);
    shown_ = false;
  }

  std::FILE* out_;
  std::FILE* err_;
  bool showProgress_;
  bool shown_ = false;
  ProgressStage lastStage_ = ProgressStage::GeneratingTiles;
  int lastPercent_ = -1;
};

} // namespace

int runBuild(const BuildOptions& options, std::FILE* out, std::FILE* err) {
  if (options.scale < 1 || options.scale > 4) {
    std::fputs("zelvo: --scale must be 1 to 4\n", err);
    return 2;
  }
  FreeImageSession freeImage;
  ConsoleLog log(out, err, isTerminal(out));
  BuildJob job;
  job.log = &log;
  job.inputFolder = options.inputFolder;
  job.scale = std::uint8_t(options.scale);
  job.threads = options.threads;
  // The run makes the input folder current: paths the user typed are taken from the shell's
  // current directory before that happens.
  job.romPath = absolutePath(options.romPath);
  job.outputPath = absolutePath(options.outputPath);
  return RunBuild(job) ? 0 : 1;
}

} // namespace zelvo::cli
