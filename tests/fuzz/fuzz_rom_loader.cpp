// Fuzz target: finding the original ROM in a plain file or in nested zip, gzip and bzip2
// containers. Whatever the input, no temporary file may outlive the load.
#include "compress/rom_loader.h"
#include "fuzz_input.h"
#include "pipeline/pack_format.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace zelvo;
  const fuzz::ScratchFolder& scratch = fuzz::ScratchFolder::instance();
  {
    fuzz::InputFile input(data, size);
    // The reason-carrying load; the unpacked copy has no name and goes with its handle.
    (void)loadOriginalRom(input.path(), hasPackMagic);
  }
  scratch.expectEmpty();
  return 0;
}
