// One call of each library's decompressor as the pump takes it, shared by the section streams and
// the ROM loader's gzip and bzip2 copies: the stream goes on (More) or has ended (End), or the
// library's failing result as an Error. `result` keeps the library's own result either way.
#pragma once

#include "compress/stream_pump.h"

#include <bzlib.h>
#include <zlib.h>

namespace zelvo::pump {

Result<Step> inflateStep(z_stream& s, int& result);
Result<Step> bzip2DecompressStep(bz_stream& s, int& result);

} // namespace zelvo::pump
