// The build run: seven stages from the input folder to the finished pack, one log line each.
#include "pipeline/build_driver.h"

#include "compress/md5.h"
#include "compress/rom_loader.h"
#include "compress/streams.h"
#include "pipeline/hires_tiles.h"
#include "pipeline/pack_format.h"
#include "pipeline/screen_cache.h"
#include "pipeline/sheet_import.h"
#include "pipeline/tile_replace.h"
#include "platform/atomic_save.h"
#include "platform/file.h"
#include "platform/fs.h"
#include "platform/temp_files.h"
#include "platform/thread_pool.h"
#include "tiles/tile_store.h"
#include "tiles/tiles_file.h"

#include <cstring>
#include <deque>
#include <memory>
#include <new>
#include <optional>
#include <unordered_map>
#include <vector>

namespace zelvo {

namespace {

constexpr std::size_t kRomPiece = 16384;
constexpr const char* kCannotOpen = "Error: can't open output file for write";
constexpr const char* kCannotWrite = "Error: can't write output file";
constexpr std::size_t kConflictLines = 20; // conflict warnings in the log; the report keeps them all

// `path` as it is when absolute, else inside `folder`.
std::string resolveIn(const std::string& folder, const std::string& path) {
  const bool absolute = !path.empty() && (isSeparator(path[0]) || (path.size() > 1 && path[1] == ':'));
  return absolute || path.empty() ? path : joinPath(folder, path);
}

// What the build took from its cache and what it made again.
std::string cacheLine(const BuildCache& cache) {
  const BuildCache::Counts screens = cache.counts(BuildCache::Kind::Screen);
  const BuildCache::Counts runs = cache.counts(BuildCache::Kind::HiResRun);
  std::vector<std::string> parts;
  if (screens.hits + screens.misses)
    parts.push_back(std::to_string(screens.hits) + " of " + std::to_string(screens.hits + screens.misses) +
                    " screens");
  if (runs.hits + runs.misses)
    parts.push_back(std::to_string(runs.hits) + " of " + std::to_string(runs.hits + runs.misses) +
                    " hi-res blocks");
  std::string line = "Build cache: " + (parts.empty() ? std::string("nothing") : parts[0]);
  if (parts.size() > 1) line += " and " + parts[1];
  line += " reused";
  if (const std::size_t damaged = screens.damaged + runs.damaged)
    line += "; " + std::to_string(damaged) + " damaged entr" + (damaged == 1 ? "y" : "ies") + " made again";
  return line;
}

// A log that goes nowhere, for a job that brought none.
class NullLog : public BuildLog {
public:
  void ClearLog() override {}
  void AppendLogLine(const std::string&) override {}
};

class Run {
public:
  explicit Run(const BuildJob& job)
      : job_(job), log_(job.log ? *job.log : nullLog_), report_(job.report ? *job.report : ownReport_) {}

  bool execute();

private:
  // A stage line; false (after "Cancelled") when the user asked to stop meanwhile.
  bool stage(const char* line) {
    log_.AppendLogLine(line);
    return !cancelRequested(&log_) || cancelled();
  }
  bool fail(const char* line) {
    log_.AppendLogLine(line);
    return false;
  }
  // The error line (or "Cancelled" for a step that stopped at the user's request), then its
  // reason for the hosts that show one.
  bool fail(const char* line, const Error& why) {
    log_.AppendLogLine(why.cause == ErrorCause::Cancelled ? "Cancelled" : line);
    log_.FailureReason(why);
    return false;
  }
  bool cancelled() { return fail("Cancelled", cancelledError()); }
  // The pack being written, and where its writing stands (false once the failure is logged).
  File& output() { return output_->file(); }
  bool writtenSoFar(std::uint64_t& position) {
    const Result<std::uint64_t> at = output().position();
    if (!at) return failWrite(at.error());
    position = *at;
    return true;
  }
  // A writer of the pack (a compressor) failed: its reason, naming the output when it names nothing.
  bool failWrite(Error why) {
    if (why.path.empty()) why.path = output_->target();
    return fail(kCannotWrite, why);
  }

  bool findTiles();
  bool generateTiles();
  bool replaceTiles();
  bool createOutput();
  // The original ROM, checked and open at its first byte past any copier header, and its size.
  bool openRom(File& rom, std::uint32_t& romSize);
  bool writeRom();
  bool writeTiles();
  bool writeHiRes();
  // The workers of the heavy stages, started on first use; null when the job wants one thread.
  ThreadPool* pool() {
    if (!pool_ && resolveThreadCount(job_.threads) > 1) pool_ = std::make_unique<ThreadPool>(job_.threads);
    return pool_.get();
  }

