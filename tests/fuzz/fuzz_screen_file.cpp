// Fuzz target: the screen file reader (the tiles file it looks for beside it is never there).
#include "fuzz_input.h"
#include "tiles/screen_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace zelvo;
  fuzz::InputFile input(data, size);
  std::unique_ptr<ScreenFile> screen = createScreenFile();
  Result<File> file = File::openRead(input.path());
  if (file) (void)readScreenFile(*screen, *file, fuzz::ScratchFolder::instance().path() + "/in.msscreen");
  return 0;
}
