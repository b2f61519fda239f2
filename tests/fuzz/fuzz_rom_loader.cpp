// Fuzz target: finding the original ROM in a plain file or in nested zip, gzip and bzip2
// containers. Whatever the input, no temporary file may outlive the load.
#include "compress/rom_loader.h"
#include "fuzz_input.h"
#include "platform/temp_files.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace zelvo;
  const fuzz::ScratchFolder& scratch = fuzz::ScratchFolder::instance();
  {
    fuzz::InputFile input(data, size);
    const RomLoadResult rom = LoadOriginalRom(input.path());
    TempFileGuard unpacked(rom.tempName);
  }
  scratch.expectEmpty();
  return 0;
}
