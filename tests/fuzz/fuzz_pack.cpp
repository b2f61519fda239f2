// Fuzz target: `zelvo inspect` of a pack, which checks every section by decompressing it.
#include "cli/inspect_kinds.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace zelvo;
  fuzz::InputFile input(data, size);
  Result<File> file = File::openRead(input.path());
  cli::InspectJson info;
  if (file) (void)cli::describePackFile(*file, input.path(), info);
  return 0;
}