  // One screen of stage 3 as it is found: its image and alpha image chosen among `names`.
  struct ScreenPlan {
    ScreenReport report;
    std::string alphaPath;
  };
  // Every name in the input folder, sorted; none, with a warning, when it cannot be read.
  std::vector<DirEntry> listInputFolder();
  ScreenPlan planScreen(const std::string& screenName, const std::vector<DirEntry>& names) const;
  // Writes a prepared screen's tiles into the store and logs its findings. False when the run
  // must end.
  // A prepared screen or sheet written into the store: Ended when the build must stop (its line
  // is logged), Skipped when nothing was written (`why` says why).
  enum class Applied { Written, Skipped, Ended };
  Applied applyPrepared(const PreparedScreen& prepared, ScreenReplaceInfo& info, Error& why);
  bool applyScreen(ScreenPlan plan, const PreparedScreen& prepared);
  // The sheets among the images no screen takes, after the screens, in the listing's order.
  bool applySheets(const std::vector<DirEntry>& screens, const std::vector<DirEntry>& names);
  bool applySheet(const SheetCandidate& candidate, const PreparedSheet& sheet);
  // Logs a few lines of the conflicts from `first` on; the report keeps them all.
  void noteConflicts(std::size_t first);
  void note(const std::string& line) {
    if (logLineKind(line) == LogLineKind::Warning) ++report_.warnings;
    log_.AppendLogLine(line);
  }

  const BuildJob& job_;
  NullLog nullLog_;
  BuildLog& log_;
  BuildReport ownReport_;
  BuildReport& report_;
  // Which screen last painted each hi-res tile, and where, for the tiles painted differently.
  PaintLedger ledger_;
  CoverageCounter coverage_;
  std::size_t conflictLinesShown_ = 0;
  std::size_t conflictLinesLeftOut_ = 0;

