// Fuzz target: the fast bzip2 encoder, whose every stream libbz2 must read back to the input, every
// block on its own too (a block that does not would be made again by libbz2 in a build). The
// first byte says how often the rest is repeated (1, 1, 9 or 150 times), so that short inputs
// also make long, periodic and several-block payloads (block size 1: 100k).
#include "compress/bzip2_parallel.h"
#include "fuzz_input.h"
#include "platform/file.h"
#include "platform/thread_pool.h"

#include <bzlib.h>
#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace zelvo;
  if (size < 2) return 0;
  static constexpr std::size_t kRepeats[4] = {1, 1, 9, 150};
  const std::size_t repeats = kRepeats[data[0] & 3];
  std::vector<std::uint8_t> payload;
  payload.reserve((size - 1) * repeats);
  for (std::size_t r = 0; r < repeats; ++r) payload.insert(payload.end(), data + 1, data + size);

  static ThreadPool pool(2);
  Result<File> made = File::createUnnamedIn(fuzz::ScratchFolder::instance().path());
  if (!made) std::abort();
  File& file = *made;
  ParallelBZip2Compressor compressor(&pool, 1, BZip2Encoder::Fast);
  if (!compressor.Write(file, payload.data(), payload.size()) || !compressor.Finish(file)) std::abort();
  if (compressor.blocksReadBackFailed() != 0) std::abort();

  const Result<std::uint64_t> length = file.position();
  if (!length || !file.seek(0)) std::abort();
  std::vector<char> stream(*length);
  if (!file.readExact(stream.data(), stream.size())) std::abort();
  std::vector<char> back(payload.size() + 1);
  unsigned backLength = unsigned(back.size());
  if (BZ2_bzBuffToBuffDecompress(back.data(), &backLength, stream.data(), unsigned(stream.size()), 0, 0) !=
          BZ_OK ||
      backLength != payload.size() || std::memcmp(back.data(), payload.data(), payload.size()) != 0)
    std::abort();
  return 0;
}
