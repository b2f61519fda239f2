// Reading an artist's image of the largest export size (1024 x 896, a screen at 4x): a PNG with
// its alpha inside and a 24-bit BMP with its 8-bit "_alpha" BMP, both written by FreeImage as the
// export writes them. Decoding from memory, loading with the alpha as tile replacement does, and
// FreeImage's load of the same files for comparison.
#include "pipeline/tile_replace.h"
#include "platform/path.h"
#include "render/freeimage_ptr.h"
#include "render/image_read.h"

#include <benchmark/benchmark.h>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace {

namespace stdfs = std::filesystem;

constexpr int kWidth = 1024;
constexpr int kHeight = 896;

// The files, written once and removed at exit.
class Images {
public:
  Images() {
    folder_ = (stdfs::temp_directory_path() / "zelvo-bench-images").string();
    std::error_code ec;
    stdfs::remove_all(folder_, ec);
    stdfs::create_directories(folder_, ec);
    zelvo::FreeImageSession session;
    // Pixel art: 8 x 8 blocks of four colours at 4x, a quarter of them transparent where the
    // background shows, as in an exported screen.
    zelvo::FiBitmap image(FreeImage_Allocate(kWidth, kHeight, 32));
    std::mt19937 random(5);
    static const std::uint32_t colours[] = {0xFF102030, 0xFFF0E0D0, 0xFF5080C0, 0x00000000};
    std::vector<std::uint32_t> block(32 * 32);
    for (int by = 0; by < kHeight / 32; ++by)
      for (int bx = 0; bx < kWidth / 32; ++bx) {
        for (int y = 0; y < 8; ++y)
          for (int x = 0; x < 8; ++x) {
            const std::uint32_t c = colours[random() % 4];
            for (int i = 0; i < 16; ++i) block[(y * 4 + i / 4) * 32 + x * 4 + i % 4] = c;
          }
        for (int y = 0; y < 32; ++y) {
          auto* line = reinterpret_cast<std::uint32_t*>(FreeImage_GetScanLine(image.get(), by * 32 + y));
          std::copy_n(&block[y * 32], 32, line + bx * 32);
        }
      }
    zelvo::FiBitmap colour(FreeImage_ConvertTo24Bits(image.get()));
    zelvo::FiBitmap alpha(FreeImage_GetChannel(image.get(), FICC_ALPHA));
    ok_ = FreeImage_Save(FIF_PNG, image.get(), png().c_str(), 0) &&
          FreeImage_Save(FIF_BMP, colour.get(), bmp().c_str(), 0) &&
          FreeImage_Save(FIF_BMP, alpha.get(), alphaBmp().c_str(), 0);
  }
  ~Images() {
    std::error_code ec;
    stdfs::remove_all(folder_, ec);
  }
  bool ok() const { return ok_; }
  std::string png() const { return zelvo::joinPath(folder_, "shot.png"); }
  std::string bmp() const { return zelvo::joinPath(folder_, "shot.bmp"); }
  std::string alphaBmp() const { return zelvo::joinPath(folder_, "shot_alpha.bmp"); }

  static Images& get() {
    static Images images;
    return images;
  }

private:
  std::string folder_;
  bool ok_ = false;
};

std::vector<std::uint8_t> fileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void pixelsPerIteration(benchmark::State& state) {
  state.SetItemsProcessed(std::int64_t(state.iterations()) * kWidth * kHeight);
}

void BM_DecodePngFromMemory(benchmark::State& state) {
  Images& images = Images::get();
  if (!images.ok()) return state.SkipWithError("cannot write the images");
  const auto bytes = fileBytes(images.png());
  state.counters["file_kB"] = double(bytes.size()) / 1024;
  for (auto _ : state) {
    auto image = zelvo::readImageFromMemory(bytes, "shot.png");
    if (!image) return state.SkipWithError(image.error().message().c_str());
    benchmark::DoNotOptimize(image->pixels.get());
  }
  pixelsPerIteration(state);
}
BENCHMARK(BM_DecodePngFromMemory)->Unit(benchmark::kMillisecond);

void BM_LoadPngWithAlpha(benchmark::State& state) {
  Images& images = Images::get();
  if (!images.ok()) return state.SkipWithError("cannot write the images");
  for (auto _ : state) {
    auto image = zelvo::loadImageWithAlpha(images.png(), "");
    if (!image) return state.SkipWithError(image.error().message().c_str());
    benchmark::DoNotOptimize(image->pixels.get());
  }
  pixelsPerIteration(state);
}
BENCHMARK(BM_LoadPngWithAlpha)->Unit(benchmark::kMillisecond);

void BM_LoadBmpPairWithAlpha(benchmark::State& state) {
  Images& images = Images::get();
  if (!images.ok()) return state.SkipWithError("cannot write the images");
  for (auto _ : state) {
    auto image = zelvo::loadImageWithAlpha(images.bmp(), images.alphaBmp());
    if (!image) return state.SkipWithError(image.error().message().c_str());
    benchmark::DoNotOptimize(image->pixels.get());
  }
  pixelsPerIteration(state);
}
BENCHMARK(BM_LoadBmpPairWithAlpha)->Unit(benchmark::kMillisecond);

// The same files through FreeImage, converted to 32 bits (the image library's own cost).
void BM_FreeImageLoadPng(benchmark::State& state) {
  Images& images = Images::get();
  if (!images.ok()) return state.SkipWithError("cannot write the images");
  zelvo::FreeImageSession session;
  for (auto _ : state) {
    zelvo::FiBitmap image(FreeImage_Load(FIF_PNG, images.png().c_str(), 0));
    benchmark::DoNotOptimize(image.get());
  }
  pixelsPerIteration(state);
}
BENCHMARK(BM_FreeImageLoadPng)->Unit(benchmark::kMillisecond);

void BM_FreeImageLoadBmpPair(benchmark::State& state) {
  Images& images = Images::get();
  if (!images.ok()) return state.SkipWithError("cannot write the images");
  zelvo::FreeImageSession session;
  for (auto _ : state) {
    zelvo::FiBitmap image(FreeImage_Load(FIF_BMP, images.bmp().c_str(), 0));
    zelvo::FiBitmap colour(FreeImage_ConvertTo32Bits(image.get()));
    zelvo::FiBitmap alpha(FreeImage_Load(FIF_BMP, images.alphaBmp().c_str(), 0));
    benchmark::DoNotOptimize(FreeImage_SetChannel(colour.get(), alpha.get(), FICC_ALPHA));
  }
  pixelsPerIteration(state);
}
BENCHMARK(BM_FreeImageLoadBmpPair)->Unit(benchmark::kMillisecond);

} // namespace
