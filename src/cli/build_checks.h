// What `zelvo build` checks before the long work starts, so that a mistyped path fails at once
// with its reason and no input is ever overwritten by the pack or the report.
#pragma once

#include "platform/error.h"
#include "platform/output_rule.h"

#include <string>

namespace zelvo::cli {

// The rule of the pack (`forReport` false) or of the report: never the ROM, nor a tiles file,
// screen file or image of the input folder, nor the other of the two; an existing pack is
// replaced by the pack, anything else only with `force`. Paths are taken as the user typed them.
OutputRule buildOutputRule(const std::string& inputFolder, const std::string& romPath,
                           const std::string& otherOutput, bool forReport, bool force);

// The input folder exists; the ROM is a regular file that can be read; the output (and the
// report, when given) passes its rule.
Status checkBuildPaths(const std::string& inputFolder, const std::string& romPath,
                       const std::string& outputPath, const std::string& reportPath, bool force);

} // namespace zelvo::cli
