// Pieces of the headers of the tiles and screen files (and of the pack, which holds a tiles file):
// the blocks that may follow a header and the refusal of flag bits no format defines.
#pragma once

#include "compress/md5.h"
#include "platform/error.h"
#include "platform/file.h"

#include <cstdint>
#include <string>

namespace zelvo {

// BadFormat: "undefined flag bits 0x10" (`where` follows, e.g. " in the hi-res section").
Error undefinedFlags(std::uint32_t bits, const std::string& path, const char* where = "");
// The blocks that may follow a tiles or screen file's header: the payload's MD5 when `digest` is
// wanted, then 16 bytes that are read and discarded when `extraBlock` is set.
Status readHeaderBlocks(File& file, Md5Digest* digest, bool extraBlock, const std::string& path);

} // namespace zelvo
