// A whole build of a made-up large game (about 20,000 tile entries, 8,000 patterns, 200 palettes,
// 300 screens with painted images), stage by stage, at scales 2 and 4, with one thread and with
// one per core (threads 0). tools/bench_build.sh prints the same stages beside lbzip2.
//
// Counters: seconds spent in each stage (from one log line to the next), the compression of the
// hi-res tiles as a share of the whole run, the pack size, and the process's peak resident set
// (a high-water mark: run one scale per process, with --benchmark_filter, for a figure of its own).
//
// One screen's replacement at scale 4 (a 1024 x 768 PNG): decoding its image alone, and the whole
// of it (screen read, decoding, finding the squares, cutting and comparing with the store); the
// difference is the work beyond decoding. After the first round the store holds the screen's
// tiles, so later rounds compare every tile and write none.
#include "synthetic_game.h"

#include "pipeline/build_driver.h"
#include "pipeline/hires_tiles.h"
#include "pipeline/tile_replace.h"
#include "platform/fs.h"
#include "platform/process_info.h"
#include "tiles/tiles_file.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

namespace stdfs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Notes when each line arrived.
class TimingLog : public zelvo::BuildLog {
public:
  void ClearLog() override { lines.clear(); }
  void AppendLogLine(const std::string& text) override { lines.push_back({text, Clock::now()}); }

  struct Line {
    std::string text;
    Clock::time_point at;
  };
  std::vector<Line> lines;
};

// One game folder per scale, made on first use and removed at exit.
class LargeGame {
public:
  explicit LargeGame(int scale) {
    folder_ = (stdfs::temp_directory_path() / ("zelvo-bench-game-" + std::to_string(scale))).string();
    std::error_code ec;
    stdfs::remove_all(folder_, ec);
    stdfs::create_directories(folder_, ec);
    ok_ = !ec && zelvo::synth::writeLargeGame(folder_, scale, zelvo::synth::LargeGameSize{}, 2024);
  }
  ~LargeGame() {
    std::error_code ec;
    stdfs::remove_all(folder_, ec);
  }
  bool ok() const { return ok_; }
  const std::string& folder() const { return folder_; }

  static LargeGame& at(int scale) {
    static std::map<int, std::unique_ptr<LargeGame>> games;
    auto& game = games[scale];
    if (!game) game = std::make_unique<LargeGame>(scale);
    return *game;
  }

private:
  std::string folder_;
  bool ok_ = false;
};

double secondsBetween(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

void BM_FullBuild(benchmark::State& state) {
  const int scale = int(state.range(0));
  const unsigned threads = unsigned(state.range(1)); // 0: one per core
  LargeGame& game = LargeGame::at(scale);
  if (!game.ok()) {
    state.SkipWithError("could not write the large game");
    return;
  }
  const std::string pack = zelvo::joinPath(game.folder(), "out.zrm");
  TimingLog log;
  // Stage names as counters, in the order of the run.
  const char* names[] = {"find", "generate", "replace", "create", "rom", "tiles", "hires"};
  std::vector<double> totals(7, 0.0);
  double whole = 0;
  for (auto _ : state) {
    zelvo::BuildJob job;
    job.log = &log;
    job.inputFolder = game.folder();
    job.scale = std::uint8_t(scale);
    job.romPath = zelvo::joinPath(game.folder(), "game.sms");
    job.outputPath = pack;
    job.threads = threads;
    const auto start = Clock::now();
    const bool built = zelvo::RunBuild(job);
    const auto end = Clock::now();
    if (!built || log.lines.size() != 8) {
      state.SkipWithError(("build failed: " + (log.lines.empty() ? "" : log.lines.back().text)).c_str());
      return;
    }
    for (int i = 0; i < 7; ++i) totals[i] += secondsBetween(log.lines[i].at, log.lines[i + 1].at);
    whole += secondsBetween(start, end);
  }
  const double runs = double(state.iterations());
  for (int i = 0; i < 7; ++i) state.counters[std::string("s_") + names[i]] = totals[i] / runs;
  state.counters["hires_share_pct"] = whole > 0 ? 100.0 * totals[6] / whole : 0;
  state.counters["pack_MiB"] = double(stdfs::file_size(pack)) / (1024.0 * 1024.0);
  state.counters["peak_rss_MiB"] = double(zelvo::peakResidentBytes()) / (1024.0 * 1024.0);
}
BENCHMARK(BM_FullBuild)
    ->ArgsProduct({{2, 4}, {1, 0}})
    ->ArgNames({"scale", "threads"})
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

void BM_ScreenImageDecodeOnly(benchmark::State& state) {
  LargeGame& game = LargeGame::at(4);
  if (!game.ok()) return state.SkipWithError("could not write the large game");
  const std::string image = zelvo::joinPath(game.folder(), "screen000.png");
  for (auto _ : state) {
    auto loaded = zelvo::loadImageWithAlpha(image, zelvo::joinPath(game.folder(), "screen000_alpha.png"));
    if (!loaded) return state.SkipWithError(loaded.error().message().c_str());
    benchmark::DoNotOptimize(loaded->pixels.get());
  }
}
BENCHMARK(BM_ScreenImageDecodeOnly)->Unit(benchmark::kMillisecond);

void BM_ScreenReplacement(benchmark::State& state) {
  LargeGame& game = LargeGame::at(4);
  if (!game.ok()) return state.SkipWithError("could not write the large game");
  std::unique_ptr<zelvo::TileSet> tiles = zelvo::createTileSet();
  if (!tiles || !zelvo::readTilesFile(*tiles, zelvo::joinPath(game.folder(), "game.mstiles")))
    return state.SkipWithError("cannot read the tiles file");
  zelvo::sortByOrderKeys(*tiles);
  zelvo::prepareLookups(*tiles);
  auto table = std::make_unique<zelvo::HiResTileTable>();
  if (!zelvo::generateHiResTiles(*table, *tiles, 4)) return state.SkipWithError("cannot generate");
  const std::string screen = zelvo::joinPath(game.folder(), "screen000.msscreen");
  const std::string image = zelvo::joinPath(game.folder(), "screen000.png");
  const std::string alpha = zelvo::joinPath(game.folder(), "screen000_alpha.png");
  std::size_t squares = 0;
  for (auto _ : state) {
    const zelvo::PreparedScreen prepared = zelvo::prepareScreen(*table, *tiles, screen, image, alpha);
    if (prepared.skipped) return state.SkipWithError(prepared.reason.message().c_str());
    if (!zelvo::applyPreparedScreen(*table, prepared)) return state.SkipWithError("the replacement failed");
    squares = prepared.squares.size();
  }
  state.counters["squares"] = double(squares);
}
BENCHMARK(BM_ScreenReplacement)->Unit(benchmark::kMillisecond);

} // namespace
