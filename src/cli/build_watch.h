// `zelvo build --watch`: after the first build, the build's inputs are watched and the build runs
// again whenever they change.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace zelvo::cli {

struct WatchedInputs {
  std::string inputFolder;          // absolute: its tiles files, screens and images
  std::string romPath;              // absolute
  std::vector<std::string> outputs; // absolute: what the builds write, never taken for a change
};

// Waits for a change to the inputs (a tiles file, screen file, PNG or BMP image of the input
// folder, or the ROM), lets them settle for about 300 ms without another change, then calls
// `rebuild` (which prints its own lines and gives the build's exit status) and prints how long it
// took, or that the last good pack stays; and so on until `interrupted` says so (Ctrl+C, checked
// at least every quarter of a second), which ends the watch with kExitInterrupted. A watch that
// cannot be set up ends with kExitFailure and its reason on `err`. `quiet`: no lines of its own
// but errors.
int watchAndRebuild(const WatchedInputs& inputs, const std::function<int()>& rebuild,
                    const std::function<bool()>& interrupted, bool quiet, std::FILE* out, std::FILE* err);

} // namespace zelvo::cli
