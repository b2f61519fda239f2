// Writes a made-up large game for timing builds: about 20,000 tile entries over the nine groups,
// 8,000 patterns, 200 palettes and 300 screens, each with an image painted at the given scale.
//
//   make_large_game FOLDER [SCALE]
#include "synthetic_game.h"

#include "platform/fs.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fputs("usage: make_large_game FOLDER [SCALE]\n", stderr);
    return 2;
  }
  const std::string folder = argv[1];
  const int scale = argc == 3 ? std::atoi(argv[2]) : 4;
  if (scale < 1 || scale > 4) {
    std::fputs("make_large_game: SCALE must be 1 to 4\n", stderr);
    return 2;
  }
  if (!zelvo::isDirectory(folder))
    if (zelvo::Status made = zelvo::createDirectory(folder); !made) {
      std::fprintf(stderr, "make_large_game: %s\n", made.error().message().c_str());
      return 1;
    }
  if (!zelvo::synth::writeLargeGame(folder, scale, zelvo::synth::LargeGameSize{}, 2024)) {
    std::fputs("make_large_game: writing the game failed\n", stderr);
    return 1;
  }
  std::printf("large game written to %s (images at %dx)\n", folder.c_str(), scale);
  return 0;
}