  std::unique_ptr<TileSet> tiles_;
  std::unique_ptr<TileSet> exportTiles_; // the tiles in the file's order, until the screens are done
  std::unique_ptr<HiResTileTable> table_;
  std::string folder_;     // the input folder, absolute
  std::string romPath_;    // resolved in the input folder
  std::string outputPath_; // resolved in the input folder
  std::string in(const std::string& name) const { return joinPath(folder_, name); }
  // The error with a path inside the input folder named as the folder lists it.
  Error named(Error why) const {
    const std::string prefix = joinPath(folder_, "");
    if (why.path.rfind(prefix, 0) == 0) why.path.erase(0, prefix.size());
    return why;
  }
  // The pack as it is written: a new file that takes the output's place only once complete.
  std::optional<AtomicSave> output_;
  PackHeader header_{};
  std::unique_ptr<ThreadPool> pool_;
  std::unique_ptr<BuildCache> cache_; // null without the cache
  ContentDigest tilesDigest_{};       // of the tiles file used, for the screens' cache keys
  HiResWriteStats hiResStats_;
};

bool Run::execute() {
  log_.ClearLog();
  report_ = {};
  report_.scale = job_.scale;
  if (!isDirectory(job_.inputFolder)) return fail("Error: invalid input folder");
  // Files of the folder are named by joining paths: the process's working folder never changes.
  // Relative ROM and output paths resolve inside the input folder.
  folder_ = absolutePath(job_.inputFolder);
  romPath_ = resolveIn(folder_, job_.romPath);
  outputPath_ = resolveIn(folder_, job_.outputPath);

  tiles_ = createTileSet();
  if (!tiles_) return fail("Error: can't allocate memory");
  std::string noCache; // why a build that wants the cache goes without
  if (job_.useCache) {
    Result<std::unique_ptr<BuildCache>> cache = BuildCache::open(job_.cacheFolder, job_.cacheLimit);
    if (cache)
      cache_ = std::move(*cache);
    else
      noCache = cache.error().message();
  }

  if (!findTiles()) return false;
  if (!generateTiles()) return false;
  if (!replaceTiles()) return false;
  if (job_.screensOnly) {
    if (job_.store) {
      job_.store->table.reset(table_.release());
      job_.store->tiles = std::move(tiles_);
      job_.store->ledger = std::move(ledger_);
    }
    report_.success = true;
    return true;
  }
  if (!createOutput()) return false;
  if (!writeRom()) return false;
  if (!writeTiles()) return false;
  if (!writeHiRes()) return false;
  if (cache_) {
    cache_->trim();
    note(cacheLine(*cache_));
  } else if (!noCache.empty()) {
    note("Build cache: not used: " + noCache);
  }

  report_.success = true;
  log_.AppendLogLine(kBuildSuccessLine);
  return true;
}

bool Run::findTiles() {
  if (!stage(kBuildStageLines[0])) return false;
  const Result<std::vector<DirEntry>> listed = listMatching(folder_, "*.mstiles");
  if (!listed) return fail("Can't find any valid .mstiles file in the input folder", listed.error());
  // Directory entries are not filtered out: opening one fails and the next name is tried.
  for (const DirEntry& entry : *listed) {
    const Status loaded = readTilesFile(*tiles_, in(entry.name));
    if (loaded) {
      report_.tilesFile = entry.name;
      if (cache_) {
        const Result<ContentDigest> digest = contentDigestOfFile(in(entry.name));
        if (digest) tilesDigest_ = *digest; // else the screens are not cached
      }
      note(tilesUsedLine(report_));
      return true;
    }
    report_.tilesPassedOver.push_back(
        {entry.name, isDirectory(in(entry.name)) ? "a folder" : named(loaded.error()).message()});
    note(tilesPassedOverLine(report_.tilesPassedOver.back()));
  }
  return fail("Can't find any valid .mstiles file in the input folder");
}

bool Run::generateTiles() {
  if (!stage(kBuildStageLines[1])) return false;
  table_.reset(new (std::nothrow) HiResTileTable());
  if (!table_) return fail("Error: can't allocate memory");
  // The export reads the tiles file in its own order: what it draws is resolved against a copy.
  Result<std::unique_ptr<TileSet>> copy = copyTileSet(*tiles_);
  if (!copy) return fail("Error: can't allocate memory", copy.error());
  exportTiles_ = std::move(*copy);
  sortByOrderKeys(*tiles_);
  const Status generated = generateHiResTiles(*table_, *tiles_, job_.scale, &log_);
  if (!generated) return fail("Error: can't create high-resolution tiles list", generated.error());
  return true;
}

bool Run::replaceTiles() {
  if (!stage(kBuildStageLines[2])) return false;
  const std::vector<DirEntry> names = listInputFolder();
  std::vector<DirEntry> screens;
  for (const DirEntry& entry : names)
    if (wildcardMatch("*.msscreen", entry.name)) screens.push_back(entry);
  // Screens are read and their images decoded and cut on the workers, a few ahead of the one
  // being applied; the store is written here alone, screen by screen in the listing's order, so
  // the result is the same for any number of threads.
  prepareLookups(*tiles_);
  prepareLookups(*exportTiles_);
  ThreadPool* workers = pool();
  OrderedTasks<PreparedScreen> prepared(workers, workers ? 2 * std::size_t(workers->size()) : 1);
  std::deque<ScreenPlan> waiting; // the plans of the screens in `prepared`, oldest first
  const HiResTileTable& table = *table_;
  const TileSet& tiles = *tiles_;
  const TileSet* exportTiles = exportTiles_.get();
  std::size_t next = 0;
  std::uint64_t done = 0;
  while (next < screens.size() || !prepared.empty()) {
    while (next < screens.size() && !prepared.full()) {
      ScreenPlan& plan = waiting.emplace_back(planScreen(screens[next++].name, names));
      // A screen without an image is read too: its squares are what is left to paint.
      if (plan.report.image.empty()) {
        prepared.push([&table, &tiles, exportTiles, screen = in(plan.report.screen)] {
          return prepareScreen(table, tiles, screen, std::string(), std::string(), exportTiles);
        });
        continue;
      }
      prepared.push([&table, &tiles, exportTiles, cache = cache_.get(), &tilesDigest = tilesDigest_,
                     screen = in(plan.report.screen), image = in(plan.report.image),
                     alpha = in(plan.alphaPath)] {
        return prepareScreenCached(cache, tilesDigest, table, tiles, screen, image, alpha, exportTiles);
      });
    }
    if (cancelRequested(&log_)) return cancelled();
    const PreparedScreen screen = prepared.pop();
    ScreenPlan plan = std::move(waiting.front());
    waiting.pop_front();
    if (!applyScreen(std::move(plan), screen)) return false;
    reportProgress(&log_, ProgressStage::ReplacingTiles, ++done, screens.size());
  }
  exportTiles_.reset();
  if (!applySheets(screens, names)) return false;
  report_.coverage = coverage_.finish(*table_, ledger_);
  if (conflictLinesLeftOut_) note(moreConflictsLine(conflictLinesLeftOut_));
  note(summaryLine(report_));
  if (const std::string why = noArtUsedLine(report_); !why.empty()) note(why);
  if (job_.strict && report_.warnings)
    return fail(
        "Error: warnings are errors with --strict",
        makeError(ErrorCause::InvalidArgument, {}, std::to_string(report_.warnings) + " warning(s) logged"));
  return true;
}

std::vector<DirEntry> Run::listInputFolder() {
  // Image names are matched without case, in the sorted order of the listing, so the choice
  // between two names that differ only in case is the same on every machine.
  Result<std::vector<DirEntry>> listed = listMatching(folder_, "*");
  if (listed) return std::move(*listed);
  note("Warning: no screen was read: " + listed.error().message());
  return {};
}

Run::ScreenPlan Run::planScreen(const std::string& screenName, const std::vector<DirEntry>& names) const {
  ScreenPlan plan;
  ScreenReport& found = plan.report;
  found.screen = screenName;
  const std::string base = stripExtension(screenName);
  auto matching = [&](const std::string& wanted) {
    std::vector<std::string> files;
    for (const DirEntry& entry : names)
      if (equalsNoCase(entry.name, wanted) && pathKind(in(entry.name)) == PathKind::File)
        files.push_back(entry.name);
    return files;
  };
  // A PNG is preferred to a BMP.
  std::string extension = ".png";
  std::vector<std::string> images = matching(base + extension);
  if (images.empty()) {
    extension = ".bmp";
    images = matching(base + extension);
  }
  if (images.empty()) return plan;
  found.image = images.front();
  found.notTaken.assign(images.begin() + 1, images.end());
  const std::vector<std::string> alphas = matching(base + "_alpha" + extension);
  plan.alphaPath = alphas.empty() ? base + "_alpha" + extension : alphas.front();
  return plan;
}

bool Run::applyScreen(ScreenPlan plan, const PreparedScreen& prepared) {
  report_.screens.push_back(std::move(plan.report));
  ScreenReport& found = report_.screens.back();
  if (found.image.empty()) {
    found.status = ScreenStatus::NoImage;
    for (const std::string& line : screenLines(found)) note(line);
    coverage_.addScreen(found.screen, *table_, prepared, false);
    return true;
  }
  const std::size_t firstConflict = ledger_.conflicts.size();
  ledger_.screen = report_.screens.size() - 1;
  Error why;
  const Applied applied = applyPrepared(prepared, found.info, why);
  if (applied == Applied::Ended) return false;
  if (applied == Applied::Skipped) {
    found.reason = named(why).message();
    if (!found.info.screenRead)
      found.status = ScreenStatus::UnreadableScreen;
    else if (found.info.paintedFactor != 0)
      found.status = ScreenStatus::WrongScale;
    else if (why.cause == ErrorCause::OutOfMemory || why.cause == ErrorCause::InvalidArgument)
      found.status = ScreenStatus::Failed;
    else
      found.status = ScreenStatus::UnreadableImage;
  } else {
    found.status = ScreenStatus::Used;
  }
  for (const std::string& line : screenLines(found)) note(line);
  coverage_.addScreen(found.screen, *table_, prepared, found.status == ScreenStatus::Used);
  noteConflicts(firstConflict);
  return true;
}

void Run::noteConflicts(std::size_t first) {
  report_.conflicts.insert(report_.conflicts.end(), ledger_.conflicts.begin() + std::ptrdiff_t(first),
                           ledger_.conflicts.end());
  for (const std::string& line : conflictLines(report_, first)) {
    if (conflictLinesShown_ < kConflictLines) {
      note(line);
      ++conflictLinesShown_;
    } else {
      ++conflictLinesLeftOut_;
    }
  }
}

bool Run::applySheets(const std::vector<DirEntry>& screens, const std::vector<DirEntry>& names) {
  const std::vector<SheetCandidate> candidates = sheetCandidates(names, screens);
  // As screens: read and decoded on the workers, applied here in the listing's order.
  ThreadPool* workers = pool();
  OrderedTasks<PreparedSheet> prepared(workers, workers ? std::size_t(workers->size()) : 1);
  const HiResTileTable& table = *table_;
  const TileSet& tiles = *tiles_;
  std::size_t next = 0, applied = 0;
  while (next < candidates.size() || !prepared.empty()) {
    while (next < candidates.size() && !prepared.full()) {
      const SheetCandidate& candidate = candidates[next++];
      prepared.push([&table, &tiles, image = in(candidate.image), alpha = in(candidate.alpha),
                     sidecar = candidate.sidecar.empty() ? std::string() : in(candidate.sidecar)] {
        return prepareSheet(table, tiles, image, alpha, sidecar);
      });
    }
    if (cancelRequested(&log_)) return cancelled();
    const PreparedSheet sheet = prepared.pop();
    const SheetCandidate& candidate = candidates[applied++];
    if (sheet.isSheet && !applySheet(candidate, sheet)) return false;
  }
  return true;
}

bool Run::applySheet(const SheetCandidate& candidate, const PreparedSheet& sheet) {
  SheetReport& found = report_.sheets.emplace_back();
  found.image = candidate.image;
  found.map = sheet.fromChunk ? std::string("chunk") : candidate.sidecar;
  found.slotCount = sheet.slotCount;
  found.slotsNotInCapture = sheet.slotsNotInCapture;
  const std::size_t firstConflict = ledger_.conflicts.size();
  // Sheets are numbered after the screens, so conflicts name them as they name screens.
  ledger_.screen = report_.screens.size() + report_.sheets.size() - 1;
  Error why;
  const Applied applied = applyPrepared(sheet.screen, found.info, why);
  if (applied == Applied::Ended) return false;
  if (applied == Applied::Skipped) {
    found.reason = named(why).message();
    if (!found.info.imageRead)
      found.status = ScreenStatus::UnreadableImage;
    else if (found.info.paintedFactor != 0)
      found.status = ScreenStatus::WrongScale;
    else
      found.status = ScreenStatus::Failed;
  }
  for (const std::string& line : sheetLines(found)) note(line);
  noteConflicts(firstConflict);
  return true;
}

Run::Applied Run::applyPrepared(const PreparedScreen& prepared, ScreenReplaceInfo& info, Error& why) {
  const Status replaced = applyPreparedScreen(*table_, prepared, &log_, &info, &ledger_);
  why = replaced ? Error{} : replaced.error();
  if (!replaced && why.cause == ErrorCause::Cancelled) {
    cancelled();
    return Applied::Ended;
  }
  // Skipped (or without memory for a tile): nothing was written. A tile that could not be written
  // back would leave a damaged tile in the pack: that ends the build.
  if (prepared.skipped || (!replaced && why.cause == ErrorCause::OutOfMemory)) return Applied::Skipped;
  if (!replaced) {
    fail("Error: can't write high-resolution tiles", why);
    return Applied::Ended;
  }
  return Applied::Written;
}

bool Run::createOutput() {
  if (!stage(kBuildStageLines[3])) return false;
  // An existing output that may not be written stays as it is, as it would if it were opened.
  if (pathKind(outputPath_) == PathKind::File)
    if (Result<File> existing = File::openReadWrite(outputPath_); !existing)
      return fail(kCannotOpen, existing.error());
  // The pack is written to a new file in the output's folder that takes the output's place only
  // when complete, so a failed build leaves an existing pack untouched and creates no file.
  auto save = AtomicSave::begin(outputPath_, job_.replace);
  if (!save) return fail(kCannotOpen, save.error());
  output_.emplace(std::move(*save));

  std::memcpy(header_.magic, kPackMagic, sizeof header_.magic);
  header_.scale = table_->scale;
  if (Status s = output().writeAll(&header_, sizeof header_); !s) return failWrite(s.error());
  return true;
}

bool Run::openRom(File& rom, std::uint32_t& romSize) {
  Result<LoadedRom> loaded = loadOriginalRom(romPath_, hasPackMagic);
  if (!loaded) return fail("Error: invalid original ROM", loaded.error());
  const RomProbe& probe = loaded->probe;
  if (Status size = checkRomSize(probe.size, romPath_); !size)
    return fail("Error: invalid original ROM", size.error());
  if (hasPackMagic(probe.head, sizeof probe.head))
    return fail("Error: invalid original ROM",
                makeError(ErrorCause::BadFormat, romPath_, "a hi-res ROM pack, not an original ROM"));

  // The loader hands over the open file: the named ROM itself, or its unpacked copy, which has no
  // name and goes when it is closed.
  rom = std::move(loaded->file);
  if (!rom) return fail("Error: can't open original ROM file for reading");
  const Result<std::uint64_t> fileSize = rom.size();
  if (!fileSize) return fail("Error: invalid original ROM file size", fileSize.error());
  if (*fileSize > kRomMaxSize) return fail("Error: invalid original ROM file size");
  romSize = std::uint32_t(*fileSize);
  // The pack leaves a copier header out.
  if (const std::uint32_t copier = copierHeaderOf(romSize)) {
    if (Status s = rom.seek(copier); !s) return fail("Error: can't read from original ROM file", s.error());
    romSize -= copier;
  }
  return true;
}

bool Run::writeRom() {
  if (!stage(kBuildStageLines[4])) return false;
  File rom;
  std::uint32_t romSize = 0;
  if (!openRom(rom, romSize)) return false;
  RomSectionHead head{romSize, kMethodDeflate};
  if (Status s = output().writeAll(&head, sizeof head); !s) return failWrite(s.error());

  std::unique_ptr<std::uint8_t[]> piece(new (std::nothrow) std::uint8_t[kRomPiece]);
  std::unique_ptr<ICompressor> compressor(new (std::nothrow) CDeflateCompressor());
  if (!piece || !compressor) return fail("Error: can't allocate memory");

  Md5 digest;
  std::uint32_t remaining = romSize;
  while (remaining > 0) {
    if (cancelRequested(&log_)) return cancelled();
    const std::size_t n = remaining < kRomPiece ? remaining : kRomPiece;
    if (Status s = rom.readExact(piece.get(), n); !s)
      return fail("Error: can't read from original ROM file", s.error());
    if (Status written = compressor->Write(output(), piece.get(), n); !written)
      return failWrite(written.error());
    digest.update(piece.get(), n);
    remaining -= std::uint32_t(n);
    reportProgress(&log_, ProgressStage::CompressingRom, romSize - remaining, romSize);
  }
  const Md5Digest romDigest = digest.final();
  std::memcpy(header_.romDigest, romDigest.data(), romDigest.size());
  report_.romMd5 = toHex(romDigest);

  const Status finished = compressor->Finish(output());
  compressor.reset();
  (void)rom.close(); // only read: nothing is lost when closing fails
  if (!finished) return failWrite(finished.error());

  std::uint64_t position = 0;
  if (!writtenSoFar(position)) return false;
  header_.romSectionSize = std::uint32_t(position - sizeof header_);
  return true;
}

bool Run::writeTiles() {
  if (!stage(kBuildStageLines[5])) return false;
  // The pack's copy keeps the sorted order with every order key cleared.
  clearOrderKeys(*tiles_);
  const Status written = writeTilesFile(*tiles_, output());
  tiles_.reset();
  if (!written) return failWrite(written.error());
  std::uint64_t position = 0;
  if (!writtenSoFar(position)) return false;
  header_.tilesSectionSize = std::uint32_t(position - sizeof header_ - header_.romSectionSize);
  return true;
}

bool Run::writeHiRes() {
  if (!stage(kBuildStageLines[6])) return false;
  Md5Digest payloadDigest{};
  const Status written = writeHiResSection(*table_, output(), &log_, pool(), &payloadDigest, job_.encoder,
                                           cache_.get(), &hiResStats_);
  table_.reset();
  if (!written) return fail(kCannotWrite, written.error());
  if (hiResStats_.readBackFailed)
    note("Warning: " + std::to_string(hiResStats_.readBackFailed) +
         " hi-res block(s) of the fast encoder did not read back; libbz2 compressed them instead");
  report_.hiResMd5 = toHex(payloadDigest);
  std::uint64_t position = 0;
  if (!writtenSoFar(position)) return false;
  header_.hiResSectionSize =
      std::uint32_t(position - sizeof header_ - header_.romSectionSize - header_.tilesSectionSize);
  if (Status s = output().seek(0); !s) return failWrite(s.error());
  if (Status s = output().writeAll(&header_, sizeof header_); !s) return failWrite(s.error());
  // Only now does the complete pack take the output's place.
  const Status committed = output_->commit();
  if (!committed) return fail(kCannotWrite, committed.error());
  return true;
}

} // namespace

bool RunBuild(const BuildJob& job) {
  Run run(job);
  return run.execute();
}

} // namespace zelvo
