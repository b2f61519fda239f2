// The build run: seven stages from the input folder to the finished pack, one log line each.
#include "pipeline/build_driver.h"

#include "compress/md5.h"
#include "compress/rom_loader.h"
#include "compress/streams.h"
#include "pipeline/hires_tiles.h"
#include "pipeline/pack_format.h"
#include "pipeline/tile_replace.h"
#include "platform/file.h"
#include "platform/fs.h"
#include "platform/temp_files.h"
#include "platform/thread_pool.h"
#include "tiles/tile_store.h"
#include "tiles/tiles_file.h"

#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace zelvo {

namespace {

constexpr std::size_t kRomPiece = 16384;

// Makes the saved directory current again when the run ends, whatever way it ends.
class CurrentDirectoryGuard {
public:
  explicit CurrentDirectoryGuard(std::string saved) : saved_(std::move(saved)) {}
  ~CurrentDirectoryGuard() { restore(); }
  CurrentDirectoryGuard(const CurrentDirectoryGuard&) = delete;
  CurrentDirectoryGuard& operator=(const CurrentDirectoryGuard&) = delete;
  void restore() {
    if (!restored_) setCurrentDirectory(saved_);
    restored_ = true;
  }

private:
  std::string saved_;
  bool restored_ = false;
};

struct FreeTable {
  void operator()(HiResTileTable* table) const { FreeHiResTileTable(table); }
};
using TableOwner = std::unique_ptr<HiResTileTable, FreeTable>;

// A log that goes nowhere, for a job that brought none.
class NullLog : public BuildLog {
public:
  void ClearLog() override {}
  void AppendLogLine(const std::string&) override {}
  void PumpMessages() override {}
};

class Run {
public:
  explicit Run(const BuildJob& job) : job_(job), log_(job.log ? *job.log : nullLog_) {}

  bool execute();

private:
  void stage(const char* line) {
    log_.AppendLogLine(line);
    log_.PumpMessages();
  }
  bool fail(const char* line) {
    log_.AppendLogLine(line);
    return false;
  }
  // The error line, then its reason for the hosts that show one.
  bool fail(const char* line, const Error& why) {
    log_.AppendLogLine(line);
    log_.FailureReason(why);
    return false;
  }

  bool findTiles();
  bool generateTiles();
  bool replaceTiles();
  bool createOutput();
  bool writeRom();
  bool writeTiles();
  bool writeHiRes();
  // The workers of the heavy stages, started on first use; null when the job wants one thread.
  ThreadPool* pool() {
    if (!pool_ && resolveThreadCount(job_.threads) > 1) pool_ = std::make_unique<ThreadPool>(job_.threads);
    return pool_.get();
  }

  const BuildJob& job_;
  NullLog nullLog_;
  BuildLog& log_;

