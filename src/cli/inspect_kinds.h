// The kinds of file that `zelvo inspect` describes. Each describer reads one file from its start,
// fills `info` (one JSON object, keys in the order printed; "kind" first) and returns true, or sets
// `error` to a sentence saying why the file cannot be read. A new kind is one describer plus one
// row in the magic table of inspect_cmd.cpp.
#pragma once

#include "compress/md5.h"
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

// Helpers for describers of compressed sections.
// The name of a CompressionMethod number ("stored", "deflate", "bzip2", "lzma"), or "unknown".
const char* compressionName(std::uint32_t method);
// Decompresses `size` bytes of `method` from the file's current position piece by piece and digests
// them; false with `error` set when the stream cannot deliver them.
bool digestSection(File& file, std::uint32_t method, std::uint64_t size, Md5Digest& digest,
                   std::string& error);
// Puts "digest" (lower-case hex, or null when the file stores none) and "digestOk" (whether it
// equals the payload's, or null) into `info`.
void putDigest(InspectJson& info, const Md5Digest* stored, const Md5Digest& actual);

} // namespace zelvo::cli
