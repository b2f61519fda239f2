// Packs of the bundled example (examples/game and examples/game.sms), built by the `zelvo` program
// as a user builds them: with the images painted over its screens, or from its tiles and screens
// alone (every hi-res tile as the scale stage generated it).
#pragma once

#include "platform/fs.h"
#include "platform/path.h"
#include "support/cli_run.h"
#include "support/temp_dir.h"

#include <string>

namespace zelvo::test {

inline const std::string kExampleFolder = ZELVO_SOURCE_DIR "/examples/game";
inline const std::string kExampleRom = ZELVO_SOURCE_DIR "/examples/game.sms";
inline const char* const kExampleScreens[] = {"title", "level", "sprites"};

// Builds the example at `scale` into `dir` and returns the pack's path, or an empty text when the
// build failed. Without images, the tiles and screen files are first copied to a folder of their own.
inline std::string buildExamplePack(const TempDir& dir, int scale, bool withImages) {
  std::string input = kExampleFolder;
  const std::string name = (withImages ? "example" : "bare") + std::to_string(scale);
  if (!withImages) {
    input = dir.file("bare-input");
    (void)createDirectory(input);
    for (const std::string file : {"game.mstiles", "title.msscreen", "level.msscreen", "sprites.msscreen"}) {
      const std::string bytes = readFileBytes(joinPath(kExampleFolder, file));
      if (bytes.empty() || !writeFileBytes(joinPath(input, file), bytes.data(), bytes.size())) return {};
    }
  }
  const std::string pack = dir.file(name + ".zrm");
  const CliOutcome o = runZelvo(dir.path(),
                                "build '" + input + "' --rom '" + kExampleRom + "' --output '" + pack +
                                    "' --scale " + std::to_string(scale),
                                dir);
  return o.status == 0 ? pack : std::string();
}

} // namespace zelvo::test
