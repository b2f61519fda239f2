// Replays saved inputs through a fuzz target without the fuzzing engine, as an ordinary test:
// every file named on the command line and every file of the folders named there (a missing
// folder is skipped) goes to LLVMFuzzerTestOneInput once. Fails when no input is found, when the
// process's peak memory goes above --limit-mb, or (outside AddressSanitizer, which owns malloc)
// when one allocation asks for more than that: readers and the libraries they drive take memory
// as the data arrive, never on a size the file claims.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/resource.h>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {
std::size_t limitBytes = 0;
std::string currentInput;
} // namespace

#ifndef __SANITIZE_ADDRESS__
// glibc's allocator under its own names; `new` and the compression libraries come through here.
extern "C" void* __libc_malloc(std::size_t size);
extern "C" void* __libc_calloc(std::size_t count, std::size_t size);

namespace {
void checkAllocation(std::size_t size) {
  if (limitBytes > 0 && size > limitBytes) {
    std::fprintf(stderr, "%s: one allocation of %zu bytes, above the limit\n", currentInput.c_str(), size);
    std::abort();
  }
}
} // namespace

extern "C" void* malloc(std::size_t size) noexcept {
  checkAllocation(size);
  return __libc_malloc(size);
}
extern "C" void* calloc(std::size_t count, std::size_t size) noexcept {
  std::size_t total = 0;
  checkAllocation(__builtin_mul_overflow(count, size, &total) ? SIZE_MAX : total);
  return __libc_calloc(count, size);
}
#endif

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  const std::string limitOption = "--limit-mb=";
  long limitMb = 0;
  std::vector<fs::path> inputs;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument.rfind(limitOption, 0) == 0) {
      limitMb = std::stol(argument.substr(limitOption.size()));
      continue;
    }
    std::error_code ec;
    if (fs::is_regular_file(argument, ec)) inputs.push_back(argument);
    for (const auto& entry : fs::directory_iterator(argument, ec))
      if (entry.is_regular_file() && entry.path().filename().string()[0] != '.')
        inputs.push_back(entry.path());
  }
  if (inputs.empty()) {
    std::fprintf(stderr, "no inputs found\n");
    return 1;
  }
  std::sort(inputs.begin(), inputs.end());
  for (const fs::path& path : inputs) {
    std::printf("%s\n", path.c_str());
    std::fflush(stdout);
    std::ifstream in(path, std::ios::binary);
    const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
    currentInput = path.string();
    limitBytes = std::size_t(limitMb) << 20;
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    limitBytes = 0;
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    if (limitMb > 0 && usage.ru_maxrss / 1024 > limitMb) {
      std::fprintf(stderr, "%s: peak memory %ld MB, above %ld MB\n", path.c_str(), usage.ru_maxrss / 1024,
                   limitMb);
      return 1;
    }
  }
  std::printf("%zu inputs replayed\n", inputs.size());
  return 0;
}
