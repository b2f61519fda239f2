#include "cli/build_watch.h"

#include "cli/commands.h"
#include "platform/folder_watch.h"
#include "platform/path.h"

#include <algorithm>
#include <chrono>

namespace zelvo::cli {

namespace {

constexpr int kSettleMs = 300; // quiet time after a change before the build starts
constexpr int kPollMs = 250;   // longest wait between two looks at `interrupted`

bool isInput(const WatchedInputs& inputs, const std::string& path) {
  if (std::find(inputs.outputs.begin(), inputs.outputs.end(), path) != inputs.outputs.end()) return false;
  if (path == inputs.romPath) return true;
  if (folderOf(path) != inputs.inputFolder) return false;
  const std::string extension = toLowerAscii(extensionOf(path));
  return extension == ".mstiles" || extension == ".msscreen" || extension == ".png" || extension == ".bmp";
}

} // namespace

int watchAndRebuild(const WatchedInputs& inputs, const std::function<int()>& rebuild,
                    const std::function<bool()>& interrupted, bool quiet, std::FILE* out, std::FILE* err) {
  Result<FolderWatch> watch = FolderWatch::open();
  Status added = watch ? watch->add(inputs.inputFolder) : Status(watch.error());
  if (added && folderOf(inputs.romPath) != inputs.inputFolder) added = watch->add(folderOf(inputs.romPath));
  if (!added) {
    std::fprintf(err, "zelvo build: --watch: %s\n", added.error().message().c_str());
    return kExitFailure;
  }
  auto say = [&](const std::string& line) {
    if (quiet) return;
    std::fprintf(out, "%s\n", line.c_str());
    std::fflush(out);
  };
  say("Watching " + inputs.inputFolder + " for changes (Ctrl+C ends the watch)");
  for (;;) {
    // The first change, then until the inputs stay as they are for a while.
    std::vector<std::string> changed;
    for (int quietFor = 0; changed.empty() || quietFor < kSettleMs;) {
      if (interrupted()) return kExitInterrupted;
      Result<std::vector<std::string>> seen = watch->wait(kPollMs);
      if (!seen) {
        std::fprintf(err, "zelvo build: --watch: %s\n", seen.error().message().c_str());
        return kExitFailure;
      }
      bool relevant = false;
      for (const std::string& path : *seen) {
        if (!isInput(inputs, path)) continue;
        relevant = true;
        if (std::find(changed.begin(), changed.end(), path) == changed.end()) changed.push_back(path);
      }
      quietFor = relevant ? 0 : quietFor + kPollMs;
    }
    std::string line = "Changed: " + fileNameOf(changed.front());
    if (changed.size() > 1) line += " and " + std::to_string(changed.size() - 1) + " more";
    say(line);
    const auto start = std::chrono::steady_clock::now();
    const int status = rebuild();
    if (status == kExitInterrupted) return status;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    char took[64];
    std::snprintf(took, sizeof took, "%.2f s", seconds);
    say(status == kExitSuccess ? std::string("Rebuilt in ") + took
                               : std::string("Rebuild failed after ") + took + "; the last good pack stays");
  }
}

} // namespace zelvo::cli
