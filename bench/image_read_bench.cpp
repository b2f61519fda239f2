// Images of the largest export size (1024 x 896, a screen at 4x): a PNG with its alpha inside and
// a 24-bit BMP with its 8-bit "_alpha" BMP, written as the export writes them. Encoding them,
// decoding from memory, and loading with the alpha as tile replacement does.
#include "pipeline/tile_replace.h"
#include "platform/path.h"
#include "render/image_read.h"
#include "render/image_save.h"

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

constexpr std::uint32_t kWidth = 1024;
constexpr std::uint32_t kHeight = 896;

// The files, written once and removed at exit.
class Images {
public:
  Images() {
    folder_ = (stdfs::temp_directory_path() / "zelvo-bench-images").string();
    std::error_code ec;
    stdfs::remove_all(folder_, ec);
    stdfs::create_directories(folder_, ec);
    // Pixel art: 8 x 8 blocks of four colours at 4x, a quarter of them transparent where the
    // background shows, as in an exported screen.
    auto image = zelvo::makeRgbaImage(kWidth, kHeight);
    if (!image) return;
    std::mt19937 random(5);
    static const std::uint8_t colours[4][4] = {
        {0x10, 0x20, 0x30, 0xFF}, {0xF0, 0xE0, 0xD0, 0xFF}, {0x50, 0x80, 0xC0, 0xFF}, {0, 0, 0, 0}};
    for (std::uint32_t y = 0; y < kHeight; y += 4)
      for (std::uint32_t x = 0; x < kWidth; x += 4) {
        const std::uint8_t* c = colours[random() % 4];
        for (std::uint32_t i = 0; i < 16; ++i) std::copy_n(c, 4, image->at(x + i % 4, y + i / 4));
      }
    image_ = std::move(*image);
    ok_ = zelvo::saveImageAtomically(image_, zelvo::ImageFormat::Png, png()).ok() &&
          zelvo::saveBmpPair(image_, bmp(), alphaBmp()).ok();
  }
  ~Images() {
    std::error_code ec;
    stdfs::remove_all(folder_, ec);
  }
  bool ok() const { return ok_; }
  const zelvo::RgbaImage& image() const { return image_; }
  std::string png() const { return zelvo::joinPath(folder_, "shot.png"); }
  std::string bmp() const { return zelvo::joinPath(folder_, "shot.bmp"); }
  std::string alphaBmp() const { return zelvo::joinPath(folder_, "shot_alpha.bmp"); }

  static Images& get() {
    static Images images;
    return images;
  }

private:
  std::string folder_;
  zelvo::RgbaImage image_;
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

void BM_EncodePng(benchmark::State& state) {
  Images& images = Images::get();
  if (!images.ok()) return state.SkipWithError("cannot write the images");
  for (auto _ : state) {
    auto bytes = zelvo::encodePng(images.image(), "shot.png");
    if (!bytes) return state.SkipWithError(bytes.error().message().c_str());
    benchmark::DoNotOptimize(bytes->bytes.get());
  }
  pixelsPerIteration(state);
}
BENCHMARK(BM_EncodePng)->Unit(benchmark::kMillisecond);

void BM_EncodeBmpPair(benchmark::State& state) {
  Images& images = Images::get();
  if (!images.ok()) return state.SkipWithError("cannot write the images");
  for (auto _ : state) {
    auto colour = zelvo::encodeBmp(images.image(), "shot.bmp");
    auto alpha = zelvo::encodeAlphaBmp(images.image(), "shot_alpha.bmp");
    if (!colour || !alpha) return state.SkipWithError("the BMP pair cannot be encoded");
    benchmark::DoNotOptimize(colour->bytes.get());
    benchmark::DoNotOptimize(alpha->bytes.get());
  }
  pixelsPerIteration(state);
}
BENCHMARK(BM_EncodeBmpPair)->Unit(benchmark::kMillisecond);

} // namespace
