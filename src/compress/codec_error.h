// The errors of the compression streams: a library's failing result named with its own code
// ("zlib Z_DATA_ERROR (-3): invalid block type"), and the file failing under a stream. The path is
// left empty: the caller knows which file it is.
#pragma once

#include "platform/error.h"
#include "platform/file.h"

namespace zelvo {

// Whether the stream was compressing (a failure is a failed write) or decompressing (a failure
// means damaged data). A library that ran out of memory says OutOfMemory either way.
enum class CodecSide { Compressing, Decompressing };

// zlib's result `code`, with its message when it gave one.
Error zlibError(int code, const char* message, CodecSide side);
Error bzip2Error(int code, CodecSide side);
Error lzmaError(int code, CodecSide side);

// The file under a decompressor: a read that failed, or the data ending before the stream did.
Error streamReadError(const Error& failed);
// The next input of a decompressor: up to `size` bytes of `file`, at least one; the file's end
// is the compressed data ending early.
Result<std::size_t> readStreamInput(File& file, void* buffer, std::size_t size);
// A decompressor asked for more after its stream ended.
Error streamEnded();
Error streamNoMemory(const char* codec);

} // namespace zelvo
