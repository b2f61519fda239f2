// The kinds of file that `zelvo inspect` describes. Each describer reads one file from its start
// with the readers of its format, fills `info` (one JSON object, keys in the order printed; "kind"
// first), or fails with the reader's reason why the file cannot be read. A new kind is one
// describer plus one row in the magic table of inspect_cmd.cpp.
#pragma once

#include "compress/md5.h"
#include "platform/error.h"
#include "platform/file.h"

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

namespace zelvo::cli {

using InspectJson = nlohmann::ordered_json;
using InspectDescriber = Status (*)(File& file, const std::string& path, InspectJson& info);

Status describeTilesFile(File& file, const std::string& path, InspectJson& info);
Status describeScreenFile(File& file, const std::string& path, InspectJson& info);
Status describePackFile(File& file, const std::string& path, InspectJson& info);

// Puts "digest" (lower-case hex, or null when the file stores none) and "digestOk" (whether it
// equals the payload's, or null) into `info`.
void putDigest(InspectJson& info, const Md5Digest* stored, const Md5Digest& actual);

} // namespace zelvo::cli
