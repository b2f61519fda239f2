// One "Create Hi-Res ROM" build, from its parameters to the finished pack.
#pragma once

#include "compress/bzip2_parallel.h"
#include "pipeline/build_cache.h"
#include "pipeline/build_report.h"
#include "pipeline/hires_tiles.h"
#include "platform/atomic_save.h"
#include "platform/error.h"
#include "platform/progress.h"

#include <cstdint>
#include <memory>
#include <string>

namespace zelvo {

// What a build needs of its host (the dialog's log list, or the command line's stdout).
class BuildLog : public ProgressSink {
public:
  // Removes every line.
  virtual void ClearLog() = 0;
  // Adds a line at the end and makes it visible.
  virtual void AppendLogLine(const std::string& text) = 0;
  // Why the step whose error line (or "Cancelled") was just logged failed, for hosts that can
  // show it; the log line itself stays as it is. Hosts that cannot show it ignore it.
  virtual void FailureReason(const Error&) {}
  void progress(ProgressStage, std::uint64_t, std::uint64_t) override {}
};

// The hi-res store as the screens and sheets left it: each tile painted by an image where one
// paints it, else as generated.
struct ReplacedStore {
  std::unique_ptr<HiResTileTable> table;
  std::unique_ptr<TileSet> tiles; // the sorted set the table was generated from, lookups prepared
  PaintLedger ledger;             // which stored tiles an image painted
};

struct BuildJob {
  BuildLog* log = nullptr;
  std::string inputFolder; // at most 1023 characters
  std::uint8_t scale = 4;  // TileScale, 1 to 4
  std::string romPath;     // at most 1023 characters
  std::string outputPath;  // at most 1023 characters
  unsigned threads = 0;    // for the heavy stages: 0 one per core, 1 all on the calling thread
  // Who compresses the hi-res tiles: the faster encoder of our own, whose every block libbz2 reads
  // back before it goes into the pack, or libbz2 itself (the same pack but for the bytes of that
  // one bzip2 stream).
  BZip2Encoder encoder = BZip2Encoder::Fast;
  // The build cache (build_cache.h): what earlier builds made from the same input is taken from it,
  // what this one makes is kept there; the pack is the same with or without it. `cacheFolder`
  // empty: the user's cache folder ($XDG_CACHE_HOME/zelvo, else ~/.cache/zelvo).
  bool useCache = true;
  std::string cacheFolder;
  std::uint64_t cacheLimit = BuildCache::kDefaultLimit;
  // Any warning ends the build as a failure once the screens are done, before the pack is begun.
  bool strict = false;
  // Only what the screens paint: the run ends once they are applied, with the coverage in the
  // report, and writes nothing (no "Success!" line).
  bool screensOnly = false;
  // With screensOnly: receives the store once the screens and sheets are applied, when given.
  ReplacedStore* store = nullptr;
  // What the pack may replace at the output when it takes its place at the end.
  ReplacePolicy replace = ReplacePolicy::anyFile();
  // Filled by the run with what it found (see build_report.h), when given.
  BuildReport* report = nullptr;
};

// True when the pack was written ("Success!" is the last line), false otherwise (the last line
// says why).
bool RunBuild(const BuildJob& job);

} // namespace zelvo