  std::unique_ptr<TileSet> tiles_;
  TableOwner table_;
  std::string outputPath_;   // absolute
  TempFileGuard outputTemp_; // the pack as it is written; moved over the output once complete
  File output_;
  PackHeader header_{};
  std::unique_ptr<ThreadPool> pool_;
};

bool Run::execute() {
  log_.ClearLog();
  if (!isDirectory(job_.inputFolder)) return fail("Error: invalid input folder");
  std::string saved;
  if (!getCurrentDirectory(saved)) return fail("Error: GetCurrentDirectory");
  if (!setCurrentDirectory(job_.inputFolder)) return fail("Error: SetCurrentDirectory");
  CurrentDirectoryGuard directory(saved);
  // Relative ROM and output paths resolve inside the input folder.
  outputPath_ = absolutePath(job_.outputPath);

  tiles_ = createTileSet();
  if (!tiles_) return fail("Error: can't allocate memory");

  if (!findTiles()) return false;
  if (!generateTiles()) return false;
  if (!replaceTiles()) return false;
  if (!createOutput()) return false;
  if (!writeRom()) return false;
  if (!writeTiles()) return false;
  if (!writeHiRes()) return false;

  directory.restore();
  stage("Success!");
  return true;
}

bool Run::findTiles() {
  stage("Looking for original tiles...");
  // Directory entries are not filtered out: opening one fails and the next name is tried.
  for (const DirEntry& entry : listMatching("", "*.mstiles")) {
    if (openTilesFile(*tiles_, entry.name)) return true;
  }
  return fail("Can't find any valid .mstiles file in the input folder");
}

bool Run::generateTiles() {
  stage("Creating high-resolution tiles using scale algorithm...");
  table_.reset(CreateHiResTileTable());
  if (!table_) return fail("Error: can't allocate memory");
  sortByOrderKeys(*tiles_);
  if (!GenerateHiResTiles(*table_, *tiles_, job_.scale, &log_))
    return fail("Error: can't create high-resolution tiles list");
  return true;
}

bool Run::replaceTiles() {
  stage("Replacing tiles...");
  const std::vector<DirEntry> screens = listMatching("", "*.msscreen");
  std::uint64_t done = 0;
  for (const DirEntry& screen : screens) {
    const std::string base = stripExtension(screen.name);
    std::string extension = ".png";
    if (pathKind(base + extension) != PathKind::File) {
      extension = ".bmp";
      if (pathKind(base + extension) != PathKind::File) {
        reportProgress(&log_, ProgressStage::ReplacingTiles, ++done, screens.size());
        continue;
      }
    }
    const std::string imagePath = base + extension;
    const std::string alphaPath = base + "_alpha" + extension;
    // A screen that cannot be processed is passed over silently; a tile that could not be
    // written back would leave a damaged tile in the pack, so that ends the build.
    if (replaceTilesFromScreen(*table_, *tiles_, screen.name, imagePath, alphaPath) ==
        ReplaceResult::WriteFailed)
      return fail("Error: can't write high-resolution tiles");
    reportProgress(&log_, ProgressStage::ReplacingTiles, ++done, screens.size());
  }
  return true;
}

bool Run::createOutput() {
  stage("Creating high-resolution ROM...");
  // The pack is written to a new file beside the output and moved over it only when complete,
  // so a failed build leaves an existing pack untouched and creates no file.
  const std::string folder = folderOf(outputPath_);
  std::string tempName;
  if (outputPath_.empty() || isDirectory(outputPath_) || (!folder.empty() && !isDirectory(folder)))
    return fail("Error: can't open output file for write");
  // An existing output that may not be written stays as it is, as it would if it were opened.
  if (pathKind(outputPath_) == PathKind::File && !File::openReadWrite(outputPath_))
    return fail("Error: can't open output file for write");
  if (!createTempFileIn(folder.empty() ? std::string(".") : folder, tempName))
    return fail("Error: can't open output file for write");
  outputTemp_ = TempFileGuard(tempName);
  output_ = File::create(tempName);
  if (!output_) return fail("Error: can't open output file for write");

  std::memcpy(header_.magic, kPackMagic, sizeof header_.magic);
  header_.scale = table_->scale;
  if (!output_.writeAll(&header_, sizeof header_)) return fail("Error: can't write output file");
  return true;
}

bool Run::writeRom() {
  stage("Compressing and saving original ROM...");
  RomLoadResult loaded = LoadOriginalRom(job_.romPath);
  TempFileGuard romTemp(loaded.tempName);
  const RomProbe& probe = loaded.probe;
  // A container from which nothing could be unpacked is not taken as the ROM itself.
  if (loaded.containerYieldedNothing || probe.size < kRomMinSize || probe.size > kRomMaxSize ||
      romProbeIsPack(probe))
    return fail("Error: invalid original ROM");

  File rom = File::openRead(romTemp.empty() ? job_.romPath : romTemp.name());
  if (!rom) return fail("Error: can't open original ROM file for reading");
  std::uint64_t fileSize = 0;
  if (!rom.size(fileSize) || fileSize > kRomMaxSize) return fail("Error: invalid original ROM file size");
  std::uint32_t romSize = std::uint32_t(fileSize);
  // Bit 9 of the size set: the file starts with a copier header, which the pack leaves out.
  if (romSize & kCopierHeaderSize) {
    if (!rom.seek(kCopierHeaderSize)) return fail("Error: can't read from original ROM file");
    romSize -= kCopierHeaderSize;
  }

  RomSectionHead head{romSize, kMethodDeflate};
  if (!output_.writeAll(&head, sizeof head)) return fail("Error: can't write output file");
  // The unpacked copy is read through the open handle from here on; its name goes now.
  romTemp.reset();

  std::unique_ptr<std::uint8_t[]> piece(new (std::nothrow) std::uint8_t[kRomPiece]);
  std::unique_ptr<ICompressor> compressor(new (std::nothrow) CDeflateCompressor());
  if (!piece || !compressor) return fail("Error: can't allocate memory");

  Md5 digest;
  std::uint32_t remaining = romSize;
  while (remaining > 0) {
    const std::size_t n = remaining < kRomPiece ? remaining : kRomPiece;
    if (!rom.readExact(piece.get(), n)) return fail("Error: can't read from original ROM file");
    if (!compressor->Write(output_, piece.get(), n)) return fail("Error: can't write output file");
    digest.update(piece.get(), n);
    remaining -= std::uint32_t(n);
    reportProgress(&log_, ProgressStage::CompressingRom, romSize - remaining, romSize);
  }
  const Md5Digest romDigest = digest.final();
  std::memcpy(header_.romDigest, romDigest.data(), romDigest.size());

  const bool finished = compressor->Finish(output_);
  compressor.reset();
  piece.reset();
  rom.close();
  if (!finished) return fail("Error: can't write output file");

  std::uint64_t position = 0;
  if (!output_.position(position)) return fail("Error: can't write output file");
  header_.romSectionSize = std::uint32_t(position - sizeof header_);
  return true;
}

bool Run::writeTiles() {
  stage("Compressing and saving original tiles...");
  // The pack's copy keeps the sorted order with every order key cleared.
  clearOrderKeys(*tiles_);
  const bool written = writeTilesFile(*tiles_, output_);
  tiles_.reset();
  if (!written) return fail("Error: can't write output file");
  std::uint64_t position = 0;
  if (!output_.position(position)) return fail("Error: can't write output file");
  header_.tilesSectionSize = std::uint32_t(position - sizeof header_ - header_.romSectionSize);
  return true;
}

bool Run::writeHiRes() {
  stage("Compressing and saving high-resolution tiles...");
  bool ok = WriteHiResSection(*table_, output_, &log_, pool());
  std::uint64_t position = 0;
  if (!output_.position(position)) ok = false;
  header_.hiResSectionSize =
      std::uint32_t(position - sizeof header_ - header_.romSectionSize - header_.tilesSectionSize);
  if (!output_.seek(0) || !output_.writeAll(&header_, sizeof header_)) ok = false;
  table_.reset();
  if (!output_.close()) ok = false;
  if (!ok) return fail("Error: can't write output file");
  // Only now does the complete pack take the output's place.
  giveNewFilePermissions(outputTemp_.name(), outputPath_);
  if (!replaceFile(outputTemp_.name(), outputPath_)) return fail("Error: can't write output file");
  outputTemp_.release();
  return true;
}

} // namespace

bool RunBuild(const BuildJob& job) {
  Run run(job);
  return run.execute();
}

} // namespace zelvo
