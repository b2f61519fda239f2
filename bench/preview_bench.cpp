// A preview of a 256 x 224 screen at scale 4 with a pack of a made-up large game (20,000 tile
// entries, built from ten screens with painted images): reading and checking the pack, drawing the
// screen with it, and the whole of `zelvo preview` (screen, pack, drawing, PNG written).
#include "synthetic_game.h"

#include "pipeline/build_driver.h"
#include "pipeline/pack_read.h"
#include "platform/atomic_save.h"
#include "platform/file.h"
#include "platform/fs.h"
#include "platform/path.h"
#include "render/image_save.h"
#include "viewer/pack_preview.h"

#include <benchmark/benchmark.h>
#include <filesystem>
#include <memory>
#include <string>

namespace {

namespace stdfs = std::filesystem;
using namespace zelvo;

class QuietLog : public BuildLog {
public:
  void ClearLog() override {}
  void AppendLogLine(const std::string&) override {}
};

// The game, its pack at scale 4, and one of its screens made 224 lines high; made once.
class PreviewGame {
public:
  PreviewGame() {
    folder_ = (stdfs::temp_directory_path() / "zelvo-bench-preview").string();
    std::error_code ec;
    stdfs::remove_all(folder_, ec);
    stdfs::create_directories(folder_, ec);
    synth::LargeGameSize size;
    size.screens = 10;
    if (ec || !synth::writeLargeGame(folder_, 4, size, 77)) return;
    QuietLog log;
    BuildJob job;
    job.log = &log;
    job.inputFolder = folder_;
    job.scale = 4;
    job.romPath = joinPath(folder_, "game.sms");
    job.outputPath = (stdfs::temp_directory_path() / "zelvo-bench-preview.zrm").string();
    if (!RunBuild(job)) return;
    pack_ = job.outputPath;
    // A screen of the whole height: its header's height field (bytes 18 and 19) lies outside the
    // payload's digest.
    Result<File> source = File::openRead(joinPath(folder_, "screen000.msscreen"));
    const Result<std::uint64_t> length = source ? source->size() : Result<std::uint64_t>(Error{});
    if (!length) return;
    std::string bytes(std::size_t(*length), '\0');
    if (!source->readExact(bytes.data(), bytes.size()) || bytes.size() < 20) return;
    bytes[18] = char(224);
    bytes[19] = 0;
    screen_ = joinPath(folder_, "full.msscreen");
    if (!saveFileAtomically(screen_, bytes.data(), bytes.size())) screen_.clear();
  }
  ~PreviewGame() {
    std::error_code ec;
    stdfs::remove_all(folder_, ec);
    stdfs::remove(pack_, ec);
  }
  bool ok() const { return !pack_.empty() && !screen_.empty(); }
  const std::string& pack() const { return pack_; }
  const std::string& screen() const { return screen_; }

  static PreviewGame& get() {
    static PreviewGame game;
    return game;
  }

private:
  std::string folder_, pack_, screen_;
};

void BM_ReadPack(benchmark::State& state) {
  PreviewGame& game = PreviewGame::get();
  if (!game.ok()) return state.SkipWithError("could not make the game and its pack");
  for (auto _ : state) {
    Result<PackTiles> pack = readPackTiles(game.pack());
    if (!pack) return state.SkipWithError(pack.error().message().c_str());
    state.counters["entries"] = double(pack->entryOffsets.size());
    state.counters["tiles"] = double(pack->tileCount);
  }
}
BENCHMARK(BM_ReadPack)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_RenderPreview(benchmark::State& state) {
  PreviewGame& game = PreviewGame::get();
  if (!game.ok()) return state.SkipWithError("could not make the game and its pack");
  Result<PackTiles> pack = readPackTiles(game.pack());
  ScreenFile screen;
  if (!pack || !readScreenFile(screen, game.screen())) return state.SkipWithError("could not load");
  for (auto _ : state) {
    Result<Preview> preview = renderPreview(screen, *pack);
    if (!preview) return state.SkipWithError(preview.error().message().c_str());
    state.counters["fromPack"] = preview->counts.fromPack;
    state.counters["replaced"] = preview->counts.replacedByArt;
    benchmark::DoNotOptimize(preview->image.pixels.get());
  }
}
BENCHMARK(BM_RenderPreview)->Unit(benchmark::kMillisecond);

// What `zelvo preview SCREEN PACK OUT.png` does from start to end.
void BM_PreviewCommand(benchmark::State& state) {
  PreviewGame& game = PreviewGame::get();
  if (!game.ok()) return state.SkipWithError("could not make the game and its pack");
  const std::string output = (stdfs::temp_directory_path() / "zelvo-bench-preview.png").string();
  for (auto _ : state) {
    ScreenFile screen;
    Result<PackTiles> pack = readPackTiles(game.pack());
    if (!pack || !readScreenFile(screen, game.screen())) return state.SkipWithError("could not load");
    Result<Preview> preview = renderPreview(screen, *pack);
    if (!preview || !saveImageAtomically(preview->image, ImageFormat::Png, output))
      return state.SkipWithError("could not write");
  }
  (void)deleteFile(output);
}
BENCHMARK(BM_PreviewCommand)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace
