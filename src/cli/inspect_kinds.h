// The kinds of file that `zelvo inspect` describes. Each describer reads one file from its start
// with the readers of its format, fills `info` (one JSON object, keys in the order printed; "kind"
// first) and returns true, or sets `error` to the reader's reason why the file cannot be read. A
// new kind is one describer plus one row in the magic table of inspect_cmd.cpp.
#pragma once

#include "compress/md5.h"
#include "platform/error.h"
#include "platform/file.h"

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

namespace zelvo::cli {

using InspectJson = nlohmann::ordered_json;
using InspectDescriber = bool (*)(File& file, const std::string& path, InspectJson& info, std::string& error);

bool describeTilesFile(File& file, const std::string& path, InspectJson& info, std::string& error);
bool describeScreenFile(File& file, const std::string& path, InspectJson& info, std::string& error);
bool describePackFile(File& file, const std::string& path, InspectJson& info, std::string& error);

// Puts "digest" (lower-case hex, or null when the file stores none) and "digestOk" (whether it
// equals the payload's, or null) into `info`.
void putDigest(InspectJson& info, const Md5Digest* stored, const Md5Digest& actual);
// Sets `error` to the reader's reason (the path is printed before it) and returns false.
bool refuse(const Error& why, std::string& error);

} // namespace zelvo::cli
