// What `zelvo build` checks before the long work starts, so that a mistyped path fails at once
// with its reason and no input is ever overwritten by the pack.
#pragma once

#include "platform/error.h"

#include <string>

namespace zelvo::cli {

// The input folder exists; the ROM exists and can be read; the output's folder exists and can be
// written; the output is not the ROM, nor a tiles file, screen file or image of the input folder;
// an existing output is a pack, or `force` is set. Paths are taken as the user typed them.
Status checkBuildPaths(const std::string& inputFolder, const std::string& romPath,
                       const std::string& outputPath, bool force);

} // namespace zelvo::cli
